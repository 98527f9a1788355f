// The lock the host and its plug-ins share around AVI files and codecs. The
// library only hands it out; it never takes it itself.
#include <VexaInfo.h>
#include <vxmedia/aviframes.h>

#include "platform/named_mutex.h"

namespace {

constexpr uint32_t kAviMutexClass = 0x61766D78u;  // 'avmx': the handle, kept by the host
constexpr char kAviMutexName[] = "VXAVI_MUTEX";
constexpr uint32_t kAviMutexTimeoutMs = 30000;

}  // namespace

VXAPI int32_t VXCALL GetAVIMutex(void) {
    HANDLE mutex = GetClassData(kAviMutexClass);
    if (mutex == nullptr) {
        // Two first calls at once each open a handle; both name the same
        // mutex, so whichever the class data keeps is as good.
        mutex = vx::platform::named_mutex_open(kAviMutexName);
        if (mutex != nullptr) SetClassData(kAviMutexClass, mutex);
    }
    // A wait that failed (no mutex could be made, or the platform refused
    // the wait) did not acquire it either: 1 would have the caller work
    // unprotected and release a mutex it does not own.
    const auto got = vx::platform::named_mutex_wait(mutex, kAviMutexTimeoutMs);
    return got == vx::platform::MutexWait::acquired || got == vx::platform::MutexWait::abandoned
               ? 1
               : 0;
}

VXAPI int32_t VXCALL ReleaseAVIMutex(void) {
    HANDLE mutex = GetClassData(kAviMutexClass);
    if (mutex == nullptr) return 0;
    return vx::platform::named_mutex_release(mutex) ? 1 : 0;
}
