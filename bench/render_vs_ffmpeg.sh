#!/usr/bin/env bash
# Renders one clip with `vexolumen render` and with the ffmpeg command line's
# colorchannelmixer set to the same matrix (offset colour black), with the
# same decoder, colour conversions and encoder settings, in the same run, and
# prints the ratio of the two times.
#
# usage: bench/render_vs_ffmpeg.sh [BUILD]   (default build)
# Environment: VX_BENCH_SIZE (1280x720), VX_BENCH_SECONDS (10), VX_BENCH_CRF (18),
# VX_BENCH_CODEC (libx264; another encoder, e.g. ffv1, writes .mkv without a
# CRF, so that the filtering weighs more), VX_BENCH_RUNS (2; the best time of
# each side counts), VX_BENCH_ANGLES (25,-30,40: the three slider values).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
vexolumen="$build/bin/vexolumen"
[ -x "$vexolumen" ] || { echo "render_vs_ffmpeg: $vexolumen not built (make build)" >&2; exit 1; }

size=${VX_BENCH_SIZE:-1280x720}
seconds=${VX_BENCH_SECONDS:-10}
crf=${VX_BENCH_CRF:-18}
runs=${VX_BENCH_RUNS:-2}
angles=${VX_BENCH_ANGLES:-25,-30,40}
codec=${VX_BENCH_CODEC:-libx264}
if [ "$codec" = libx264 ]; then
  ext=mp4; vx_enc=(--crf "$crf"); ff_enc=(-c:v libx264 -crf "$crf" -pix_fmt yuv420p)
else
  ext=mkv; vx_enc=(--codec "$codec"); ff_enc=(-c:v "$codec")
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clip="$work/clip.mp4"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=$size:rate=25:duration=$seconds" \
  -f lavfi -i "sine=frequency=440:duration=$seconds" \
  -c:v libx264 -pix_fmt yuv420p -crf "$crf" -c:a aac -shortest "$clip"
frames=$(ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 "$clip")

# The saved settings of a private preferences folder: the angles, offset black,
# clamp, whole frame.
config="$work/config"
"$vexolumen" --config-dir "$config" config reset >/dev/null
"$vexolumen" --config-dir "$config" config set --angles "$angles" --offset '#000000' --method clamp >/dev/null

# With offset black the effect is p . M per pixel (row vector), M = Rx . Ry . Rz
# with slider s giving s / 100 * pi radians, so output channel j takes input
# channel i with weight M[i][j].
mixer=$(awk -v a="$angles" 'BEGIN {
  split(a, s, ","); pi = 3.1415926535897927
  for (k = 1; k <= 3; k++) phi[k] = s[k] / 100 * pi
  for (i = 1; i <= 3; i++) for (j = 1; j <= 3; j++) M[i, j] = (i == j)
  # Rx mixes green and blue, Ry red and blue, Rz red and green.
  for (k = 1; k <= 3; k++) {
    c = cos(phi[k]); sn = sin(phi[k])
    for (i = 1; i <= 3; i++) for (j = 1; j <= 3; j++) R[i, j] = (i == j)
    if (k == 1) { R[2,2] = c; R[2,3] = sn; R[3,2] = -sn; R[3,3] = c }
    if (k == 2) { R[1,1] = c; R[1,3] = -sn; R[3,1] = sn; R[3,3] = c }
    if (k == 3) { R[1,1] = c; R[1,2] = sn; R[2,1] = -sn; R[2,2] = c }
    for (i = 1; i <= 3; i++) for (j = 1; j <= 3; j++) {
      T[i, j] = 0
      for (m = 1; m <= 3; m++) T[i, j] += M[i, m] * R[m, j]
    }
    for (i = 1; i <= 3; i++) for (j = 1; j <= 3; j++) M[i, j] = T[i, j]
  }
  n[1] = "r"; n[2] = "g"; n[3] = "b"; out = ""
  for (j = 1; j <= 3; j++) for (i = 1; i <= 3; i++)
    out = out sprintf("%s%s%s=%.9f", (out == "" ? "" : ":"), n[j], n[i], M[i, j])
  print out
}')

now() { date +%s.%N; }
best_v=""; best_f=""; share=""
for run in $(seq "$runs"); do
  t0=$(now)
  "$vexolumen" --config-dir "$config" render "$clip" "$work/vexolumen.$ext" "${vx_enc[@]}" -y --progress \
    2>"$work/vexolumen.log"
  t1=$(now)
  ffmpeg -nostdin -v error -y -i "$clip" -sws_flags bicubic+accurate_rnd+full_chroma_int \
    -vf "colorchannelmixer=$mixer" "${ff_enc[@]}" -c:a copy "$work/ffmpeg.$ext"
  t2=$(now)
  v=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
  f=$(awk -v a="$t1" -v b="$t2" 'BEGIN { printf "%.3f", b - a }')
  if [ -z "$best_v" ] || awk -v x="$v" -v y="$best_v" 'BEGIN { exit !(x < y) }'; then
    best_v=$v
    share=$(grep -o 'plug-in [0-9.]* s ([0-9]*%)' "$work/vexolumen.log" || true)
  fi
  if [ -z "$best_f" ] || awk -v x="$f" -v y="$best_f" 'BEGIN { exit !(x < y) }'; then best_f=$f; fi
done

encoder=$codec
[ "$codec" = libx264 ] && encoder="libx264 crf $crf"
echo "clip: $size, $frames frames, $encoder, angles $angles, offset black"
echo "colorchannelmixer=$mixer"
echo "vexolumen render:          ${best_v} s  (${share:-plug-in share not reported})"
echo "ffmpeg colorchannelmixer:  ${best_f} s"
awk -v v="$best_v" -v f="$best_f" 'BEGIN { printf "ratio vexolumen / ffmpeg:  %.2f\n", v / f }'
