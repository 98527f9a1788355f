#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include "platform/file.h"

namespace vx::platform {

namespace {
int fd_of(HANDLE h) { return static_cast<int>(reinterpret_cast<intptr_t>(h)); }
HANDLE handle_of(int fd) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)); }
}  // namespace

HANDLE open_unbuffered_reader(const char* path) {
    if (path == nullptr || path[0] == '\0') return INVALID_HANDLE_VALUE;
    // Read-write first, as the cache handle on Windows is; a read-only file
    // still opens for reading.
    int fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (fd < 0) fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    // The block cache reads whole 1 MiB blocks front to back; tell the kernel
    // so it reads ahead instead of caching per page.
    (void)::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    return handle_of(fd);
}

bool read_at(HANDLE file, void* buffer, uint32_t count, uint64_t position, uint32_t* got) {
    *got = 0;
    if (file == INVALID_HANDLE_VALUE || position > static_cast<uint64_t>(INT64_MAX)) return false;
    const int fd = fd_of(file);
    auto* out = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = ::pread(fd, out + done, count - done, static_cast<off_t>(position + done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;  // end of file
        done += static_cast<uint32_t>(n);
    }
    *got = done;
    return true;
}

void close_file(HANDLE file) {
    if (file != INVALID_HANDLE_VALUE && file != nullptr) ::close(fd_of(file));
}

HANDLE create_for_writing(const char* path) {
    if (path == nullptr || path[0] == '\0') return INVALID_HANDLE_VALUE;
    const int fd = ::open(path, O_CREAT | O_TRUNC | O_RDWR | O_CLOEXEC, 0644);
    return fd < 0 ? INVALID_HANDLE_VALUE : handle_of(fd);
}

// Nothing to do: the kernel holds what was written and close() reports
// write-back errors it already knows; an fsync per file would only slow
// exports down.
bool flush_file(HANDLE file) { return file != INVALID_HANDLE_VALUE && file != nullptr; }

bool close_checked(HANDLE file) {
    if (file == INVALID_HANDLE_VALUE || file == nullptr) return false;
    // The descriptor is released even when close() fails; never retry it.
    return ::close(fd_of(file)) == 0;
}

void* alloc_aligned(std::size_t size, std::size_t alignment) {
    void* p = nullptr;
    if (::posix_memalign(&p, alignment, size) != 0) return nullptr;
    return p;
}

void free_aligned(void* block) { ::free(block); }

}  // namespace vx::platform
