#!/usr/bin/env bash
# Clips with sound, each rendered in the same run by `vexolumen render`, by
# the ffmpeg command line as a plain re-encode, and by ffmpeg with
# colorchannelmixer set to the same matrix (offset colour black), each with
# the same decoder, encoder settings and output pixel format; once with
# libx264 and once with FFV1. 8-bit clips go through the mixer as gbrp,
# deeper ones as gbrp16le, as vexolumen takes them through the effect at 8
# and 16 bits. The jobs take turns, every job runs RUNS times and its best
# wall-clock and CPU (user + system) times count.
#
# usage: bench/render_vs_ffmpeg.sh [BUILD]   (default build)
# Environment: VX_BENCH_CLIPS ("1920x1080:8 3840x2160:8 1920x1080:10": size
# and bits of each clip), VX_BENCH_SECONDS (4), VX_BENCH_CRF (23),
# VX_BENCH_RUNS (3), VX_BENCH_ANGLES (25,-30,40: the three slider values),
# VX_BENCH_CODECS ("libx264 ffv1").
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
vexolumen="$build/bin/vexolumen"
[ -x "$vexolumen" ] || { echo "render_vs_ffmpeg: $vexolumen not built (make build)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "render_vs_ffmpeg: needs /usr/bin/time (apt-get install time)" >&2; exit 1; }

clips=${VX_BENCH_CLIPS:-1920x1080:8 3840x2160:8 1920x1080:10}
seconds=${VX_BENCH_SECONDS:-4}
crf=${VX_BENCH_CRF:-23}
runs=${VX_BENCH_RUNS:-3}
angles=${VX_BENCH_ANGLES:-25,-30,40}
codecs=${VX_BENCH_CODECS:-libx264 ffv1}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
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

# Runs a job under /usr/bin/time; prints "wall cpu".
timed() {
  /usr/bin/time -f "%e %U %S" -o "$work/time" "$@" >/dev/null 2>"$work/job.log" ||
    { cat "$work/job.log" >&2; exit 1; }
  awk '{ printf "%.2f %.2f\n", $1, $2 + $3 }' "$work/time"
}
best() { sort -n | head -1; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

echo "clips of $seconds s, H.264 with AAC sound; angles $angles, offset black; best of $runs"
echo "machine: $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the start"
printf '%-28s %-28s %7s %7s %10s %10s %9s\n' clip/codec/pixels job wall_s cpu_s wall/plain wall/mixer cpu/plain
for spec in $clips; do
  size=${spec%%:*}; bits=${spec##*:}
  if [ "$bits" = 8 ]; then clip_pix=yuv420p; mix_pix=gbrp; else clip_pix=yuv420p${bits}le; mix_pix=gbrp16le; fi
  clip="$work/clip.mp4"
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$size:rate=25:duration=$seconds" \
    -f lavfi -i "sine=frequency=440:duration=$seconds" \
    -c:v libx264 -pix_fmt "$clip_pix" -crf "$crf" -c:a aac -shortest "$clip"
  for codec in $codecs; do
    if [ "$codec" = libx264 ]; then
      ext=mp4; vx_enc=(--crf "$crf"); ff_enc=(-c:v libx264 -crf "$crf")
    else
      ext=mkv; vx_enc=(--codec "$codec"); ff_enc=(-c:v "$codec")
    fi
    # The pixel format vexolumen encodes in, for ffmpeg too.
    "$vexolumen" --config-dir "$config" render "$clip" "$work/probe.$ext" "${vx_enc[@]}" --frames 1 -y 2>/dev/null
    pix=$(ffprobe -v error -select_streams v:0 -show_entries stream=pix_fmt -of csv=p=0 "$work/probe.$ext")
    : >"$work/vx"; : >"$work/plain"; : >"$work/mixer"
    for run in $(seq "$runs"); do
      timed "$vexolumen" --config-dir "$config" render "$clip" "$work/vexolumen.$ext" "${vx_enc[@]}" -y >>"$work/vx"
      timed ffmpeg -nostdin -v error -y -i "$clip" "${ff_enc[@]}" -pix_fmt "$pix" -c:a copy "$work/plain.$ext" >>"$work/plain"
      timed ffmpeg -nostdin -v error -y -i "$clip" -sws_flags bicubic+accurate_rnd+full_chroma_int \
        -vf "format=$mix_pix,colorchannelmixer=$mixer" "${ff_enc[@]}" -pix_fmt "$pix" -c:a copy \
        "$work/mixer.$ext" >>"$work/mixer"
    done
    pw=$(cut -d' ' -f1 "$work/plain" | best); mw=$(cut -d' ' -f1 "$work/mixer" | best)
    pc=$(cut -d' ' -f2 "$work/plain" | best)
    for job in vx plain mixer; do
      w=$(cut -d' ' -f1 "$work/$job" | best); c=$(cut -d' ' -f2 "$work/$job" | best)
      case $job in vx) name="vexolumen render";; plain) name="ffmpeg plain re-encode";;
                   mixer) name="ffmpeg -vf colorchannelmixer";; esac
      printf '%-28s %-28s %7s %7s %10s %10s %9s\n' "$size/$codec/$pix" "$name" "$w" "$c" "$(ratio "$w" "$pw")" \
        "$(ratio "$w" "$mw")" "$(ratio "$c" "$pc")"
    done
  done
done
echo "colorchannelmixer=$mixer"
