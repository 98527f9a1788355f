// What the benchmarks share: the size scale, the temporary folder and the
// generated input files, timing, and the table of results against goals.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "avi_gen.h"

namespace vxbench {

// VX_BENCH_SCALE (default 1) scales every input: entry and frame counts.
double scale();
uint64_t scaled(uint64_t full);

// $TMPDIR or /tmp, in a folder of its own that is removed at exit.
const std::string& temp_dir();
void remove_temp_dir();

struct TestFile {
    std::string path;
    AviLayout layout;
};

// Generated on first use.
const TestFile& tiny_classic();  // 1,000,000 frames of 16 bytes, idx1
const TestFile& tiny_odml();     // the same frames, indx over 64 ix00 chunks
const TestFile& big_classic();   // 10,000 frames of about 105 KiB (1 GiB), idx1

// Reads the whole file once so that the page cache holds it.
void warm_page_cache(const std::string& path);

// Seconds on a monotonic clock.
inline double seconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Per-round times of one contender. Other work on the machine hits single
// rounds; the median of the rounds is what the ratios are built from.
class Rounds {
public:
    void add(double seconds) { times_.push_back(seconds); }
    double median() const;

private:
    std::vector<double> times_;
};

// One line of the final summary. A later report of the same metric replaces
// the earlier one.
void report(const std::string& metric, double measured, double goal, bool atLeast,
            const std::string& detail);
void print_summary();

}  // namespace vxbench
