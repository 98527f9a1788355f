// Scratch files and environment changes for tests, the same on Linux and
// Windows: files are reached through a HANDLE as the library's callers do
// (a descriptor carried in the HANDLE on Linux, a Win32 file handle on Windows).
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vxtest {

enum class Access { kRead, kReadWrite, kCreate };

#ifdef _WIN32

// Creates an empty file with a unique name in the temporary folder.
inline std::string make_temp_file(const char* tag) {
    char folder[MAX_PATH + 1] = {};
    char name[MAX_PATH + 1] = {};
    if (GetTempPathA(sizeof(folder), folder) == 0) return {};
    if (GetTempFileNameA(folder, tag, 0, name) == 0) return {};
    return name;
}

// kCreate truncates or creates, for writing and reading.
inline HANDLE open_file(const std::string& path, Access access) {
    const DWORD rights = access == Access::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD how = access == Access::kCreate ? CREATE_ALWAYS : OPEN_EXISTING;
    return CreateFileA(path.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, how, FILE_ATTRIBUTE_NORMAL, nullptr);
}

inline void close_file(HANDLE h) {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

// Returns the bytes moved, or -1 on failure. Neither moves the file pointer
// on Linux; on Windows the pointer is left after the bytes moved.
inline long long write_at(HANDLE h, const void* data, std::size_t size, uint64_t position) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(position);
    o.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD put = 0;
    if (!WriteFile(h, data, static_cast<DWORD>(size), &put, &o)) return -1;
    return put;
}

inline long long read_at(HANDLE h, void* data, std::size_t size, uint64_t position) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(position);
    o.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD got = 0;
    if (!ReadFile(h, data, static_cast<DWORD>(size), &got, &o)) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return got;
}

inline int64_t seek(HANDLE h, int64_t position) {
    LARGE_INTEGER to, now;
    to.QuadPart = position;
    if (!SetFilePointerEx(h, to, &now, FILE_BEGIN)) return -1;
    return now.QuadPart;
}

inline int64_t position_of(HANDLE h) {
    LARGE_INTEGER zero{}, now;
    if (!SetFilePointerEx(h, zero, &now, FILE_CURRENT)) return -1;
    return now.QuadPart;
}

// A read-only file cannot be deleted on Windows: clear the flag first.
inline void remove_file(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(path.c_str());
}

inline unsigned long process_id() { return GetCurrentProcessId(); }

inline bool set_size(HANDLE h, uint64_t size) {
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(h, to, nullptr, FILE_BEGIN) && SetEndOfFile(h);
}

inline bool make_read_only(const std::string& path) {
    return SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY) != 0;
}

inline void set_env(const char* name, const char* value) { _putenv_s(name, value); }
// An empty value removes the variable from the C runtime's environment.
inline void unset_env(const char* name) { _putenv_s(name, ""); }

#else

inline std::string make_temp_file(const char* tag) {
    const char* dir = std::getenv("TMPDIR");
    std::string name = std::string(dir && *dir ? dir : "/tmp") + "/" + tag + "_XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return {};
    ::close(fd);
    return name;
}

inline HANDLE open_file(const std::string& path, Access access) {
    int flags = O_CLOEXEC;
    switch (access) {
        case Access::kRead:
            flags |= O_RDONLY;
            break;
        case Access::kReadWrite:
            flags |= O_RDWR;
            break;
        case Access::kCreate:
            flags |= O_RDWR | O_CREAT | O_TRUNC;
            break;
    }
    const int fd = ::open(path.c_str(), flags, 0644);
    return fd < 0 ? INVALID_HANDLE_VALUE : reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
}

inline int fd_of(HANDLE h) { return static_cast<int>(reinterpret_cast<intptr_t>(h)); }

inline void close_file(HANDLE h) {
    if (h != INVALID_HANDLE_VALUE) ::close(fd_of(h));
}

inline long long write_at(HANDLE h, const void* data, std::size_t size, uint64_t position) {
    return ::pwrite(fd_of(h), data, size, static_cast<off_t>(position));
}

inline long long read_at(HANDLE h, void* data, std::size_t size, uint64_t position) {
    return ::pread(fd_of(h), data, size, static_cast<off_t>(position));
}

inline int64_t seek(HANDLE h, int64_t position) {
    return ::lseek(fd_of(h), static_cast<off_t>(position), SEEK_SET);
}

inline int64_t position_of(HANDLE h) { return ::lseek(fd_of(h), 0, SEEK_CUR); }

inline void remove_file(const std::string& path) { ::unlink(path.c_str()); }

inline unsigned long process_id() { return static_cast<unsigned long>(::getpid()); }

inline bool set_size(HANDLE h, uint64_t size) {
    return ::ftruncate(fd_of(h), static_cast<off_t>(size)) == 0;
}

inline bool make_read_only(const std::string& path) { return ::chmod(path.c_str(), 0444) == 0; }

inline void set_env(const char* name, const char* value) { ::setenv(name, value, 1); }
inline void unset_env(const char* name) { ::unsetenv(name); }

#endif

// Writes all of `size` bytes at `position`; false when the file refused any.
inline bool write_all(HANDLE h, const void* data, std::size_t size, uint64_t position) {
    const auto* p = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const long long n = write_at(h, p + done, size - done, position + done);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace vxtest
