// POSIX side of the system file layer. Every open/read/write/seek/stat the
// stand-in makes goes through here, so a Win32 port replaces only this file.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "host_internal.h"

static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");

namespace vxhost {

namespace {

// Larger single transfers are split; Linux moves at most ~2 GiB per call anyway.
constexpr size_t kMaxChunk = size_t{1} << 30;

int ToFd(HANDLE h) { return static_cast<int>(reinterpret_cast<intptr_t>(h)); }

}  // namespace

OsErrorKind ClassifyOsError(int32_t code) {
    switch (code) {
        case ENOENT:
        case ENOTDIR:
        case EISDIR:
            return OsErrorKind::kNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
        case ETXTBSY:
            return OsErrorKind::kPermission;
        case EMFILE:
        case ENFILE:
            return OsErrorKind::kTooManyOpen;
        case ENAMETOOLONG:
        case EILSEQ:
            return OsErrorKind::kBadName;
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return OsErrorKind::kDiskFull;
        default:
            return OsErrorKind::kOther;
    }
}

bool IsPlausibleHandle(HANDLE h) {
    const intptr_t v = reinterpret_cast<intptr_t>(h);
    return v >= 0 && v <= INT_MAX;
}

int32_t OsRead(HANDLE h, void* buffer, uint32_t count, const int64_t* position, uint32_t* moved) {
    *moved = 0;
    if (!IsPlausibleHandle(h)) return EBADF;
    const int fd = ToFd(h);
    auto* out = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const size_t want = std::min<size_t>(count - done, kMaxChunk);
        const ssize_t got = position ? ::pread(fd, out + done, want, *position + done)
                                     : ::read(fd, out + done, want);
        if (got < 0) {
            if (errno == EINTR) continue;
            *moved = done;
            return errno;
        }
        if (got == 0) break;  // end of file
        done += static_cast<uint32_t>(got);
    }
    *moved = done;
    return 0;
}

int32_t OsWrite(HANDLE h, const void* buffer, uint32_t count, const int64_t* position,
                uint32_t* moved) {
    *moved = 0;
    if (!IsPlausibleHandle(h)) return EBADF;
    const int fd = ToFd(h);
    const auto* in = static_cast<const unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const size_t want = std::min<size_t>(count - done, kMaxChunk);
        const ssize_t put = position ? ::pwrite(fd, in + done, want, *position + done)
                                     : ::write(fd, in + done, want);
        if (put < 0) {
            if (errno == EINTR) continue;
            *moved = done;
            return errno;
        }
        if (put == 0) {  // no progress and no reason given: treat as a full device
            *moved = done;
            return ENOSPC;
        }
        done += static_cast<uint32_t>(put);
    }
    *moved = done;
    return 0;
}

int32_t OsSeek(HANDLE h, int64_t distance, int32_t method, int64_t* newPosition) {
    if (!IsPlausibleHandle(h)) return EBADF;
    int whence = 0;
    switch (method) {
        case 0:
            whence = SEEK_SET;
            break;
        case 1:
            whence = SEEK_CUR;
            break;
        case 2:
            whence = SEEK_END;
            break;
        default:
            return EINVAL;
    }
    const off_t pos = ::lseek(ToFd(h), static_cast<off_t>(distance), whence);
    if (pos < 0) return errno;
    if (newPosition) *newPosition = static_cast<int64_t>(pos);
    return 0;
}

int32_t OsFileSize(HANDLE h, int64_t* size) {
    if (!IsPlausibleHandle(h)) return EBADF;
    struct stat st {};
    if (::fstat(ToFd(h), &st) != 0) return errno;
    *size = static_cast<int64_t>(st.st_size);
    return 0;
}

int32_t OsOpen(const char* path, OsAccess access, HANDLE* handle, OsAccess* granted) {
    int fd = -1;
    OsAccess got = access;
    auto tryOpen = [&](int flags) {
        do {
            fd = ::open(path, flags | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        return fd >= 0;
    };
    switch (access) {
        case OsAccess::kBestAvailable:
            if (!tryOpen(O_RDWR)) {
                const int err = errno;
                if (err != EACCES && err != EPERM && err != EROFS && err != ETXTBSY &&
                    err != EISDIR) {
                    return err;
                }
                if (!tryOpen(O_RDONLY)) return errno;
                got = OsAccess::kRead;
            } else {
                got = OsAccess::kReadWrite;
            }
            break;
        case OsAccess::kRead:
            if (!tryOpen(O_RDONLY)) return errno;
            break;
        case OsAccess::kWrite:
            if (!tryOpen(O_WRONLY)) return errno;
            break;
        case OsAccess::kReadWrite:
            if (!tryOpen(O_RDWR)) return errno;
            break;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        const int err = S_ISDIR(st.st_mode) ? EISDIR : errno;
        ::close(fd);
        return err;
    }
    *handle = reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
    *granted = got;
    return 0;
}

int32_t OsClose(HANDLE h) {
    if (!IsPlausibleHandle(h)) return EBADF;
    // Retrying close() after EINTR can close a descriptor reused by another
    // thread, so the first result stands.
    if (::close(ToFd(h)) != 0 && errno != EINTR) return errno;
    return 0;
}

bool OsFreeSpace(const char* path, uint64_t* bytes) {
    std::string where = (path && *path) ? path : ".";
    struct statvfs vfs {};
    if (::statvfs(where.c_str(), &vfs) != 0) {
        // A file about to be created: ask about its folder instead.
        while (!where.empty() && where.back() == '/') where.pop_back();
        const size_t slash = where.rfind('/');
        // resize() rather than assigning literals: GCC 12 warns falsely
        // (-Wrestrict) on short literal assignment at -O2.
        if (slash == std::string::npos) {
            where.resize(1);
            where[0] = '.';
        } else {
            where.resize(slash == 0 ? 1 : slash);
        }
        if (::statvfs(where.c_str(), &vfs) != 0) return false;
    }
    const uint64_t blocks = vfs.f_bavail;
    const uint64_t blockSize = vfs.f_frsize;
    *bytes = (blockSize != 0 && blocks > UINT64_MAX / blockSize) ? UINT64_MAX : blocks * blockSize;
    return true;
}

}  // namespace vxhost
