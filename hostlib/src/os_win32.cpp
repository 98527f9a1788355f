// Win32 side of the system file layer: HANDLEs are the system's own file
// handles, error codes come from GetLastError.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "host_internal.h"

namespace vxhost {

namespace {

// Larger single transfers are split so that every count fits a DWORD call
// with room to spare.
constexpr uint32_t kMaxChunk = uint32_t{1} << 30;

int32_t LastError() {
    const DWORD e = GetLastError();
    return e == 0 ? static_cast<int32_t>(ERROR_GEN_FAILURE) : static_cast<int32_t>(e);
}

OVERLAPPED At(int64_t position) {
    OVERLAPPED o{};
    o.Offset = static_cast<DWORD>(static_cast<uint64_t>(position) & 0xFFFFFFFFu);
    o.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(position) >> 32);
    return o;
}

}  // namespace

OsErrorKind ClassifyOsError(int32_t code) {
    switch (static_cast<DWORD>(code)) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_DIRECTORY:
            return OsErrorKind::kNotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return OsErrorKind::kPermission;
        case ERROR_TOO_MANY_OPEN_FILES:
            return OsErrorKind::kTooManyOpen;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_NO_UNICODE_TRANSLATION:
            return OsErrorKind::kBadName;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_FILE_TOO_LARGE:
            return OsErrorKind::kDiskFull;
        default:
            return OsErrorKind::kOther;
    }
}

bool IsPlausibleHandle(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

int32_t OsRead(HANDLE h, void* buffer, uint32_t count, const int64_t* position, uint32_t* moved) {
    *moved = 0;
    if (!IsPlausibleHandle(h)) return ERROR_INVALID_HANDLE;
    auto* out = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const DWORD want = std::min(count - done, kMaxChunk);
        DWORD got = 0;
        BOOL ok;
        if (position) {
            OVERLAPPED o = At(*position + done);
            ok = ReadFile(h, out + done, want, &got, &o);
        } else {
            ok = ReadFile(h, out + done, want, &got, nullptr);
        }
        if (!ok) {
            const int32_t err = LastError();
            if (err == ERROR_HANDLE_EOF) break;  // positioned read at or past the end
            *moved = done;
            return err;
        }
        if (got == 0) break;  // end of file
        done += got;
    }
    *moved = done;
    return 0;
}

int32_t OsWrite(HANDLE h, const void* buffer, uint32_t count, const int64_t* position,
                uint32_t* moved) {
    *moved = 0;
    if (!IsPlausibleHandle(h)) return ERROR_INVALID_HANDLE;
    const auto* in = static_cast<const unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const DWORD want = std::min(count - done, kMaxChunk);
        DWORD put = 0;
        BOOL ok;
        if (position) {
            OVERLAPPED o = At(*position + done);
            ok = WriteFile(h, in + done, want, &put, &o);
        } else {
            ok = WriteFile(h, in + done, want, &put, nullptr);
        }
        if (!ok) {
            *moved = done;
            return LastError();
        }
        if (put == 0) {  // no progress and no reason given: treat as a full device
            *moved = done;
            return ERROR_DISK_FULL;
        }
        done += put;
    }
    *moved = done;
    return 0;
}

int32_t OsSeek(HANDLE h, int64_t distance, int32_t method, int64_t* newPosition) {
    if (!IsPlausibleHandle(h)) return ERROR_INVALID_HANDLE;
    DWORD how = 0;
    switch (method) {
        case 0:
            how = FILE_BEGIN;
            break;
        case 1:
            how = FILE_CURRENT;
            break;
        case 2:
            how = FILE_END;
            break;
        default:
            return ERROR_INVALID_PARAMETER;
    }
    LARGE_INTEGER d;
    d.QuadPart = distance;
    LARGE_INTEGER pos{};
    if (!SetFilePointerEx(h, d, &pos, how)) return LastError();
    if (newPosition) *newPosition = pos.QuadPart;
    return 0;
}

int32_t OsFileSize(HANDLE h, int64_t* size) {
    if (!IsPlausibleHandle(h)) return ERROR_INVALID_HANDLE;
    LARGE_INTEGER s{};
    if (!GetFileSizeEx(h, &s)) return LastError();
    *size = s.QuadPart;
    return 0;
}

int32_t OsOpen(const char* path, OsAccess access, HANDLE* handle, OsAccess* granted) {
    if (path == nullptr || path[0] == '\0') return ERROR_PATH_NOT_FOUND;
    // Opening a folder needs a special flag, and without it fails as a denied
    // access; report it as the wrong kind of name instead.
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return ERROR_DIRECTORY;
    }
    HANDLE h = INVALID_HANDLE_VALUE;
    // Other openers may read and write alongside, as on POSIX systems.
    auto tryOpen = [&](DWORD rights) {
        h = CreateFileA(path, rights, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
        return h != INVALID_HANDLE_VALUE;
    };
    OsAccess got = access;
    switch (access) {
        case OsAccess::kBestAvailable:
            if (tryOpen(GENERIC_READ | GENERIC_WRITE)) {
                got = OsAccess::kReadWrite;
            } else {
                const int32_t err = LastError();
                if (err != ERROR_ACCESS_DENIED && err != ERROR_SHARING_VIOLATION &&
                    err != ERROR_WRITE_PROTECT && err != ERROR_LOCK_VIOLATION) {
                    return err;
                }
                if (!tryOpen(GENERIC_READ)) return LastError();
                got = OsAccess::kRead;
            }
            break;
        case OsAccess::kRead:
            if (!tryOpen(GENERIC_READ)) return LastError();
            break;
        case OsAccess::kWrite:
            if (!tryOpen(GENERIC_WRITE)) return LastError();
            break;
        case OsAccess::kReadWrite:
            if (!tryOpen(GENERIC_READ | GENERIC_WRITE)) return LastError();
            break;
    }
    *handle = h;
    *granted = got;
    return 0;
}

int32_t OsClose(HANDLE h) {
    if (!IsPlausibleHandle(h)) return ERROR_INVALID_HANDLE;
    return CloseHandle(h) ? 0 : LastError();
}

bool OsFreeSpace(const char* path, uint64_t* bytes) {
    ULARGE_INTEGER available{};
    if (path == nullptr || path[0] == '\0') {
        if (!GetDiskFreeSpaceExA(nullptr, &available, nullptr, nullptr)) return false;
        *bytes = available.QuadPart;
        return true;
    }
    // The call wants a folder: try the path itself, then the folder holding
    // it (a file, or one about to be created), then the current folder.
    if (GetDiskFreeSpaceExA(path, &available, nullptr, nullptr)) {
        *bytes = available.QuadPart;
        return true;
    }
    std::string where = path;
    const size_t slash = where.find_last_of("\\/");
    const char* folder = nullptr;
    if (slash != std::string::npos) {
        where.resize(slash + 1);  // keep the separator: "C:\" and shares need it
        folder = where.c_str();
    }
    if (!GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr)) return false;
    *bytes = available.QuadPart;
    return true;
}

}  // namespace vxhost
