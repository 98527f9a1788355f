// Critical sections: re-entrant locks within one process.
#pragma once

#include <vxmedia/avireader.h>

namespace vx::platform {

void lock_init(VxCriticalSection* lock);
void lock_enter(VxCriticalSection* lock);
// Enters only when that needs no wait (or this thread already holds it).
bool lock_try_enter(VxCriticalSection* lock);
void lock_leave(VxCriticalSection* lock);
void lock_delete(VxCriticalSection* lock);

class LockGuard {
public:
    explicit LockGuard(VxCriticalSection* lock) : lock_(lock) { lock_enter(lock_); }
    ~LockGuard() { lock_leave(lock_); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    VxCriticalSection* lock_;
};

}  // namespace vx::platform
