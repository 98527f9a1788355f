// The installation's profile on Windows: the profile with the empty name,
// which is the system's WIN.INI. The empty string itself is not passed on:
// the private-profile calls take it as a file name relative to the Windows
// folder and fail (Wine: access denied), so every key would read as its
// default. The profile calls without a file name read WIN.INI itself.
#include <windows.h>

#include <climits>
#include <cstring>

#include "platform/profile.h"

namespace vx::platform {

uint32_t profile_int(const char* section, const char* key, int32_t fallback) {
    // A null section or key would enumerate names instead of reading a value.
    if (section == nullptr || key == nullptr) return static_cast<uint32_t>(fallback);
    return GetProfileIntA(section, key, fallback);
}

std::size_t profile_string(const char* section, const char* key, const char* fallback, char* out,
                           std::size_t size) {
    if (out == nullptr || size == 0) return 0;
    if (fallback == nullptr) fallback = "";
    if (section == nullptr || key == nullptr) {
        std::size_t n = std::strlen(fallback);
        if (n > size - 1) n = size - 1;
        std::memcpy(out, fallback, n);
        out[n] = '\0';
        return n;
    }
    const DWORD room = size > UINT_MAX ? UINT_MAX : static_cast<DWORD>(size);
    return GetProfileStringA(section, key, fallback, out, room);
}

}  // namespace vx::platform
