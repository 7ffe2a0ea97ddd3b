#!/usr/bin/env bash
# `make demo`: from a fresh machine to a filtered sample clip. Installs what is
# missing, builds, makes a short sample with sound (or uses a shipped one),
# renders it with the saved settings and says where the result is.
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

echo "Settings (vexolumen config show):"
"$vexolumen" config show | sed 's/^/  /'
result="$out/sample-vexolumen.mp4"
"$vexolumen" render "$sample" "$result" -y --progress
echo
echo "Output: $(realpath "$result")"
echo "Input:  $(realpath "$sample")"
echo "The default settings turn each colour axis half a turn, which leaves the"
echo "picture almost as it was. For a visible change try:"
echo "  $vexolumen config set --angles 50,0,0 --offset '#808080'   then: make demo"
echo "(vexolumen config reset brings the defaults back.)"
