// vx_bench: every benchmark runs this library and its peer side by side in
// one process and reports their ratio; a summary against the goals follows.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>

#include "bench_common.h"
#include "benchmarks.h"
#include "lavf_peer.h"

int main(int argc, char** argv) {
    vxbench::lavf_quiet();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    vxbench::register_index_benchmarks();
    vxbench::register_read_benchmarks();
    vxbench::register_write_benchmarks();
    vxbench::register_edit_benchmarks();
    std::printf("# vx_bench: scale %g, %ld cores, files in %s\n", vxbench::scale(),
                sysconf(_SC_NPROCESSORS_ONLN), vxbench::temp_dir().c_str());
    std::fflush(stdout);
    benchmark::RunSpecifiedBenchmarks();
    vxbench::print_summary();
    benchmark::Shutdown();
    vxbench::remove_temp_dir();
    return 0;
}
