#!/usr/bin/env bash
# Builds the resource-file fuzzer with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in its own build folder and runs it.
#   FUZZ_SECONDS  how long to run (default 300)
#   FUZZ_BUILD    build folder (default build-fuzz)
#   FUZZ_JOBS     parallel fuzzing processes (default 1)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${FUZZ_BUILD:-build-fuzz}
seconds=${FUZZ_SECONDS:-300}
jobs=${FUZZ_JOBS:-1}

for tool in clang clang++; do
  command -v "$tool" >/dev/null || { echo "fuzz.sh: $tool not found (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVX_FUZZ=ON
fi
cmake --build "$build" --target resfile_fuzz -j "${JOBS:-2}"

# New finds go to a work corpus in the build folder; the kept corpus seeds it.
work="$build/fuzz-corpus"
mkdir -p "$work" "$build/fuzz-artifacts"
src=$(pwd)
parallel=()
# Parallel jobs write fuzz-N.log into the current folder: keep them in the build.
[ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
echo "fuzz.sh: running resfile_fuzz for ${seconds}s (crashes go to $build/fuzz-artifacts/)"
cd "$build"
./bin/resfile_fuzz \
  -max_total_time="$seconds" -max_len=4096 -timeout=10 -rss_limit_mb=2048 \
  "${parallel[@]}" -print_final_stats=1 \
  -dict="$src/tests/fuzz/resfile.dict" -artifact_prefix=fuzz-artifacts/ \
  fuzz-corpus "$src/tests/fuzz/corpus"
