#!/usr/bin/env bash
# Builds and runs every test: the native build with warnings as errors, the
# unit and integration tests under ctest, the same under AddressSanitizer and
# UndefinedBehaviorSanitizer, the fuzz targets over their corpus with a short
# fuzzing run, a quick run of the benchmarks, and the 32-bit Windows build with
# its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh

jobs=$(nproc)
fuzz_seconds=${VX_FUZZ_SECONDS:-60}

stage() { printf '\n=== %s ===\n' "$*"; }
results=()
run_stage() {
  local name=$1; shift
  stage "$name"
  if "$@"; then results+=("PASS $name"); else results+=("FAIL $name"); fi
}

native() {
  cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_WERROR=ON -DVX_BUILD_BENCH=ON >/dev/null
  cmake --build build-test -j"$jobs"
  ctest --test-dir build-test --output-on-failure -j"$jobs"
}

sanitized() {
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVX_WERROR=ON \
    -DVX_SANITIZE=address,undefined >/dev/null
  cmake --build build-asan -j"$jobs"
  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"
}

fuzz() {
  fuzz/run.sh "$fuzz_seconds"
}

windows() {
  scripts/windows.sh
}

bench_smoke() {
  VX_BENCH_SCALE=0.01 build-test/bench/vx_bench --benchmark_min_time=0.01 >/dev/null
}

run_stage "native build and tests" native
run_stage "sanitizer build and tests" sanitized
if [ -x fuzz/run.sh ]; then run_stage "fuzzing" fuzz; fi
if [ -x build-test/bench/vx_bench ]; then run_stage "benchmark smoke run" bench_smoke; fi
run_stage "windows build and tests" windows

stage "summary"
failed=0
for r in "${results[@]}"; do
  echo "$r"
  case $r in FAIL*) failed=$((failed + 1)) ;; esac
done
echo "stages: $(( ${#results[@]} - failed )) passed, $failed failed"
exit $(( failed > 0 ))
