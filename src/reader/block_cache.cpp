// The process-wide cache of 1 MiB file blocks for video frame reads.
//
// State lives in plain arrays rather than containers: the unload hook runs
// after static destructors on some systems, so nothing here may need one.
#include "reader/block_cache.h"

#include <VexaInfo.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/file.h"
#include "platform/lock.h"
#include "reader/host_file.h"

namespace vx::cache {

namespace {

using platform::LockGuard;

// Owner values of blocks that hold no file's data. A reader whose handle has
// one of these values bypasses the cache, so they never collide.
constexpr intptr_t kFree = -1;
constexpr intptr_t kLoading = -2;

constexpr uint64_t kBlockMask = ~static_cast<uint64_t>(kBlockSize - 1);

struct Block {
    intptr_t owner;
    uint64_t start;
    uint32_t valid;
    uint32_t pins;
    bool discard;
    unsigned char* buffer;
};

// What a pinned block holds, read under cacheMutex so callers need not touch
// the block's fields again without it.
struct Pinned {
    Block* block = nullptr;
    uint64_t start = 0;
    uint32_t valid = 0;
    unsigned char* buffer = nullptr;

    explicit operator bool() const { return block != nullptr; }
    bool covers(uint64_t position, uint64_t size) const {
        return position >= start && position - start + size <= valid;
    }
};

VxCriticalSection g_mutex;
std::atomic<bool> g_attached{false};
// Set with release once all blocks exist; read with acquire before using them.
std::atomic<bool> g_ready{false};
std::atomic<bool> g_failCreation{false};
std::atomic<uint64_t> g_loads{0};

Block g_blocks[kBlockCount];
// Indices into g_blocks, most recently used first. Guarded by g_mutex.
int g_order[kBlockCount];

intptr_t key_of(HANDLE h) { return reinterpret_cast<intptr_t>(h); }

bool keyable(HANDLE h) { return key_of(h) != kFree && key_of(h) != kLoading; }

void move_to_front(int orderIndex) {
    const int block = g_order[orderIndex];
    for (int i = orderIndex; i > 0; --i) g_order[i] = g_order[i - 1];
    g_order[0] = block;
}

void make_free(Block& b) {
    b.owner = kFree;
    b.start = 0;
    b.valid = 0;
    b.pins = 0;
    b.discard = false;
}

// A block that no longer belongs to its data: free at once, or at its last pin.
void drop(Block& b) {
    if (b.pins == 0) {
        make_free(b);
    } else {
        b.discard = true;
    }
}

// Caller holds g_mutex. Frees whichever block buffers exist.
void free_buffers() {
    for (Block& b : g_blocks) {
        platform::free_aligned(b.buffer);
        b.buffer = nullptr;
    }
}

bool ensure_blocks() {
    if (g_ready.load(std::memory_order_acquire)) return true;
    LockGuard guard(&g_mutex);
    if (g_ready.load(std::memory_order_relaxed)) return true;
    if (g_failCreation.load(std::memory_order_relaxed)) return false;
    for (int i = 0; i < kBlockCount; ++i) {
        Block& b = g_blocks[i];
        make_free(b);
        b.buffer = static_cast<unsigned char*>(
            platform::alloc_aligned(kBlockSize, platform::kUnbufferedAlign));
        if (b.buffer == nullptr) {
            // Stay unready; reads go to the host until memory allows the cache.
            free_buffers();
            return false;
        }
        g_order[i] = i;
    }
    g_ready.store(true, std::memory_order_release);
    return true;
}

// Opens the reader's own handle once. True when cached reads may use it;
// false sends the reader to uncached reads through its host handle.
bool ensure_handle(AviReader* reader) {
    LockGuard guard(&g_mutex);
    if (reader->cacheLockReady == 0) {
        // The name comes from the reader's record; never read past its end.
        const char* name = reader->fileName;
        const bool terminated = std::memchr(name, '\0', sizeof(reader->fileName)) != nullptr;
        reader->cacheHandle =
            terminated ? platform::open_unbuffered_reader(name) : INVALID_HANDLE_VALUE;
        // The lock is made even when the open failed, so that cacheLockReady
        // records that it was tried and a failing name is not reopened on
        // every read.
        platform::lock_init(&reader->cacheLock);
        reader->cacheLockReady = 1;
    }
    return reader->cacheHandle != INVALID_HANDLE_VALUE;
}

bool cache_usable(AviReader* reader) {
    return reader->useCache != 0 && keyable(reader->fileRef) &&
           g_attached.load(std::memory_order_acquire) && ensure_blocks() && ensure_handle(reader);
}

int direct_read(AviReader* reader, void* destination, uint32_t size, uint64_t position) {
    const auto at = static_cast<int64_t>(position);
    return VxPRead(reader->fileRef, destination, size, &at) == 0 ? 0 : 1;
}

Pinned pin(Block& b) {
    ++b.pins;
    return Pinned{&b, b.start, b.valid, b.buffer};
}

// The block holding `position` for `key`, pinned and made most recent.
Pinned find(intptr_t key, uint64_t position) {
    LockGuard guard(&g_mutex);
    for (int i = 0; i < kBlockCount; ++i) {
        Block& b = g_blocks[g_order[i]];
        if (b.owner == key && !b.discard && position >= b.start && position - b.start < b.valid) {
            move_to_front(i);
            return pin(b);
        }
    }
    return {};
}

void unpin(Block* b) {
    LockGuard guard(&g_mutex);
    if (b->pins > 0) --b->pins;
    if (b->pins == 0 && b->discard) make_free(*b);
}

// A free block, else the least recently used unpinned one, marked loading and
// pinned by the caller; null when every block is pinned.
Block* take() {
    LockGuard guard(&g_mutex);
    int chosen = -1;
    for (int i = 0; i < kBlockCount && chosen < 0; ++i) {
        if (g_blocks[g_order[i]].owner == kFree) chosen = i;
    }
    for (int i = kBlockCount - 1; i >= 0 && chosen < 0; --i) {
        if (g_blocks[g_order[i]].pins == 0) chosen = i;
    }
    if (chosen < 0) return nullptr;
    Block& b = g_blocks[g_order[chosen]];
    move_to_front(chosen);
    make_free(b);
    b.owner = kLoading;
    b.pins = 1;
    return &b;
}

enum class Load { kDone, kAllPinned, kFailed };

// Reads the block holding `position` from the reader's own handle. On kDone
// `*out` is the block, pinned; the caller unpins it.
Load load(AviReader* reader, uint64_t position, Pinned* out) {
    const intptr_t key = key_of(reader->fileRef);
    Block* b = take();
    if (b == nullptr) return Load::kAllPinned;
    const uint64_t start = position & kBlockMask;
    uint32_t got = 0;
    const bool ok = platform::read_at(reader->cacheHandle, b->buffer, kBlockSize, start, &got);

    LockGuard guard(&g_mutex);
    if (!ok || got == 0) {
        make_free(*b);
        return Load::kFailed;
    }
    g_loads.fetch_add(1, std::memory_order_relaxed);
    // An older copy of the same range (shorter, if the file has grown since)
    // must not be found any more.
    for (Block& other : g_blocks) {
        if (&other != b && other.owner == key && other.start == start && !other.discard) {
            drop(other);
        }
    }
    b->owner = key;
    b->start = start;
    b->valid = got;
    if (position - start >= got) {
        // The file ends before `position`. The block stays cached for the
        // bytes it does hold.
        b->pins = 0;
        return Load::kFailed;
    }
    *out = Pinned{b, start, got, b->buffer};
    return Load::kDone;
}

// Bytes of [position, position + left) that `p` holds, copied to `out`.
uint32_t copy_from(const Pinned& p, uint64_t position, unsigned char* out, uint32_t left) {
    const uint64_t offset = position - p.start;
    const auto n = static_cast<uint32_t>(std::min<uint64_t>(left, p.valid - offset));
    std::memcpy(out, p.buffer + offset, n);
    return n;
}

// The read loop of a cached reader. Caller holds the reader's cacheLock.
int cached_read(AviReader* reader, unsigned char* out, uint32_t size, uint64_t position) {
    const intptr_t key = key_of(reader->fileRef);
    while (size > 0) {
        Pinned p = find(key, position);
        if (!p) {
            const Load result = load(reader, position, &p);
            if (result == Load::kAllPinned) return direct_read(reader, out, size, position);
            if (result == Load::kFailed) return 1;
        }
        // A block that ends before the range does means the file ended there
        // when it was read: the next round reads the block again.
        const uint32_t copied = copy_from(p, position, out, size);
        unpin(p.block);
        out += copied;
        position += copied;
        size -= copied;
    }
    return 0;
}

bool range_ok(uint32_t size, uint64_t position) {
    return position <= static_cast<uint64_t>(INT64_MAX) - size;
}

int copy_pointer(AviReader* reader, unsigned char** out, uint32_t size, uint64_t position,
                 bool cached) {
    // The copy is sized by an index entry, which comes from the file: the
    // bytes must be there before they size an allocation.
    if (!host_file_holds(reader->fileRef, position, size)) return 1;
    auto* copy = static_cast<unsigned char*>(std::malloc(size));
    if (copy == nullptr) return 1;
    int rc;
    if (cached) {
        LockGuard readerGuard(&reader->cacheLock);
        rc = cached_read(reader, copy, size, position);
    } else {
        rc = direct_read(reader, copy, size, position);
    }
    if (rc != 0) {
        std::free(copy);
        return 1;
    }
    *out = copy;
    return 0;
}

}  // namespace

int read_into(AviReader* reader, void* destination, uint32_t size, uint64_t position) {
    if (reader == nullptr || destination == nullptr) return 1;
    if (size == 0) return 0;
    if (!range_ok(size, position)) return 1;
    if (!cache_usable(reader)) return direct_read(reader, destination, size, position);
    LockGuard readerGuard(&reader->cacheLock);
    return cached_read(reader, static_cast<unsigned char*>(destination), size, position);
}

int read_pointer(AviReader* reader, unsigned char** out, uint32_t size, uint64_t position,
                 bool noCopy) {
    if (out == nullptr) return 1;
    *out = nullptr;
    if (reader == nullptr) return 1;
    // Nothing to point at; release_pointer(nullptr) is harmless.
    if (size == 0) return 0;
    if (!range_ok(size, position)) return 1;
    const bool cached = cache_usable(reader);
    // Strictly inside one block: a frame ending on a block boundary is copied.
    const bool inOneBlock = (position & (kBlockSize - 1)) + size < kBlockSize;
    if (!cached || !inOneBlock) {
        return noCopy ? 1 : copy_pointer(reader, out, size, position, cached);
    }

    LockGuard readerGuard(&reader->cacheLock);
    Pinned p = find(key_of(reader->fileRef), position);
    if (p && !p.covers(position, size)) {
        // Loaded when the file was shorter, or the frame runs past its end:
        // read the block again and decide on what the file holds now.
        unpin(p.block);
        p = {};
    }
    if (!p && load(reader, position, &p) != Load::kDone) return 1;
    if (!p.covers(position, size)) {
        unpin(p.block);
        return 1;
    }
    *out = p.buffer + (position - p.start);
    return 0;
}

void release_pointer(void* data) {
    if (data == nullptr) return;
    if (g_attached.load(std::memory_order_acquire) && g_ready.load(std::memory_order_acquire)) {
        const auto at = reinterpret_cast<uintptr_t>(data);
        LockGuard guard(&g_mutex);
        for (Block& b : g_blocks) {
            const auto base = reinterpret_cast<uintptr_t>(b.buffer);
            if (at < base || at - base >= kBlockSize) continue;
            // A loading block's only pin is its loader's; a stray release
            // must not hand it to another loader.
            if (b.owner != kFree && b.owner != kLoading && b.pins > 0) {
                --b.pins;
                if (b.pins == 0 && b.discard) make_free(b);
            }
            return;
        }
    }
    std::free(data);
}

void release_reader(AviReader* reader) {
    if (reader == nullptr || reader->useCache == 0) return;
    if (!g_attached.load(std::memory_order_acquire)) return;
    int32_t lockReady;
    {
        LockGuard guard(&g_mutex);
        lockReady = reader->cacheLockReady;
    }
    // Waits for a read of this reader still running in another thread.
    if (lockReady) platform::lock_enter(&reader->cacheLock);
    HANDLE own = nullptr;
    {
        LockGuard guard(&g_mutex);
        if (keyable(reader->fileRef) && g_ready.load(std::memory_order_relaxed)) {
            const intptr_t key = key_of(reader->fileRef);
            for (Block& b : g_blocks) {
                if (b.owner == key) drop(b);
            }
        }
        if (lockReady) own = reader->cacheHandle;
        reader->cacheHandle = nullptr;
        reader->cacheLockReady = 0;
    }
    if (lockReady) {
        platform::close_file(own);
        platform::lock_leave(&reader->cacheLock);
        platform::lock_delete(&reader->cacheLock);
    }
}

void forget_handle(HANDLE oldFileRef) {
    if (!keyable(oldFileRef) || !g_attached.load(std::memory_order_acquire) ||
        !g_ready.load(std::memory_order_acquire)) {
        return;
    }
    const intptr_t key = key_of(oldFileRef);
    LockGuard guard(&g_mutex);
    for (Block& b : g_blocks) {
        if (b.owner == key) drop(b);
    }
}

void process_attach() {
    if (g_attached.load(std::memory_order_acquire)) return;
    platform::lock_init(&g_mutex);
    g_attached.store(true, std::memory_order_release);
}

void process_detach() {
    if (!g_attached.load(std::memory_order_acquire)) return;
    {
        LockGuard guard(&g_mutex);
        if (g_ready.load(std::memory_order_relaxed)) {
            g_ready.store(false, std::memory_order_release);
            free_buffers();
        }
        g_attached.store(false, std::memory_order_release);
    }
    platform::lock_delete(&g_mutex);
}

uint64_t block_loads() { return g_loads.load(std::memory_order_relaxed); }

void fail_block_creation_for_testing(bool fail) {
    g_failCreation.store(fail, std::memory_order_relaxed);
}

}  // namespace vx::cache
