// Heap use of a stretch of code, measured by wrapping the C allocator of the
// whole process (the benchmark, the media library and FFmpeg alike). While a
// measurement runs, every allocation adds its usable size and every free
// subtracts it; the peak is the largest sum seen.
#pragma once

#include <cstdint>

namespace vxbench::heap {

struct Usage {
    int64_t peak = 0;  // highest growth over the start, in bytes
    int64_t net = 0;   // growth still held at the end
};

void start();
Usage stop();
// Growth so far in the running measurement.
Usage now();

}  // namespace vxbench::heap
