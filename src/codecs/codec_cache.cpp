#include "codecs/codec_cache.h"

#include <algorithm>
#include <deque>
#include <new>

#include "codecs/decompressor.h"
#include "platform/lock.h"

namespace vx::codecs {

namespace {

// Created at library load, destroyed at unload.
struct CacheState {
    VxCriticalSection lock{};
    std::deque<VfwDecompressor*> entries;  // most recently used first
};
CacheState* g_cache = nullptr;

// Lock order: a decompressor's own lock, then this one; never the reverse
// except through a try-enter.
class CacheLock {
public:
    CacheLock() { platform::lock_enter(&g_cache->lock); }
    ~CacheLock() { platform::lock_leave(&g_cache->lock); }
    CacheLock(const CacheLock&) = delete;
    CacheLock& operator=(const CacheLock&) = delete;
};

void erase(VfwDecompressor* d) {
    auto& e = g_cache->entries;
    const auto at = std::find(e.begin(), e.end(), d);
    if (at != e.end()) e.erase(at);
}

}  // namespace

void CodecCache::process_attach() {
    if (g_cache != nullptr) return;
    g_cache = new (std::nothrow) CacheState;
    if (g_cache != nullptr) platform::lock_init(&g_cache->lock);
}

void CodecCache::process_detach() {
    if (g_cache == nullptr) return;
    platform::lock_delete(&g_cache->lock);
    delete g_cache;
    g_cache = nullptr;
}

bool CodecCache::add_to_front(VfwDecompressor* d) {
    if (g_cache == nullptr) return false;
    CacheLock hold;
    try {
        g_cache->entries.push_front(d);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (g_cache->entries.size() > kLimit) evict_one();
    return true;
}

void CodecCache::remove(VfwDecompressor* d) {
    if (g_cache == nullptr) return;
    CacheLock hold;
    erase(d);
}

void CodecCache::move_to_front(VfwDecompressor* d) {
    if (g_cache == nullptr) return;
    CacheLock hold;
    auto& e = g_cache->entries;
    const auto at = std::find(e.begin(), e.end(), d);
    if (at == e.end() || at == e.begin()) return;
    // Rotating keeps the move free of allocation.
    std::rotate(e.begin(), at, at + 1);
}

bool CodecCache::evict_one() {
    if (g_cache == nullptr) return false;
    CacheLock hold;
    auto& e = g_cache->entries;
    for (auto at = e.end(); at != e.begin();) {
        --at;
        VfwDecompressor* victim = *at;
        // A decompressor busy on another thread keeps its codec: closing it
        // under a running decode would pull the codec from under it.
        if (!platform::lock_try_enter(&victim->lock_)) continue;
        const bool closed = victim->is_open();
        victim->close_codec();
        platform::lock_leave(&victim->lock_);
        at = e.erase(at);
        if (closed) return true;
    }
    return false;
}

std::size_t CodecCache::size() {
    if (g_cache == nullptr) return 0;
    CacheLock hold;
    return g_cache->entries.size();
}

}  // namespace vx::codecs
