// The library's load and unload hooks on Windows.
#include <windows.h>

#include "platform/library_init.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
    switch (reason) {
        case DLL_PROCESS_ATTACH:
            // No per-thread state: spare every thread start and exit the call.
            DisableThreadLibraryCalls(instance);
            vx::library_load();
            break;
        case DLL_PROCESS_DETACH:
            vx::library_unload();
            break;
        default:
            break;
    }
    return TRUE;
}
