#include <windows.h>

#include "platform/global_memory.h"

namespace vx::platform {

void* global_alloc_fixed(uint32_t size) {
    HGLOBAL h = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT | GMEM_SHARE, size);
    if (h == nullptr) return nullptr;
    void* block = GlobalLock(h);
    if (block == nullptr) GlobalFree(h);
    return block;
}

void* global_alloc_locked(uint32_t size) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
    if (h == nullptr) return nullptr;
    void* block = GlobalLock(h);
    if (block == nullptr) GlobalFree(h);
    return block;
}

void global_free(void* block) {
    if (block == nullptr) return;
    HGLOBAL h = GlobalHandle(block);
    if (h == nullptr) return;
    GlobalUnlock(h);
    GlobalFree(h);
}

}  // namespace vx::platform
