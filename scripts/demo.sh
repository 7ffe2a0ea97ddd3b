#!/usr/bin/env bash
# `make demo`: from a fresh machine to a filtered sample clip. Installs what is
# missing, builds, makes a short sample with sound (or uses a shipped one),
# renders it with a preset, in a settings folder of its own, and writes a
# before/after picture of one frame.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

bash scripts/install-deps.sh
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo
fi
cmake --build "$build" --target vexolumen -j "$(nproc)"
vexolumen="$build/bin/vexolumen"

out="$build/demo"
mkdir -p "$out"
sample=resources/demo/sample.mp4
if [ ! -f "$sample" ]; then
  sample="$out/sample.mp4"
  if [ ! -f "$sample" ]; then
    echo "Making a 5-second sample clip with sound: $sample"
    ffmpeg -nostdin -v error -y \
      -f lavfi -i "testsrc2=size=960x540:rate=25:duration=5" \
      -f lavfi -i "sine=frequency=330:beep_factor=4:duration=5" \
      -c:v libx264 -pix_fmt yuv420p -crf 20 -c:a aac -b:a 128k -shortest "$sample"
  fi
fi

# Settings of its own: the user's saved settings stay as they are.
preset=${VX_DEMO_PRESET:-spotlight}
config="$out/config"
mkdir -p "$config"
"$vexolumen" config set --preset "$preset" --config-dir "$config" >/dev/null
echo "Settings (vexolumen config set --preset $preset):"
"$vexolumen" config show --config-dir "$config" | sed 's/^/  /'
result="$out/sample-vexolumen.mp4"
"$vexolumen" render "$sample" "$result" -y --progress --config-dir "$config"

# The same frame of both, side by side: before on the left, after on the right.
picture="$out/before-after.png"
ffmpeg -nostdin -v error -y -ss 2 -i "$sample" -ss 2 -i "$result" \
  -filter_complex "[0:v][1:v]hstack=inputs=2,format=rgb24" -frames:v 1 -update 1 "$picture"
echo
echo "Other looks: $vexolumen config presets (VX_DEMO_PRESET=NAME make demo shows one)."
echo "Output:       $(realpath "$result")"
echo "Before/after: $(realpath "$picture")"
