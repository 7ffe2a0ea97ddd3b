#!/usr/bin/env bash
# FFmpeg 5.1 hands frei0r filters frames whose rows are padded to 64 bytes
# while frei0r rows have none, so only widths that are a multiple of 16 come
# out right. The workaround the README gives: pad to such a width before the
# filter, crop after, and give left and right as fractions of the padded width.
# Checked byte for byte against the plug-in's render at the real width.
#
#   ffmpeg_padding_test.sh WIDTH PLUGIN_DIR PLUGIN_RENDER
#
# Exit status 77 (skipped) only when ffmpeg is missing.
set -euo pipefail
w=$1 plugin_dir=$(realpath "$2") plugin_render=$(realpath "$3")
command -v ffmpeg >/dev/null || { echo "ffmpeg not installed: skipped"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export FREI0R_PATH=$plugin_dir LC_ALL=C

h=36 frames=2
# testsrc2 makes even widths only; the crop gives odd ones.
ffmpeg -v error -f lavfi -i "testsrc2=size=$(( (w + 1) / 2 * 2 ))x${h}:rate=25" -frames:v $frames \
  -vf "format=rgba,crop=$w:$h:0:0,geq=r='r(X,Y)':g='g(X,Y)':b='mod(X*9+Y*5+N*40,256)':a='255-X/4-N'" \
  -c:v png -pix_fmt rgba in.mov
ffmpeg -v error -i in.mov -f rawvideo -pix_fmt rgba in.rgba

# The rectangle 0.2, 0.7, 0.3, 0.8 of the real frame: columns from
# trunc(w * 0.2) to trunc(w * 0.7), named by their middles in the padded one.
p=$(( (w + 15) / 16 * 16 ))
read -r left right < <(awk -v w=$w -v p=$p 'BEGIN {
  printf "%.9f %.9f\n", (int(w * 0.2) + 0.5) / p, (int(w * 0.7) + 0.5) / p }')
ffmpeg -v error -i in.mov \
  -vf "format=rgba,pad=$p:ih,frei0r=filter_name=vexolumen:filter_params=0.75|0.4|0.6|0x804020|reflect|$left|$right|0.3|0.8,crop=$w:ih:0:0" \
  -c:v png -pix_fmt rgba out.mov
ffmpeg -v error -i out.mov -f rawvideo -pix_fmt rgba out.rgba

"$plugin_render" ${w}x${h} 50,-20,20 804020 3 0.2,0.7,0.3,0.8 in.rgba want.rgba
if ! cmp -s want.rgba out.rgba; then
  echo "width $w (padded to $p): output differs from the plug-in's render"
  cmp want.rgba out.rgba | head -3 || true
  echo "sizes: $(stat -c %s want.rgba) $(stat -c %s out.rgba)"
  exit 1
fi
cmp -s in.rgba out.rgba && { echo "width $w: nothing changed"; exit 1; }
echo "width $w (padded to $p): $frames frames identical"
