#!/usr/bin/env bash
# The filter inside GStreamer (frei0r-filter-vexolumen, from the frei0r
# wrapper of gst-plugins-bad), compared byte for byte with `vexolumen render`
# of the same frames: once with every parameter given, once with none, where
# the filter's defaults must be the preset they claim to be.
#
#   gstreamer_test.sh PLUGIN_DIR VEXOLUMEN
#
# Exit status 77 (skipped) when GStreamer or its frei0r wrapper is missing.
set -euo pipefail
plugin_dir=$(realpath "$1") vexolumen=$(realpath "$2")
for tool in gst-launch-1.0 gst-inspect-1.0 ffmpeg; do
  command -v $tool >/dev/null || { echo "$tool not installed: skipped"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# A registry of its own, so that the filter of this build is the one found.
export FREI0R_PATH=$plugin_dir GST_REGISTRY=$work/registry.bin XDG_CONFIG_HOME=$work/config LC_ALL=C
mkdir config
gst-inspect-1.0 frei0r-filter-vexolumen >/dev/null 2>&1 || {
  echo "frei0r-filter-vexolumen not found (GStreamer's frei0r wrapper: gstreamer1.0-plugins-bad): skipped"; exit 77; }

w=30 h=22 frames=3
ffmpeg -v error -f lavfi -i "testsrc2=size=${w}x${h}:rate=25" -frames:v $frames \
  -vf "format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='mod(X*9+Y*5+N*40,256)':a='255-X*3-N'" \
  -c:v png -pix_fmt rgba in.mov
ffmpeg -v error -i in.mov -f rawvideo -pix_fmt rgba in.rgba

gst() {  # gst OUT [PROPERTY=VALUE...]
  local out=$1; shift
  gst-launch-1.0 -q filesrc location=in.rgba \
    ! rawvideoparse width=$w height=$h format=rgba framerate=25/1 \
    ! frei0r-filter-vexolumen "$@" ! filesink location="$out" >gst.err 2>&1 || { cat gst.err; exit 1; }
}
render() {  # render OUT CONFIG-SET-OPTIONS...
  local out=$1; shift
  "$vexolumen" config set "$@" >/dev/null
  "$vexolumen" render in.mov host.mov --codec png -y 2>host.err || { cat host.err; exit 1; }
  ffmpeg -v error -y -i host.mov -f rawvideo -pix_fmt rgba "$out"
}
same() {
  cmp -s "$1" "$2" || { echo "$3: GStreamer's output differs from vexolumen render"; cmp "$1" "$2" | head -3; exit 1; }
  cmp -s in.rgba "$1" && { echo "$3: nothing changed"; exit 1; }
  return 0
}

# 0x804020 as fractions; each times 255 rounds back to its byte.
gst given.rgba red-angle=0.75 green-angle=0.4 blue-angle=0.6 offset-r=0.50196 offset-g=0.25098 offset-b=0.12549 \
  method=wrap left=0.2 right=0.7 top=0.3 bottom=0.8
render want.rgba --angles 50,-20,20 --offset '#804020' --method wrap --rect 0.2,0.7,0.3,0.8
same given.rgba want.rgba "every parameter"

gst defaults.rgba
render want.rgba --preset tint
same defaults.rgba want.rgba "defaults"
echo "GStreamer: $frames frames identical, with parameters and without"
