#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when
# any is missing. Safe to run again: it does nothing when all are there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config make git
  libgtest-dev libgmock-dev libbenchmark-dev
  libcairo2-dev
  qt6-base-dev qt6-tools-dev libqt6uitools6 libqt6opengl6-dev qt6-qpa-plugins libgl-dev
  libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
  frei0r-plugins-dev melt
  gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad
  clang libclang-rt-14-dev
  binutils xvfb xauth
  libzimg-dev libyuv-dev parallel time
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
