#!/usr/bin/env bash
# Peak resident size of two large renders, measured with /usr/bin/time -v:
# 50 frames of 3840x2160 (against ffmpeg doing the same job with
# colorchannelmixer and the same encoder), and one 32767x8000 PNG.
#
# usage: bench/peak_memory.sh [BUILD]   (default build)
# Environment: VX_BENCH_4K_FRAMES (50), VX_BENCH_SKIP_HUGE (1 leaves out the PNG).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
vexolumen="$build/bin/vexolumen"
[ -x "$vexolumen" ] || { echo "peak_memory: $vexolumen not built (make build)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "peak_memory: needs /usr/bin/time (apt-get install time)" >&2; exit 1; }
frames=${VX_BENCH_4K_FRAMES:-50}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
config="$work/config"
"$vexolumen" --config-dir "$config" config set --angles 25,-30,40 --offset '#000000' >/dev/null

# Prints "peak_MB wall_s" of a command.
peak() {
  /usr/bin/time -v -o "$work/time" "$@" >/dev/null 2>"$work/job.log" || { cat "$work/job.log" >&2; exit 1; }
  awk -F': ' '/Maximum resident/ { kb = $2 } /Elapsed/ { t = $2 }
              END { n = split(t, p, ":"); s = p[n] + (n > 1 ? 60 * p[n-1] : 0) + (n > 2 ? 3600 * p[n-2] : 0)
                    printf "%8.0f MB %7.1f s", kb / 1024, s }' "$work/time"
}

ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=3840x2160:rate=25" -frames:v "$frames" \
  -c:v libx264 -preset veryfast -pix_fmt yuv420p "$work/4k.mp4"
echo "3840x2160, $frames frames, libx264 crf 23:"
echo "  vexolumen render               $(peak "$vexolumen" --config-dir "$config" render "$work/4k.mp4" "$work/out.mp4" --crf 23 -y)"
echo "  ffmpeg -vf colorchannelmixer   $(peak ffmpeg -nostdin -v error -y -i "$work/4k.mp4" \
  -vf format=gbrp,colorchannelmixer=rr=0.5:gg=0.5 -c:v libx264 -crf 23 -pix_fmt yuv420p "$work/ff.mp4")"
rm -f "$work"/*.mp4

if [ "${VX_BENCH_SKIP_HUGE:-0}" != 1 ]; then
  ffmpeg -nostdin -v error -f lavfi -i "color=c=0x336699:size=32767x8000,format=rgb24" -frames:v 1 \
    -compression_level 1 "$work/huge.png"
  echo "32767x8000 PNG to PNG (goal: at most 6 GB):"
  echo "  vexolumen render               $(peak "$vexolumen" --config-dir "$config" render "$work/huge.png" "$work/out.png" -y)"
fi
