// UTF-16 to the ANSI code page.
#include <windows.h>

#include <climits>

#include "platform/text.h"

namespace vx::platform {

std::size_t wide_to_narrow(const uint16_t* wide, std::size_t wideChars, char* out,
                           std::size_t outSize) {
    if (out == nullptr || outSize == 0) return 0;
    out[0] = '\0';
    if (wide == nullptr) return 0;
    std::size_t length = 0;
    while (length < wideChars && length < INT_MAX && wide[length] != 0) ++length;
    // Whole characters only: convert ever fewer units until the text fits.
    const auto* units = reinterpret_cast<const wchar_t*>(wide);
    for (std::size_t n = length; n > 0; --n) {
        if (wide[n - 1] >= 0xD800 && wide[n - 1] < 0xDC00 && n < length) continue;  // half a pair
        const int need = WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(n), nullptr, 0,
                                             nullptr, nullptr);
        if (need <= 0) return 0;
        if (static_cast<std::size_t>(need) > outSize - 1) {
            // Drop roughly the excess at once: a unit gives at least one byte.
            const std::size_t excess = static_cast<std::size_t>(need) - (outSize - 1);
            n = n > excess ? n - excess + 1 : 1;
            continue;
        }
        WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(n), out, need, nullptr, nullptr);
        out[need] = '\0';
        return static_cast<std::size_t>(need);
    }
    return 0;
}

}  // namespace vx::platform
