#!/usr/bin/env bash
# `make package-check`: installs the package for real, checks that FFmpeg finds
# the frei0r filter where it looks without FREI0R_PATH, that the program, its
# manual page and Kdenlive's description are in place, and removes it again.
# Not part of the test suite: it changes the system (needs root or sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
deb=$(ls -t "$build"/vexolumen_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "package-check: no package in $build (make package)"; exit 1; }
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
if dpkg-query -W -f='${Status}' vexolumen 2>/dev/null | grep -q 'install ok installed'; then
  echo "package-check: vexolumen is installed already; remove it first, so that this check does not"
  exit 1
fi

work=$(mktemp -d)
cleanup() {
  $sudo apt-get purge -y -qq vexolumen >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
echo "Installing $deb"
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "$(realpath "$deb")" >/dev/null

export XDG_CONFIG_HOME=$work/config
mkdir "$work/config"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=64x48:rate=25" -frames:v 1 "$work/in.png"
env -u FREI0R_PATH ffmpeg -nostdin -v error -i "$work/in.png" -vf frei0r=filter_name=vexolumen "$work/frei0r.png"
cmp -s "$work/in.png" "$work/frei0r.png" && { echo "package-check: the filter changed nothing"; exit 1; }
echo "ffmpeg -vf frei0r=vexolumen: ok, from $(ls /usr/lib/frei0r-1/vexolumen.so)"
vexolumen info | head -1
vexolumen config set --preset swap >/dev/null
vexolumen render "$work/in.png" "$work/out.png"
echo "vexolumen render: ok"
man -w vexolumen
ls /usr/share/kdenlive/effects/frei0r_vexolumen.xml /usr/share/bash-completion/completions/vexolumen
echo "Removing the package"
