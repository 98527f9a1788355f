// File calls on platform handles, with the file pointer kept where the
// caller expects it after positioned transfers.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "host_internal.h"

namespace {

using namespace vxhost;

// A position at which `count` bytes can be addressed without overflowing.
bool ValidRange(const int64_t* position, uint32_t count) {
    return position && *position >= 0 && *position <= INT64_MAX - static_cast<int64_t>(count);
}

int32_t ReadCommon(HANDLE h, void* buffer, uint32_t count, const int64_t* position) {
    CountReadCall();
    if (!buffer) return VXHOST_PARAMERR;
    if (ConsumeFault(VX_FAULT_READ)) return VXHOST_IOERR;
    uint32_t moved = 0;
    const int32_t err = OsRead(h, buffer, count, position, &moved);
    int32_t seekErr = 0;
    if (position) {
        // Leave the file pointer after what was read, as a plain read would.
        seekErr = OsSeek(h, *position + moved, 0, nullptr);
    }
    if (err != 0) return err;
    if (moved < count) return VXHOST_EOFERR;
    return seekErr;
}

int32_t WriteCommon(HANDLE h, const void* buffer, uint32_t count, const int64_t* position) {
    if (!buffer) return VXHOST_PARAMERR;
    if (ConsumeFault(VX_FAULT_WRITE)) return VXHOST_IOERR;
    uint32_t wanted = count;
    const bool shortWrite = ConsumeFault(VX_FAULT_SHORT_WRITE);
    if (shortWrite) wanted = count / 2;
    uint32_t moved = 0;
    const int32_t err = OsWrite(h, buffer, wanted, position, &moved);
    if (position) {
        const int32_t seekErr = OsSeek(h, *position + moved, 0, nullptr);
        if (err == 0 && !shortWrite && seekErr != 0) return seekErr;
    }
    if (err != 0) return err;
    return shortWrite ? VXHOST_IOERR : 0;
}

}  // namespace

VXHOSTAPI int32_t VXCALL VxRead(HANDLE h, void* buffer, uint32_t count) {
    return ReadCommon(h, buffer, count, nullptr);
}

VXHOSTAPI int32_t VXCALL VxWrite(HANDLE h, const void* buffer, uint32_t count) {
    return WriteCommon(h, buffer, count, nullptr);
}

VXHOSTAPI int32_t VXCALL VxPRead(HANDLE h, void* buffer, uint32_t count, const int64_t* position) {
    if (!ValidRange(position, count)) {
        CountReadCall();
        return VXHOST_PARAMERR;
    }
    return ReadCommon(h, buffer, count, position);
}

VXHOSTAPI int32_t VXCALL VxPWrite(HANDLE h, const void* buffer, uint32_t count,
                                  const int64_t* position) {
    if (!ValidRange(position, count)) return VXHOST_PARAMERR;
    return WriteCommon(h, buffer, count, position);
}

VXHOSTAPI int32_t VXCALL SetFilePointer64(HANDLE h, const int64_t* distance, int64_t* newPosition,
                                          int32_t method) {
    if (method < 0 || method > 2) return VXHOST_PARAMERR;
    if (ConsumeFault(VX_FAULT_SEEK)) return VXHOST_IOERR;
    return OsSeek(h, distance ? *distance : 0, method, newPosition);
}

VXHOSTAPI uint64_t VXCALL VxGetMaxFileSize(const char* path) {
    uint64_t free = 0;
    if (!OsFreeSpace(path, &free)) free = 0;
    if (const char* cap = std::getenv("VEXAINFO_MAX_FILE_SIZE")) {
        // Only a plain decimal number counts; anything else is ignored.
        if (*cap >= '0' && *cap <= '9') {
            char* end = nullptr;
            errno = 0;
            const unsigned long long limit = std::strtoull(cap, &end, 10);
            if (errno == 0 && end && *end == '\0' && limit < free) free = limit;
        }
    }
    return free;
}
