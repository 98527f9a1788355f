// Process-wide values by four-character key (codec list, mutex, caches).
#include <mutex>
#include <unordered_map>

#include "host_internal.h"

namespace {

std::mutex g_mutex;
std::unordered_map<uint32_t, void*> g_values;

}  // namespace

VXHOSTAPI void* VXCALL GetClassData(uint32_t key) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = g_values.find(key);
    return it == g_values.end() ? nullptr : it->second;
}

VXHOSTAPI void VXCALL SetClassData(uint32_t key, void* value) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!value) {
        g_values.erase(key);
        return;
    }
    try {
        g_values[key] = value;
    } catch (...) {
        // Out of memory: the key stays unset and readers see null, as if never set.
    }
}
