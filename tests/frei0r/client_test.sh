#!/usr/bin/env bash
# Runs the frei0r filter in a real client (ffmpeg or melt) over a small clip
# and compares the output frames, byte for byte, with the plug-in's own render
# of the same frames and settings.
#
#   client_test.sh ffmpeg|melt|melt-sliced METHOD PLUGIN_DIR PLUGIN_RENDER [VEXOLUMEN]
#
# PLUGIN_RENDER runs the plug-in's render driver on raw frames; VEXOLUMEN, when
# given, is the command-line host, which renders through the whole plug-in.
# Exit status 77 (skipped) only when the client program is missing.
set -euo pipefail
client=$1 method=$2
plugin_dir=$(realpath "$3") plugin_render=$(realpath "$4")
vexolumen=${5:+$(realpath "$5")}
source "$(dirname "$(realpath "$0")")/melt_render.sh"

tool=${client%%-*}
command -v "$tool" >/dev/null || { echo "$tool not installed"; exit 77; }
command -v ffmpeg >/dev/null || { echo "ffmpeg not installed"; exit 77; }

case $method in clamp) code=1 ;; wrap) code=2 ;; reflect) code=3 ;; *) echo "bad method $method"; exit 2 ;; esac

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export FREI0R_PATH=$plugin_dir LC_ALL=C XDG_CONFIG_HOME=$work/config
mkdir "$work/config"

# Neither side is a multiple of 8; colours sweep the cube, alpha varies.
# FFmpeg 5.1's frei0r filter pads rows to 64 bytes while frei0r rows have
# no padding, so there the width must be a multiple of 16.
w=30 h=22 frames=3
if [ "$client" = ffmpeg ]; then w=48; fi
ffmpeg -v error -f lavfi -i "testsrc2=size=${w}x${h}:rate=25" -frames:v $frames \
  -vf "format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='mod(X*9+Y*5+N*40,256)':a='255-X*3-N'" \
  -c:v png -pix_fmt rgba in.mov
ffmpeg -v error -i in.mov -f rawvideo -pix_fmt rgba in.rgba

# Settings in frei0r's units and, below, the same in the plug-in's units:
# angles 0.75, 0.4, 0.6 are sliders 50, -20, 20; a partial rectangle.
angles="0.75 0.4 0.6" offset=804020 rect="0.2 0.7 0.3 0.8"
read -r ar ag ab <<<"$angles"
read -r rl rr rt rb <<<"$rect"

case $client in
ffmpeg)
  ffmpeg -v error -i in.mov \
    -vf "frei0r=filter_name=vexolumen:filter_params=$ar|$ag|$ab|0x$offset|$method|$rl|$rr|$rt|$rb" \
    -c:v png -pix_fmt rgba out.mov
  ;;
melt|melt-sliced)
  cat >profile <<PROFILE
description=test
frame_rate_num=25
frame_rate_den=1
width=$w
height=$h
progressive=1
sample_aspect_num=1
sample_aspect_den=1
display_aspect_num=$w
display_aspect_den=$h
colorspace=709
PROFILE
  extra=()
  # Slice threading: MLT cuts each frame into bands (two of 11 rows here,
  # whatever the number of cores) and calls the filter once per band.
  if [ "$client" = melt-sliced ]; then extra=(threads=2); export MLT_SLICES_COUNT=2; fi
  melt_render out.mov -quiet -profile "$PWD/profile" in.mov out=$((frames - 1)) \
    -filter frei0r.vexolumen red_angle=$ar green_angle=$ag blue_angle=$ab offset="#$offset" \
      method=$method left=$rl right=$rr top=$rt bottom=$rb "${extra[@]}" \
    -consumer avformat:out.mov vcodec=png pix_fmt=rgba real_time=0 terminate_on_pause=1 || exit 1
  ;;
*) echo "bad client $client"; exit 2 ;;
esac
ffmpeg -v error -i out.mov -f rawvideo -pix_fmt rgba out.rgba

"$plugin_render" ${w}x${h} 50,-20,20 $offset $code "$rl,$rr,$rt,$rb" in.rgba want.rgba
if ! cmp -s want.rgba out.rgba; then
  echo "$client $method: output differs from the plug-in's render"
  cmp want.rgba out.rgba | head -3 || true
  echo "sizes: $(stat -c %s want.rgba) $(stat -c %s out.rgba)"
  exit 1
fi
if [ -n "$vexolumen" ]; then
  "$vexolumen" config set --angles 50,-20,20 --offset "#$offset" --method $method --rect "$rl,$rr,$rt,$rb" \
    --config-dir "$work/config" >/dev/null
  "$vexolumen" render in.mov host.mov --codec png --config-dir "$work/config" 2>host.err || { cat host.err; exit 1; }
  ffmpeg -v error -i host.mov -f rawvideo -pix_fmt rgba host.rgba
  if ! cmp -s want.rgba host.rgba; then
    echo "$client $method: vexolumen render differs from the plug-in's render driver"
    exit 1
  fi
fi
# The rectangle must have changed something, or the test proves nothing.
if cmp -s in.rgba out.rgba; then echo "$client $method: nothing changed"; exit 1; fi
echo "$client $method: $frames frames identical"
