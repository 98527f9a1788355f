// The installation's profile on Windows: the profile with the empty name,
// which is the system's WIN.INI. The empty string itself is not passed on:
// the private-profile calls take it as a file name relative to the Windows
// folder and fail (Wine: access denied), so every key would read as its
// default. The profile calls without a file name read WIN.INI itself.
#include <windows.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

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

std::vector<std::string> profile_keys(const char* section) {
    std::vector<std::string> keys;
    if (section == nullptr) return keys;
    // A null key lists the section's keys, each terminated, the list ended by
    // an empty one; a list cut to the buffer gives size - 2.
    std::vector<char> buffer(4096);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD got = GetProfileStringA(section, nullptr, "", buffer.data(), size);
        if (got + 2 < size || size >= (1u << 24)) break;
        buffer.assign(buffer.size() * 4, '\0');
    }
    // Two more terminators, so that the walk ends inside the buffer whatever
    // the call left at its end.
    buffer.push_back('\0');
    buffer.push_back('\0');
    for (const char* p = buffer.data(); *p != '\0'; p += std::strlen(p) + 1) {
        std::string key(p);
        bool seen = false;
        for (const auto& k : keys) seen = seen || lstrcmpiA(k.c_str(), key.c_str()) == 0;
        if (!seen) keys.push_back(std::move(key));
    }
    return keys;
}

}  // namespace vx::platform
