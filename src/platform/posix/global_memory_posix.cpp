#include <cstdlib>

#include "platform/global_memory.h"

namespace vx::platform {

// No global heap here: the C heap is shared by every module of the process.
void* global_alloc_fixed(uint32_t size) { return std::calloc(1, size); }

void* global_alloc_locked(uint32_t size) { return std::calloc(1, size); }

void global_free(void* block) { std::free(block); }

}  // namespace vx::platform
