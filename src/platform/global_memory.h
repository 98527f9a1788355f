// Fixed, zero-filled blocks of the platform's global memory: blocks that a
// caller in another module can release through the library.
#pragma once

#include <cstdint>

namespace vx::platform {

// Null when the platform cannot supply the block.
void* global_alloc_fixed(uint32_t size);
// A movable, zero-filled block, locked for as long as it lives: what the
// host's own code hands around. Null when the platform cannot supply it.
void* global_alloc_locked(uint32_t size);
// Releases a block of either kind; null does nothing.
void global_free(void* block);

}  // namespace vx::platform
