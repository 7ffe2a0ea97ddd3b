#!/usr/bin/env bash
# A project as Kdenlive writes one (producer, playlist, tractor, the effect on
# the clip with keyframed angles and rectangle) rendered by melt, compared
# frame by frame, byte for byte, with the plug-in's render at each frame's
# interpolated settings.
#
#   kdenlive_melt_test.sh PLUGIN_DIR PLUGIN_RENDER
#
# Exit status 77 (skipped) only when melt or ffmpeg is missing.
set -euo pipefail
plugin_dir=$(realpath "$1") plugin_render=$(realpath "$2")
source "$(dirname "$(realpath "$0")")/melt_render.sh"
for tool in melt ffmpeg; do
  command -v $tool >/dev/null || { echo "$tool not installed: skipped"; exit 77; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export FREI0R_PATH=$plugin_dir LC_ALL=C

w=32 h=24 frames=5
ffmpeg -v error -f lavfi -i "testsrc2=size=${w}x${h}:rate=25" -frames:v $frames \
  -vf "format=rgba,geq=r='r(X,Y)':g='g(X,Y)':b='mod(X*9+Y*5+N*40,256)':a='255-X*3-N'" \
  -c:v png -pix_fmt rgba in.mov
ffmpeg -v error -i in.mov -f rawvideo -pix_fmt rgba in.rgba

# Keyframes at 0 and 4 (0.16 s at 25 fps), in Kdenlive's time code form. The
# red angle goes 0.5 -> 1 (slider 0, 25, 50, 75, 100), left 0 -> 0.25 and
# bottom 1 -> 0.5, all exact in binary, so no frame sits on a rounding edge.
cat >project.kdenlive <<XML
<?xml version='1.0' encoding='utf-8'?>
<mlt LC_NUMERIC="C" producer="main_bin" version="7.12.0">
 <profile description="test" width="$w" height="$h" progressive="1" sample_aspect_num="1" sample_aspect_den="1"
          display_aspect_num="$w" display_aspect_den="$h" frame_rate_num="25" frame_rate_den="1" colorspace="709"/>
 <producer id="producer0" in="00:00:00.000" out="00:00:00.160">
  <property name="resource">$work/in.mov</property>
  <property name="mlt_service">avformat</property>
  <property name="kdenlive:id">2</property>
 </producer>
 <playlist id="playlist0">
  <entry producer="producer0" in="00:00:00.000" out="00:00:00.160">
   <filter id="filter0">
    <property name="mlt_service">frei0r.vexolumen</property>
    <property name="kdenlive_id">frei0r.vexolumen</property>
    <property name="red_angle">00:00:00.000=0.5;00:00:00.160=1</property>
    <property name="green_angle">0.4</property>
    <property name="blue_angle">0.6</property>
    <property name="offset">0x804020ff</property>
    <property name="method">wrap</property>
    <property name="left">00:00:00.000=0;00:00:00.160=0.25</property>
    <property name="right">0.875</property>
    <property name="top">0.25</property>
    <property name="bottom">00:00:00.000=1;00:00:00.160=0.5</property>
   </filter>
  </entry>
 </playlist>
 <tractor id="tractor0" in="00:00:00.000" out="00:00:00.160">
  <track producer="playlist0"/>
 </tractor>
</mlt>
XML
melt_render out.mov -quiet project.kdenlive \
  -consumer avformat:out.mov vcodec=png pix_fmt=rgba real_time=0 terminate_on_pause=1 || exit 1
ffmpeg -v error -i out.mov -f rawvideo -pix_fmt rgba out.rgba

frame_bytes=$((w * h * 4))
split -a 1 -d -b $frame_bytes in.rgba in.
: >want.rgba
for i in $(seq 0 $((frames - 1))); do
  # Sliders: red 25 * i; green 0.4 -> -20, blue 0.6 -> 20.
  left=$(awk "BEGIN { print 0.0625 * $i }") bottom=$(awk "BEGIN { print 1 - 0.125 * $i }")
  "$plugin_render" ${w}x${h} $((25 * i)),-20,20 804020 2 "$left,0.875,0.25,$bottom" in.$i want.$i
  cat want.$i >>want.rgba
done
if ! cmp -s want.rgba out.rgba; then
  echo "melt's render of the project differs from the plug-in's"
  cmp want.rgba out.rgba | head -3 || true
  echo "sizes: $(stat -c %s want.rgba) $(stat -c %s out.rgba)"
  exit 1
fi
# The keyframes must have moved something, or the test proves nothing.
cmp -s <(head -c $frame_bytes want.rgba) <(tail -c $frame_bytes want.rgba) && { echo "no change over time"; exit 1; }
echo "$frames keyframed frames identical"
