#include <windows.h>

#include "platform/named_mutex.h"

namespace vx::platform {

HANDLE named_mutex_open(const char* name) {
    if (name == nullptr || name[0] == '\0') return nullptr;
    return CreateMutexA(nullptr, FALSE, name);
}

MutexWait named_mutex_wait(HANDLE mutex, uint32_t timeoutMs) {
    switch (WaitForSingleObject(mutex, timeoutMs)) {
        case WAIT_OBJECT_0:
            return MutexWait::acquired;
        case WAIT_ABANDONED:
            return MutexWait::abandoned;
        case WAIT_TIMEOUT:
            return MutexWait::timed_out;
        default:
            return MutexWait::failed;
    }
}

bool named_mutex_release(HANDLE mutex) { return ReleaseMutex(mutex) != FALSE; }

}  // namespace vx::platform
