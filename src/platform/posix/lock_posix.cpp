#include <pthread.h>

#include <new>

#include "platform/lock.h"

namespace vx::platform {

static_assert(sizeof(pthread_mutex_t) <= sizeof(VxCriticalSection), "lock storage too small");
static_assert(alignof(pthread_mutex_t) <= alignof(VxCriticalSection), "lock storage misaligned");

namespace {
pthread_mutex_t* mutex_of(VxCriticalSection* lock) {
    return std::launder(reinterpret_cast<pthread_mutex_t*>(lock->storage.bytes));
}
}  // namespace

// Critical sections are re-entrant on Windows; the stand-in must be too.
void lock_init(VxCriticalSection* lock) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    auto* m = new (lock->storage.bytes) pthread_mutex_t;
    pthread_mutex_init(m, &attr);
    pthread_mutexattr_destroy(&attr);
}

void lock_enter(VxCriticalSection* lock) { pthread_mutex_lock(mutex_of(lock)); }
bool lock_try_enter(VxCriticalSection* lock) { return pthread_mutex_trylock(mutex_of(lock)) == 0; }
void lock_leave(VxCriticalSection* lock) { pthread_mutex_unlock(mutex_of(lock)); }
void lock_delete(VxCriticalSection* lock) { pthread_mutex_destroy(mutex_of(lock)); }

}  // namespace vx::platform
