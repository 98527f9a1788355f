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
    // Only a timeout means "not acquired"; a failed wait reports 1 and its
    // release then fails.
    return vx::platform::named_mutex_wait(mutex, kAviMutexTimeoutMs) ==
                   vx::platform::MutexWait::timed_out
               ? 0
               : 1;
}

VXAPI int32_t VXCALL ReleaseAVIMutex(void) {
    HANDLE mutex = GetClassData(kAviMutexClass);
    if (mutex == nullptr) return 0;
    return vx::platform::named_mutex_release(mutex) ? 1 : 0;
}
