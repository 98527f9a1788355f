#!/usr/bin/env bash
# The main job: build the library and vxavi, then show what vxavi reads from
# a sample AVI file (made here with ffmpeg: a test pattern and a tone).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --demo

build=build-demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target vxavi >/dev/null

sample="$build/sample.avi"
if [ ! -s "$sample" ]; then
  ffmpeg -v error -y -f lavfi -i testsrc=size=320x240:rate=25 -f lavfi -i sine=frequency=440:sample_rate=44100 \
    -t 4 -c:v mpeg4 -g 25 -c:a pcm_s16le "$sample"
fi
"$build/tools/vxavi/vxavi" info "$sample"
echo
"$build/tools/vxavi/vxavi" frames "$sample" | head -n 12
