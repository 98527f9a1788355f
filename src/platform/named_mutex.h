// Named mutexes shared by every process of the user: create-or-open, wait,
// release. A mutex belongs to the thread that acquired it, is recursive for
// that thread (one release per successful wait) and is released by the
// system when its owner dies; the next waiter is told it was abandoned.
// Handles are never closed: they live as long as the process.
//
// Windows: CreateMutexA / WaitForSingleObject / ReleaseMutex.
//
// Linux: one lock file per name, "vxmedia-mutex-<name>" (bytes other than
// letters, digits, '_', '.' and '-' written as %XX), in $XDG_RUNTIME_DIR when
// it is an absolute path to a folder of this user that nobody else may enter,
// else in /tmp/vxmedia-<uid>/, created 0700 and checked the same way.
// Processes share a mutex only when they agree on that folder, much as
// Windows names are local to a session. Files are never removed.
//  - Between processes: an open-file-description lock (F_OFD_SETLK) on the
//    file, held while any thread of the process owns the mutex and dropped
//    by the kernel when the process dies. It is polled every few ms until
//    the deadline.
//  - Within a process: every handle of a name is the same object, which
//    keeps the owning thread and the recursion count under a mutex and a
//    condition variable. A thread waits there first, then for the file lock,
//    both against one deadline.
//  - Abandonment: byte 0 of the file is 1 while the mutex is owned. A new
//    owner that finds 1 was preceded by an owner that died (its process, or
//    its thread, whose exit gives the mutex up). An owner that dies between
//    taking the lock and marking it is not noticed: the next owner is told
//    "acquired".
//  - fork: the child does not own what the parent owned; its first use of a
//    handle opens the file afresh, so that it never shares the parent's lock.
//    Forking while another thread is inside one of these calls is not
//    supported.
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstdint>

namespace vx::platform {

// A timeout that never ends, as the platform's INFINITE.
inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

enum class MutexWait {
    acquired,
    abandoned,  // acquired; the previous owner died holding it
    timed_out,
    failed,
};

// Opens the mutex `name`, creating it (not owned) when it does not exist.
// Null on failure (no name, a Linux name longer than 240 bytes once encoded,
// no usable folder).
HANDLE named_mutex_open(const char* name);

// Waits at most `timeoutMs` (0: a single try) for the calling thread to own
// the mutex.
MutexWait named_mutex_wait(HANDLE mutex, uint32_t timeoutMs);

// Gives up one level of ownership. False when the calling thread does not
// own the mutex.
bool named_mutex_release(HANDLE mutex);

}  // namespace vx::platform
