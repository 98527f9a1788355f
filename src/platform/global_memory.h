// Fixed, zero-filled blocks of the platform's global memory: blocks that a
// caller in another module can release through the library.
#pragma once

#include <cstdint>

namespace vx::platform {

// Null when the platform cannot supply the block.
void* global_alloc_fixed(uint32_t size);
// Releases a block of global_alloc_fixed; null does nothing.
void global_free(void* block);

}  // namespace vx::platform
