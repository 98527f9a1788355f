#include <malloc.h>
#include <windows.h>

#include "platform/file.h"

namespace vx::platform {

HANDLE open_unbuffered_reader(const char* path) {
    if (path == nullptr || path[0] == '\0') return INVALID_HANDLE_VALUE;
    // The block cache reads whole aligned 1 MiB blocks front to back and keeps
    // them itself: the system cache would only hold a second copy.
    const DWORD flags = FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN;
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags,
                        nullptr);
    }
    return h;
}

bool read_at(HANDLE file, void* buffer, uint32_t count, uint64_t position, uint32_t* got) {
    *got = 0;
    if (file == INVALID_HANDLE_VALUE || file == nullptr ||
        position > static_cast<uint64_t>(INT64_MAX)) {
        return false;
    }
    // The handle is unbuffered: position, count and buffer are all sector
    // aligned, so one call reads the whole block, or up to the end of the file.
    // Reads of one handle are serialised by its reader's cacheLock, so the
    // shared file pointer is safe to move.
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(position);
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return false;
    DWORD n = 0;
    if (!ReadFile(file, buffer, count, &n, nullptr)) {
        if (GetLastError() == ERROR_HANDLE_EOF) return true;
        return false;
    }
    *got = n;
    return true;
}

void close_file(HANDLE file) {
    if (file != INVALID_HANDLE_VALUE && file != nullptr) CloseHandle(file);
}

HANDLE create_for_writing(const char* path) {
    if (path == nullptr || path[0] == '\0') return INVALID_HANDLE_VALUE;
    return CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool flush_file(HANDLE file) {
    if (file == INVALID_HANDLE_VALUE || file == nullptr) return false;
    return FlushFileBuffers(file) != 0;
}

bool close_checked(HANDLE file) {
    if (file == INVALID_HANDLE_VALUE || file == nullptr) return false;
    return CloseHandle(file) != 0;
}

void* alloc_aligned(std::size_t size, std::size_t alignment) {
    return _aligned_malloc(size, alignment);
}

void free_aligned(void* block) { _aligned_free(block); }

}  // namespace vx::platform
