#!/usr/bin/env bash
# The long forms of the hardening tests (`make soak`): thousands of killed
# saves, hundreds of damaged clips, a render of 5,000 frames, hundreds of
# racing settings writers, and long replays of both fuzz targets; prints the
# figures at the end.
#   bash scripts/soak.sh [BUILD]        (default build)
#   SOAK_KILLS, SOAK_MUTANTS, SOAK_FRAMES, SOAK_FUZZ_RUNS, SOAK_RACES, SOAK_LINKS   sizes
#   SOAK_ASAN_BUILD   a -DVX_SANITIZE=ON build folder (default build-asan):
#                     when it exists, the long render also runs there under
#                     LeakSanitizer
#   SOAK_FUZZ_SECONDS seconds of libFuzzer per target through scripts/fuzz.sh
#                     (needs clang; default 0 = skip)
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build}
asan=${SOAK_ASAN_BUILD:-build-asan}
kills=${SOAK_KILLS:-3000}
mutants=${SOAK_MUTANTS:-300}
frames=${SOAK_FRAMES:-5000}
fuzzRuns=${SOAK_FUZZ_RUNS:-200000}
races=${SOAK_RACES:-300}
links=${SOAK_LINKS:-10000}
fuzzSeconds=${SOAK_FUZZ_SECONDS:-0}

[ -f "$build/CMakeCache.txt" ] || { echo "soak.sh: no build in '$build' (run make build first)" >&2; exit 1; }
cmake --build "$build" --target hardening_tests host_fuzz_smoke resfile_fuzz_smoke -j "${JOBS:-2}"

log=$(mktemp /tmp/vx-soak-XXXXXX.log)
trap 'rm -f "$log"' EXIT
step() { echo "== $1"; shift; "$@" 2>&1 | tee -a "$log"; }

bin=$build/bin
export XDG_CONFIG_HOME=$(mktemp -d /tmp/vx-soak-config-XXXXXX)
trap 'rm -f "$log"; rm -rf "$XDG_CONFIG_HOME"' EXIT

step "killed saves ($kills)" env VX_SOAK_KILLS="$kills" "$bin/hardening_tests" --gtest_filter='KilledSave.*' --gtest_brief=1
step "damaged media ($mutants)" env VX_SOAK_MUTANTS="$mutants" "$bin/hardening_tests" --gtest_filter='HostileMedia.Damaged*' --gtest_brief=1
step "long render ($frames frames)" env VX_SOAK_FRAMES="$frames" "$bin/hardening_tests" --gtest_filter='HostileMedia.LongRender*' --gtest_brief=1
step "full and read-only places" "$bin/hardening_tests" --gtest_filter='Unwritable.*' --gtest_brief=1
step "racing settings writers ($races rounds)" env VX_SOAK_RACES="$races" VX_SOAK_LOAD_RACES="$((races / 2))" \
  "$bin/hardening_tests" --gtest_filter='SettingsFiles.Racing*' --gtest_brief=1
step "planted links ($links names)" env VX_SOAK_LINKS="$links" \
  "$bin/hardening_tests" --gtest_filter='*PlantedLinks*' --gtest_brief=1
step "host messages ($fuzzRuns inputs)" "$bin/host_fuzz_smoke" -runs="$fuzzRuns" fuzz/host-corpus
step "resource files ($fuzzRuns inputs)" "$bin/resfile_fuzz_smoke" -runs="$fuzzRuns" fuzz/resfile-corpus

if [ -x "$asan/bin/hardening_tests" ]; then
  cmake --build "$asan" --target hardening_tests -j "${JOBS:-2}"
  step "long render under the sanitizers ($((frames / 5)) frames)" \
    env ASAN_OPTIONS=detect_leaks=1 VX_SOAK_FRAMES=$((frames / 5)) \
    "$asan/bin/hardening_tests" --gtest_filter='HostileMedia.LongRender*' --gtest_brief=1
else
  echo "== no sanitizer build in '$asan': skipping the leak-checked render (make test-sanitize makes one)"
fi

if [ "$fuzzSeconds" -gt 0 ]; then
  for target in resfile_fuzz host_fuzz; do
    step "libFuzzer $target (${fuzzSeconds}s)" env FUZZ_TARGET=$target FUZZ_SECONDS="$fuzzSeconds" bash scripts/fuzz.sh
  done
fi

echo
echo "== figures"
grep -E '^(killed saves|hostile media|peak resident size):|no failure$|^stat::(number_of_executed_units|average_exec_per_sec)' "$log" || true
echo "soak: all passed"
