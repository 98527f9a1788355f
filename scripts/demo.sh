#!/usr/bin/env bash
# The main job: build the library and vxavi, write a short AVI file from
# nothing with the library's writer (a moving test pattern and a tone, plain
# and interleaved), then show what vxavi reads from it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --demo

build=build-demo
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVX_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target vxavi >/dev/null

vxavi="$build/tools/vxavi/vxavi"
# Prints the info of both files it writes.
"$vxavi" demo "$build/vxavi-demo.avi"
echo
# sed reads to the end: with head, vxavi could die of SIGPIPE and fail the pipe.
"$vxavi" frames "$build/vxavi-demo.avi" | sed -n 1,12p
