#!/usr/bin/env bash
# Builds and runs every test: the native build with warnings as errors, the
# unit and integration tests under ctest (the install test among them), the
# same under AddressSanitizer and UndefinedBehaviorSanitizer, Release builds
# with g++ and clang++, the fuzz targets over their corpus with a short
# fuzzing run, a quick run of the benchmarks, and the 32-bit Windows build
# with its tests under Wine.
#
# Every stage ends PASS, FAIL or SKIP (with the reason); the last line counts
# them, and the exit status is non-zero when any stage failed.
set -uo pipefail
cd "$(dirname "$0")/.."

stage() { printf '\n=== %s ===\n' "$*"; }
results=()
reason_file=$(mktemp)
trap 'rm -f "$reason_file"' EXIT
# run_stage NAME CMD...: status 77 from CMD means skipped, with its reason
# in $reason_file.
run_stage() {
  local name=$1 status=0; shift
  stage "$name"
  : >"$reason_file"
  VX_SKIP_REASON_FILE=$reason_file "$@" || status=$?
  case $status in
    0) results+=("PASS $name") ;;
    77) results+=("SKIP $name: $(head -n1 "$reason_file")") ;;
    *) results+=("FAIL $name") ;;
  esac
}
skip_stage() {
  local name=$1; shift
  stage "$name"
  echo "SKIPPED: $*"
  results+=("SKIP $name: $*")
}

stage "packages"
if ! scripts/deps.sh; then
  echo "the native packages are missing: nothing can be built"
  exit 1
fi

# Stage functions chain their steps with &&: set -e does not reach into a
# function that is called as a condition.
jobs=$(nproc)
fuzz_seconds=${VX_FUZZ_SECONDS:-60}

native() {
  cmake -S . -B build-test -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_WERROR=ON -DVX_BUILD_BENCH=ON >/dev/null &&
    cmake --build build-test -j"$jobs" &&
    ctest --test-dir build-test --output-on-failure -j"$jobs"
}

sanitized() {
  cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVX_WERROR=ON \
    -DVX_SANITIZE=address,undefined >/dev/null &&
    cmake --build build-asan -j"$jobs" &&
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --test-dir build-asan --output-on-failure -j"$jobs"
}

# What a user's `cmake -DCMAKE_BUILD_TYPE=Release` gets, with warnings as errors.
release() {
  local cxx=$1 cc=$2
  cmake -S . -B "build-release-$cxx" -DCMAKE_BUILD_TYPE=Release -DVX_WERROR=ON \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc" >/dev/null &&
    cmake --build "build-release-$cxx" -j"$jobs"
}

bench_smoke() {
  VX_BENCH_SCALE=0.01 build-test/bench/vx_bench --benchmark_min_time=0.01 >/dev/null
}

run_stage "native build and tests" native
run_stage "sanitizer build and tests" sanitized
run_stage "release build (g++)" release g++ gcc
run_stage "release build (clang++)" release clang++ clang
run_stage "fuzzing" fuzz/run.sh "$fuzz_seconds"
if [ -x build-test/bench/vx_bench ]; then
  run_stage "benchmark smoke run" bench_smoke
else
  skip_stage "benchmark smoke run" "build-test/bench/vx_bench was not built"
fi
run_stage "windows cross build and install" scripts/windows.sh build
run_stage "windows export check" scripts/windows.sh exports
run_stage "windows tests under wine" scripts/windows.sh wine

stage "summary"
passed=0 failed=0 skipped=0
for r in "${results[@]}"; do
  echo "$r"
  case $r in
    PASS*) passed=$((passed + 1)) ;;
    FAIL*) failed=$((failed + 1)) ;;
    SKIP*) skipped=$((skipped + 1)) ;;
  esac
done
echo "stages: $passed passed, $failed failed, $skipped skipped"
exit $((failed > 0))
