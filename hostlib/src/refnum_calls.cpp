// File calls by small reference number. Each reference owns a mark of its
// own, so transfers go through positioned I/O and never disturb each other.
#include <mutex>
#include <vector>

#include "host_internal.h"

namespace {

using namespace vxhost;

// Reference numbers are positive 16-bit values.
constexpr size_t kMaxRefs = 32767;

struct OpenRef {
    bool inUse = false;
    bool writable = false;
    HANDLE handle = nullptr;
    int64_t mark = 0;
};

std::mutex g_mutex;
std::vector<OpenRef> g_files;  // reference n lives at index n - 1

// Must be called with g_mutex held.
OpenRef* Lookup(int16_t refNum) {
    if (refNum <= 0 || static_cast<size_t>(refNum) > g_files.size()) return nullptr;
    OpenRef& file = g_files[static_cast<size_t>(refNum) - 1];
    return file.inUse ? &file : nullptr;
}

int16_t MapOsError(int32_t code, bool writing) {
    switch (ClassifyOsError(code)) {
        case OsErrorKind::kNotFound:
            return VXHOST_FNFERR;
        case OsErrorKind::kPermission:
            return writing ? VXHOST_WRPERMERR : VXHOST_PERMERR;
        case OsErrorKind::kTooManyOpen:
            return VXHOST_TMFOERR;
        case OsErrorKind::kBadName:
            return VXHOST_BDNAMERR;
        case OsErrorKind::kDiskFull:
            return VXHOST_DSKFULERR;
        case OsErrorKind::kOther:
            break;
    }
    return VXHOST_IOERR;
}

// The checks of a transfer: a count, and a buffer when it is not 0. *count
// says what moved, 0 until something does.
int16_t StartTransfer(int32_t* count, const void* buffer, int32_t* wanted) {
    if (!count) return VXHOST_PARAMERR;
    *wanted = *count;
    *count = 0;
    return *wanted < 0 || (*wanted > 0 && !buffer) ? VXHOST_PARAMERR : VXHOST_NOERR;
}

}  // namespace

VXHOSTAPI int16_t VXCALL HOpen(int16_t /*volume*/, int32_t /*directory*/, const char* name,
                               int8_t permission, int16_t* refNum) {
    if (!refNum) return VXHOST_PARAMERR;
    *refNum = 0;
    if (!name) return VXHOST_PARAMERR;
    if (*name == '\0') return VXHOST_FNFERR;
    OsAccess access = OsAccess::kBestAvailable;
    switch (permission) {
        case -1:
        case 0:
            break;
        case 1:
            access = OsAccess::kRead;
            break;
        case 2:
            access = OsAccess::kWrite;
            break;
        case 3:
        case 4:
            access = OsAccess::kReadWrite;
            break;
        default:
            return VXHOST_PARAMERR;
    }

    std::lock_guard<std::mutex> lock(g_mutex);
    size_t slot = 0;
    while (slot < g_files.size() && g_files[slot].inUse) ++slot;
    if (slot >= kMaxRefs) return VXHOST_TMFOERR;
    if (slot == g_files.size()) {
        try {
            g_files.emplace_back();  // an unused spare slot is harmless if the open fails
        } catch (...) {
            return VXHOST_TMFOERR;
        }
    }
    HANDLE handle = nullptr;
    OsAccess granted = OsAccess::kRead;
    if (const int32_t err = OsOpen(name, access, &handle, &granted); err != 0) {
        return MapOsError(err, false);
    }
    const bool writable = granted == OsAccess::kWrite || granted == OsAccess::kReadWrite;
    g_files[slot] = OpenRef{true, writable, handle, 0};
    *refNum = static_cast<int16_t>(slot + 1);
    return VXHOST_NOERR;
}

VXHOSTAPI int16_t VXCALL FSRead(int16_t refNum, int32_t* count, void* buffer) {
    CountReadCall();
    int32_t wanted = 0;
    if (const int16_t err = StartTransfer(count, buffer, &wanted)) return err;
    std::lock_guard<std::mutex> lock(g_mutex);
    OpenRef* file = Lookup(refNum);
    if (!file) return VXHOST_RFNUMERR;
    if (ConsumeFault(VX_FAULT_READ)) return VXHOST_IOERR;
    if (wanted == 0) return VXHOST_NOERR;
    if (file->mark > INT64_MAX - wanted) return VXHOST_POSERR;
    uint32_t moved = 0;
    const int32_t err =
        OsRead(file->handle, buffer, static_cast<uint32_t>(wanted), &file->mark, &moved);
    file->mark += moved;
    *count = static_cast<int32_t>(moved);
    if (err != 0) return MapOsError(err, false);
    return moved < static_cast<uint32_t>(wanted) ? VXHOST_EOFERR : VXHOST_NOERR;
}

VXHOSTAPI int16_t VXCALL FSWrite(int16_t refNum, int32_t* count, const void* buffer) {
    int32_t wanted = 0;
    if (const int16_t err = StartTransfer(count, buffer, &wanted)) return err;
    std::lock_guard<std::mutex> lock(g_mutex);
    OpenRef* file = Lookup(refNum);
    if (!file) return VXHOST_RFNUMERR;
    if (!file->writable) return VXHOST_WRPERMERR;
    if (ConsumeFault(VX_FAULT_WRITE)) return VXHOST_IOERR;
    const bool shortWrite = ConsumeFault(VX_FAULT_SHORT_WRITE);
    const uint32_t toWrite = static_cast<uint32_t>(shortWrite ? wanted / 2 : wanted);
    if (file->mark > INT64_MAX - wanted) return VXHOST_POSERR;
    uint32_t moved = 0;
    const int32_t err = OsWrite(file->handle, buffer, toWrite, &file->mark, &moved);
    file->mark += moved;
    *count = static_cast<int32_t>(moved);
    if (err != 0) return MapOsError(err, true);
    return shortWrite ? VXHOST_IOERR : VXHOST_NOERR;
}

VXHOSTAPI int16_t VXCALL SetFPos(int16_t refNum, int16_t mode, int32_t offset) {
    std::lock_guard<std::mutex> lock(g_mutex);
    OpenRef* file = Lookup(refNum);
    if (!file) return VXHOST_RFNUMERR;
    if (ConsumeFault(VX_FAULT_SEEK)) return VXHOST_IOERR;
    int64_t size = 0;
    if (const int32_t err = OsFileSize(file->handle, &size); err != 0) {
        return MapOsError(err, false);
    }
    int64_t base = 0;
    switch (mode) {
        case 0:  // stay at the mark
            return VXHOST_NOERR;
        case 1:
            base = 0;
            break;
        case 2:
            base = size;
            break;
        case 3:
            base = file->mark;
            break;
        default:
            return VXHOST_PARAMERR;
    }
    // |offset| < 2^31 and base < 2^63 - 2^31 in practice; check anyway.
    if (offset > 0 && base > INT64_MAX - offset) return VXHOST_POSERR;
    const int64_t target = base + offset;
    if (target < 0) return VXHOST_POSERR;
    if (target > size) {
        file->mark = size;
        return VXHOST_EOFERR;
    }
    file->mark = target;
    return VXHOST_NOERR;
}

VXHOSTAPI int16_t VXCALL FSClose(int16_t refNum) {
    HANDLE handle = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        OpenRef* file = Lookup(refNum);
        if (!file) return VXHOST_RFNUMERR;
        handle = file->handle;
        *file = OpenRef{};
    }
    return OsClose(handle) == 0 ? VXHOST_NOERR : VXHOST_IOERR;
}
