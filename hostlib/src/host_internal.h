// Shared internals of the host stand-in: the system file layer (the only
// place that talks to the OS about files) and the fault-injection hooks.
#pragma once

#include <VexaInfo.h>

#include <cstdint>

namespace vxhost {

// ---- System file layer (os_posix.cpp, os_win32.cpp) ----

// System error codes are positive (errno here, GetLastError on Windows).
enum class OsErrorKind { kNotFound, kPermission, kTooManyOpen, kBadName, kDiskFull, kOther };
OsErrorKind ClassifyOsError(int32_t code);

// True when `h` can name a file on this system at all.
bool IsPlausibleHandle(HANDLE h);

// Moves up to `count` bytes at `*position`, or at the file pointer when
// `position` is null. Retries partial transfers and interruptions until all
// bytes moved, the file ends (reads) or an error occurs. `*moved` receives the
// bytes transferred in every case. Returns 0 or a system error code; a read
// that hits the end of the file returns 0 with `*moved < count`.
int32_t OsRead(HANDLE h, void* buffer, uint32_t count, const int64_t* position, uint32_t* moved);
int32_t OsWrite(HANDLE h, const void* buffer, uint32_t count, const int64_t* position,
                uint32_t* moved);
// method: 0 start, 1 current, 2 end. `newPosition` may be null.
int32_t OsSeek(HANDLE h, int64_t distance, int32_t method, int64_t* newPosition);
int32_t OsFileSize(HANDLE h, int64_t* size);

enum class OsAccess { kBestAvailable, kRead, kWrite, kReadWrite };
// Opens an existing file (never creates one); directories are refused.
// `*granted` receives the access obtained (never kBestAvailable).
int32_t OsOpen(const char* path, OsAccess access, HANDLE* handle, OsAccess* granted);
int32_t OsClose(HANDLE h);

// Space available to this user on the file system holding `path`.
bool OsFreeSpace(const char* path, uint64_t* bytes);

// ---- Fault injection (faults.cpp) ----

// True when this call of the kind is the one chosen to fail. Counts the call.
bool ConsumeFault(int32_t kind);
// Counts a read call for VxHostReadCalls.
void CountReadCall();

}  // namespace vxhost
