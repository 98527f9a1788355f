#include "heap_meter.h"

#include <errno.h>
#include <malloc.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>

// glibc's own allocator entry points, which the wrappers below forward to.
extern "C" {
void* __libc_malloc(size_t size);
void __libc_free(void* p);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* p, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

std::atomic<bool> g_on{false};
std::atomic<int64_t> g_current{0};
std::atomic<int64_t> g_peak{0};

void grow(int64_t n) {
    const int64_t c = g_current.fetch_add(n, std::memory_order_relaxed) + n;
    int64_t p = g_peak.load(std::memory_order_relaxed);
    while (c > p && !g_peak.compare_exchange_weak(p, c, std::memory_order_relaxed)) {
    }
}

int64_t usable(void* p) { return p ? static_cast<int64_t>(malloc_usable_size(p)) : 0; }

bool on() { return g_on.load(std::memory_order_relaxed); }

void* counted(void* p) {
    if (p != nullptr && on()) grow(usable(p));
    return p;
}

}  // namespace

#define VXB_EXPORT extern "C" __attribute__((visibility("default")))

VXB_EXPORT void* malloc(size_t size) noexcept { return counted(__libc_malloc(size)); }

VXB_EXPORT void free(void* p) noexcept {
    if (p != nullptr && on()) grow(-usable(p));
    __libc_free(p);
}

VXB_EXPORT void* calloc(size_t count, size_t size) noexcept {
    return counted(__libc_calloc(count, size));
}

VXB_EXPORT void* realloc(void* p, size_t size) noexcept {
    if (!on()) return __libc_realloc(p, size);
    const int64_t before = usable(p);
    void* q = __libc_realloc(p, size);
    if (q != nullptr) {
        grow(usable(q) - before);
    } else if (size == 0) {
        grow(-before);  // realloc(p, 0) freed p
    }
    return q;
}

VXB_EXPORT void* reallocarray(void* p, size_t count, size_t size) noexcept {
    size_t total;
    if (__builtin_mul_overflow(count, size, &total)) {
        errno = ENOMEM;
        return nullptr;
    }
    return realloc(p, total);
}

VXB_EXPORT void* memalign(size_t alignment, size_t size) noexcept {
    return counted(__libc_memalign(alignment, size));
}

VXB_EXPORT void* aligned_alloc(size_t alignment, size_t size) noexcept {
    return counted(__libc_memalign(alignment, size));
}

VXB_EXPORT int posix_memalign(void** out, size_t alignment, size_t size) noexcept {
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr) return ENOMEM;
    *out = counted(p);
    return 0;
}

VXB_EXPORT void* valloc(size_t size) noexcept {
    return counted(__libc_memalign(static_cast<size_t>(sysconf(_SC_PAGESIZE)), size));
}

VXB_EXPORT void* pvalloc(size_t size) noexcept {
    const auto page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    return counted(__libc_memalign(page, (size + page - 1) / page * page));
}

namespace vxbench::heap {

void start() {
    g_current.store(0, std::memory_order_relaxed);
    g_peak.store(0, std::memory_order_relaxed);
    g_on.store(true, std::memory_order_seq_cst);
}

Usage now() {
    return {g_peak.load(std::memory_order_relaxed), g_current.load(std::memory_order_relaxed)};
}

Usage stop() {
    g_on.store(false, std::memory_order_seq_cst);
    return now();
}

}  // namespace vxbench::heap
