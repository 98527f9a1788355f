#!/bin/sh
# Builds vx_bench and vx_bench_compress in build-bench (Release) and runs
# them. Extra arguments go to vx_bench (e.g. --benchmark_filter=Index).
# VX_BENCH_SCALE=0.1 for a quick run.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-bench"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DVX_BUILD_BENCH=ON -DVX_BUILD_TESTS=OFF -DVX_WERROR=OFF >/dev/null
cmake --build "$build" --target vx_bench vx_bench_compress -j "$(nproc)"
"$build/bench/vx_bench" "$@"
exec "$build/bench/vx_bench_compress"
