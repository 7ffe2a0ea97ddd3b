#!/usr/bin/env bash
# Builds a fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) in its own build folder and runs it.
#   FUZZ_TARGET   resfile_fuzz (the resource-file reader, default) or
#                 host_fuzz (message sequences and host blocks through main)
#   FUZZ_SECONDS  how long to run (default 300; 0 = no time limit)
#   FUZZ_RUNS     stop after this many executions (default: no limit)
#   FUZZ_BUILD    build folder (default build-fuzz)
#   FUZZ_JOBS     parallel fuzzing processes (default 1)
#   FUZZ_TMPFS    1: run in a private mount namespace with /tmp on a tmpfs
#                 (needs root); the targets write a scratch file per input
#                 and run several times faster there
set -euo pipefail
cd "$(dirname "$0")/.."

build=${FUZZ_BUILD:-build-fuzz}
target=${FUZZ_TARGET:-resfile_fuzz}
seconds=${FUZZ_SECONDS:-300}
runs=${FUZZ_RUNS:--1}
jobs=${FUZZ_JOBS:-1}

case "$target" in
  resfile_fuzz) dict=fuzz/resfile.dict; kept=fuzz/resfile-corpus; maxlen=4096 ;;
  host_fuzz) dict=""; kept=fuzz/host-corpus; maxlen=512 ;;
  *) echo "fuzz.sh: unknown FUZZ_TARGET '$target' (resfile_fuzz or host_fuzz)" >&2; exit 2 ;;
esac

for tool in clang clang++; do
  command -v "$tool" >/dev/null || { echo "fuzz.sh: $tool not found (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVX_FUZZ=ON
fi
cmake --build "$build" --target "$target" -j "${JOBS:-2}"

# New finds go to a work corpus in the build folder; the kept corpus seeds it.
work="fuzz-corpus"
[ "$target" = resfile_fuzz ] || work="fuzz-corpus-$target"
mkdir -p "$build/$work" "$build/fuzz-artifacts"
src=$(pwd)
extra=()
# Parallel jobs write fuzz-N.log into the current folder: keep them in the build.
[ "$jobs" -gt 1 ] && extra+=(-jobs="$jobs" -workers="$jobs")
[ -n "$dict" ] && extra+=(-dict="$src/$dict")
echo "fuzz.sh: running $target for ${seconds}s, runs $runs (crashes go to $build/fuzz-artifacts/)"
cd "$build"
wrap=()
if [ "${FUZZ_TMPFS:-0}" = 1 ]; then
  wrap=(unshare -m sh -c 'mount -t tmpfs -o size=256m tmpfs /tmp && exec "$@"' fuzz)
fi
"${wrap[@]}" ./bin/"$target" \
  -max_total_time="$seconds" -runs="$runs" -max_len="$maxlen" -timeout=10 -rss_limit_mb=2048 \
  "${extra[@]}" -print_final_stats=1 -artifact_prefix=fuzz-artifacts/ \
  "$work" "$src/$kept"
