// Fault injection and call counters for tests. Lock-free so the hooks cost
// next to nothing on every file call.
#include <atomic>

#include "host_internal.h"

namespace vxhost {

namespace {

constexpr int kKinds = 5;  // VX_FAULT_NONE .. VX_FAULT_SHORT_WRITE

// Calls of each kind still to pass before one fails; -1 when disarmed.
std::atomic<int64_t> g_countdown[kKinds] = {-1, -1, -1, -1, -1};
std::atomic<uint64_t> g_readCalls{0};

}  // namespace

bool ConsumeFault(int32_t kind) {
    if (kind <= VX_FAULT_NONE || kind >= kKinds) return false;
    std::atomic<int64_t>& left = g_countdown[kind];
    int64_t current = left.load(std::memory_order_relaxed);
    while (current >= 0) {
        // Reaching -1 disarms: each injection fails exactly one call.
        if (left.compare_exchange_weak(current, current - 1, std::memory_order_acq_rel)) {
            return current == 0;
        }
    }
    return false;
}

void CountReadCall() { g_readCalls.fetch_add(1, std::memory_order_relaxed); }

}  // namespace vxhost

VXHOSTAPI void VXCALL VxHostInjectFault(int32_t kind, uint32_t afterCalls) {
    if (kind <= VX_FAULT_NONE || kind >= vxhost::kKinds) return;
    vxhost::g_countdown[kind].store(afterCalls, std::memory_order_release);
}

VXHOSTAPI void VXCALL VxHostClearFaults(void) {
    for (auto& left : vxhost::g_countdown) left.store(-1, std::memory_order_release);
}

VXHOSTAPI uint64_t VXCALL VxHostReadCalls(void) {
    return vxhost::g_readCalls.load(std::memory_order_relaxed);
}
