#!/usr/bin/env bash
# Builds the AVI reader, writer, chunk-export, frame decoder and audio decode
# fuzz targets with clang, ASan and UBSan (the libavcodec driver modules too),
# runs the seed corpus and the regression inputs once through the reader, the
# chunk exports and the frame decoder, then fuzzes for a while: three eighths
# of the time the reader, a quarter the frame decoder, a quarter the writer,
# an eighth the audio decoders. Exits non-zero when an
# input crashes, leaks, hits undefined behaviour, runs out of memory or times
# out; the input is left in build-fuzz/artifacts/.
#
# Usage: fuzz/run.sh [SECONDS]    fuzzing time of all the targets together, default 60
# Needs clang (with libFuzzer: libclang-rt-14-dev on Debian 12), cmake, ffmpeg.
# VX_FUZZ_BUILD_DIR overrides the build directory (default build-fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=${VX_FUZZ_BUILD_DIR:-build-fuzz}
fuzzer=$build/fuzz/fuzz_avi_reader
writer_fuzzer=$build/fuzz/fuzz_avi_writer
frames_fuzzer=$build/fuzz/fuzz_frame_decoder
audio_fuzzer=$build/fuzz/fuzz_audio_decode
seeds=$build/seeds
corpus=$build/corpus
writer_corpus=$build/corpus-writer
frames_corpus=$build/corpus-frames
audio_corpus=$build/corpus-audio
artifacts=$build/artifacts/
mkdir -p "$corpus" "$writer_corpus" "$frames_corpus" "$audio_corpus" "$artifacts"

# Only the fuzz targets are built: tests would need GoogleTest, and they have
# their own sanitizer build.
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_BUILD_FUZZ=ON -DVX_SANITIZE=address,undefined \
  -DVX_BUILD_TESTS=OFF -DVX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_avi_reader fuzz_avi_writer fuzz_avi_chunks \
  fuzz_frame_decoder fuzz_audio_decode make_seed_inputs

fuzz/make_seeds.sh "$seeds" "$build/fuzz/make_seed_inputs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
common=(-rss_limit_mb=2048 -timeout=30 -artifact_prefix="$artifacts" -dict=fuzz/avi.dict)

echo "=== seeds and regression inputs, once each"
"$fuzzer" "${common[@]}" -runs=0 "$seeds" fuzz/regressions

# The chunk exports on the same files: a short pass over seeds and regressions.
echo "=== chunk exports: seeds and regression inputs, once each"
"$build/fuzz/fuzz_avi_chunks" "${common[@]}" -runs=0 "$seeds" fuzz/regressions

# The frame decoder on the same files, through the libavcodec driver.
echo "=== frame decoder: seeds and regression inputs, once each"
"$frames_fuzzer" "${common[@]}" -runs=0 "$seeds" fuzz/regressions

writer_seconds=$((seconds / 4))
frames_seconds=$((seconds / 4))
audio_seconds=$((seconds / 8))
reader_seconds=$((seconds - writer_seconds - frames_seconds - audio_seconds))
echo "=== fuzzing the reader for ${reader_seconds}s"
"$fuzzer" "${common[@]}" -max_total_time="$reader_seconds" -max_len=262144 -print_final_stats=1 \
  "$corpus" "$seeds" fuzz/regressions

# Inputs stay small: each frame asked for is decoded from its key frame on.
if [ "$frames_seconds" -gt 0 ]; then
  echo "=== fuzzing the frame decoder for ${frames_seconds}s"
  "$frames_fuzzer" "${common[@]}" -max_total_time="$frames_seconds" -max_len=65536 \
    -print_final_stats=1 "$frames_corpus" "$seeds" fuzz/regressions
fi

# The writer's inputs are call sequences, not files: no seeds or dictionary.
if [ "$writer_seconds" -gt 0 ]; then
  echo "=== fuzzing the writer for ${writer_seconds}s"
  "$writer_fuzzer" -rss_limit_mb=2048 -timeout=30 -artifact_prefix="$artifacts" \
    -max_total_time="$writer_seconds" -max_len=4096 -print_final_stats=1 "$writer_corpus"
fi

# Compressed audio and its format, decoded in pieces: no seeds needed.
if [ "$audio_seconds" -gt 0 ]; then
  echo "=== fuzzing the audio decoders for ${audio_seconds}s"
  "$audio_fuzzer" -rss_limit_mb=2048 -timeout=30 -artifact_prefix="$artifacts" \
    -max_total_time="$audio_seconds" -max_len=8192 -print_final_stats=1 "$audio_corpus" \
    fuzz/regressions-audio
fi
