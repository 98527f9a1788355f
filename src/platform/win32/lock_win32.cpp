#include <windows.h>

#include "platform/lock.h"

namespace vx::platform {

// VxCriticalSection is the platform's CRITICAL_SECTION here.
void lock_init(VxCriticalSection* lock) { InitializeCriticalSection(lock); }
void lock_enter(VxCriticalSection* lock) { EnterCriticalSection(lock); }
bool lock_try_enter(VxCriticalSection* lock) { return TryEnterCriticalSection(lock) != 0; }
void lock_leave(VxCriticalSection* lock) { LeaveCriticalSection(lock); }
void lock_delete(VxCriticalSection* lock) { DeleteCriticalSection(lock); }

}  // namespace vx::platform
