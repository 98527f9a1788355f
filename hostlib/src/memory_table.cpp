// The host's handle-memory table on top of malloc. A handle points at a
// small block whose first member is the data pointer, so *h is the data.
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "host_internal.h"

namespace {

struct HandleBlock {
    void* data;  // must stay first: the handle is its address
    uint32_t size;
    uint32_t locks;
};

// Sits in front of every plain pointer; sized to keep the data aligned.
struct alignas(std::max_align_t) PtrHeader {
    uint32_t size;
};

thread_local int32_t t_memError = 0;

HandleBlock* BlockOf(VxHandle h) { return reinterpret_cast<HandleBlock*>(h); }

// Never asks malloc for 0 bytes, so an empty block still has an address.
void* AllocData(uint32_t size, bool clear) {
    const size_t bytes = size ? size : 1;
    return clear ? std::calloc(1, bytes) : std::malloc(bytes);
}

void* NewPtrCommon(uint32_t size, bool clear) {
    if (static_cast<size_t>(size) > SIZE_MAX - sizeof(PtrHeader)) {
        t_memError = VXHOST_MEMFULLERR;
        return nullptr;
    }
    const size_t bytes = sizeof(PtrHeader) + size;
    void* raw = clear ? std::calloc(1, bytes) : std::malloc(bytes);
    if (!raw) {
        t_memError = VXHOST_MEMFULLERR;
        return nullptr;
    }
    auto* header = static_cast<PtrHeader*>(raw);
    header->size = size;
    t_memError = 0;
    return header + 1;
}

PtrHeader* HeaderOf(void* p) { return static_cast<PtrHeader*>(p) - 1; }

VxHandle NewHandleCommon(uint32_t size, bool clear) {
    auto* block = static_cast<HandleBlock*>(std::malloc(sizeof(HandleBlock)));
    void* data = block ? AllocData(size, clear) : nullptr;
    if (!data) {
        std::free(block);
        t_memError = VXHOST_MEMFULLERR;
        return nullptr;
    }
    *block = HandleBlock{data, size, 0};
    t_memError = 0;
    return &block->data;
}

void* VXCALL NewPtr(uint32_t size) { return NewPtrCommon(size, false); }
void* VXCALL NewPtrClear(uint32_t size) { return NewPtrCommon(size, true); }

void VXCALL DisposePtr(void* p) {
    t_memError = 0;
    if (p) std::free(HeaderOf(p));
}

uint32_t VXCALL GetPtrSize(void* p) {
    t_memError = 0;
    return p ? HeaderOf(p)->size : 0;
}

VxHandle VXCALL NewHandle(uint32_t size) { return NewHandleCommon(size, false); }
VxHandle VXCALL NewHandleClear(uint32_t size) { return NewHandleCommon(size, true); }

void VXCALL SetHandleSize(VxHandle h, uint32_t size) {
    if (!h) {
        t_memError = VXHOST_NILHANDLEERR;
        return;
    }
    HandleBlock* block = BlockOf(h);
    void* data = std::realloc(block->data, size ? size : 1);
    if (!data) {
        t_memError = VXHOST_MEMFULLERR;  // the old block is still intact
        return;
    }
    block->data = data;
    block->size = size;
    t_memError = 0;
}

uint32_t VXCALL GetHandleSize(VxHandle h) {
    if (!h) {
        t_memError = VXHOST_NILHANDLEERR;
        return 0;
    }
    t_memError = 0;
    return BlockOf(h)->size;
}

void VXCALL DisposeHandle(VxHandle h) {
    t_memError = 0;
    if (!h) return;
    HandleBlock* block = BlockOf(h);
    std::free(block->data);
    std::free(block);
}

int32_t VXCALL MemError() { return t_memError; }

// Nothing here compacts memory, so a block moves only when its owner resizes
// it; the lock count is kept but has nothing to prevent.
void VXCALL LockHandle(VxHandle h) {
    t_memError = h ? 0 : VXHOST_NILHANDLEERR;
    if (h) ++BlockOf(h)->locks;
}

void VXCALL UnlockHandle(VxHandle h) {
    t_memError = h ? 0 : VXHOST_NILHANDLEERR;
    if (h && BlockOf(h)->locks > 0) --BlockOf(h)->locks;
}

constexpr HostMemFuncs kTable = {
    NewPtr,        DisposePtr,    GetPtrSize, NewPtrClear,    NewHandle,  SetHandleSize,
    GetHandleSize, DisposeHandle, MemError,   NewHandleClear, LockHandle, UnlockHandle,
};

}  // namespace

VXHOSTAPI const HostMemFuncs* VXCALL VxHostMemFuncs(void) { return &kTable; }
