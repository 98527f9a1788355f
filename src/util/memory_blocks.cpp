// Memory blocks that cross module boundaries, and a byte fill.
#include <vxmedia/vxutil.h>

#include <cstring>

#include "platform/global_memory.h"

VXAPI void* VXCALL VxAllocData(uint32_t size) { return vx::platform::global_alloc_fixed(size); }

VXAPI void VXCALL VxDisposeData(void* block) { vx::platform::global_free(block); }

VXAPI void VXCALL VxFillMem(void* dest, uint32_t count, int32_t value) {
    if (dest == nullptr || count == 0) return;
    const auto byte = static_cast<unsigned char>(value & 0xFF);
    const uint32_t word = 0x01010101u * byte;
    auto* out = static_cast<unsigned char*>(dest);
    uint32_t i = 0;
    for (; count - i >= 4; i += 4) std::memcpy(out + i, &word, 4);
    for (; i < count; ++i) out[i] = byte;
}
