#!/usr/bin/env bash
# Builds the AVI reader, writer and chunk-export fuzz targets with clang, ASan and UBSan,
# runs the reader's seed corpus and the regression inputs once, then fuzzes
# for a while: two thirds of the time the reader, one third the writer. Exits
# non-zero when an input crashes, leaks, hits undefined behaviour, runs out of
# memory or times out; the input is left in build-fuzz/artifacts/.
#
# Usage: fuzz/run.sh [SECONDS]    fuzzing time of both targets together, default 60
# Needs clang (with libFuzzer: libclang-rt-14-dev on Debian 12), cmake, ffmpeg.
# VX_FUZZ_BUILD_DIR overrides the build directory (default build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=${VX_FUZZ_BUILD_DIR:-build-fuzz}
fuzzer=$build/fuzz/fuzz_avi_reader
writer_fuzzer=$build/fuzz/fuzz_avi_writer
seeds=$build/seeds
corpus=$build/corpus
writer_corpus=$build/corpus-writer
artifacts=$build/artifacts/
mkdir -p "$corpus" "$writer_corpus" "$artifacts"

# Only the fuzz targets are built: tests would need GoogleTest, and they have
# their own sanitizer build.
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_BUILD_FUZZ=ON -DVX_SANITIZE=address,undefined \
  -DVX_BUILD_TESTS=OFF -DVX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_avi_reader fuzz_avi_writer fuzz_avi_chunks make_seed_inputs

fuzz/make_seeds.sh "$seeds" "$build/fuzz/make_seed_inputs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
common=(-rss_limit_mb=2048 -timeout=30 -artifact_prefix="$artifacts" -dict=fuzz/avi.dict)

echo "=== seeds and regression inputs, once each"
"$fuzzer" "${common[@]}" -runs=0 "$seeds" fuzz/regressions

# The chunk exports on the same files: a short pass over seeds and regressions.
echo "=== chunk exports: seeds and regression inputs, once each"
"$build/fuzz/fuzz_avi_chunks" "${common[@]}" -runs=0 "$seeds" fuzz/regressions

writer_seconds=$((seconds / 3))
reader_seconds=$((seconds - writer_seconds))
echo "=== fuzzing the reader for ${reader_seconds}s"
"$fuzzer" "${common[@]}" -max_total_time="$reader_seconds" -max_len=262144 -print_final_stats=1 \
  "$corpus" "$seeds" fuzz/regressions

# The writer's inputs are call sequences, not files: no seeds or dictionary.
if [ "$writer_seconds" -gt 0 ]; then
  echo "=== fuzzing the writer for ${writer_seconds}s"
  "$writer_fuzzer" -rss_limit_mb=2048 -timeout=30 -artifact_prefix="$artifacts" \
    -max_total_time="$writer_seconds" -max_len=4096 -print_final_stats=1 "$writer_corpus"
fi
