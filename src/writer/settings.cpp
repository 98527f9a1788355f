// The segment-size setting: read from the profile once per process.
#include <atomic>

#include "platform/profile.h"
#include "writer/writer_internal.h"

namespace vx::writer {

namespace {

// 0 until read. Concurrent first readers read the same key and store the
// same value, so a plain atomic store is enough.
std::atomic<uint32_t> g_segmentMiB{0};

constexpr int32_t kDefaultMiB = 2048;

uint32_t clamp_mib(uint32_t raw) {
    const auto v = static_cast<int32_t>(raw);
    if (v <= 1) return 1;
    if (v >= kDefaultMiB) return kDefaultMiB;
    return static_cast<uint32_t>(v);
}

}  // namespace

uint32_t segment_mib() {
    uint32_t mib = g_segmentMiB.load(std::memory_order_acquire);
    if (mib == 0) {
        mib = clamp_mib(platform::profile_int("Override", "AVIChunkMB", kDefaultMiB));
        g_segmentMiB.store(mib, std::memory_order_release);
    }
    return mib;
}

void set_segment_mib_for_testing(uint32_t mib) {
    g_segmentMiB.store(mib == 0 ? 0 : clamp_mib(mib), std::memory_order_release);
}

}  // namespace vx::writer
