// UTF-16 to UTF-8. Unpaired surrogates become U+FFFD, as the platform's own
// conversions do.
#include <cstring>

#include "platform/text.h"

namespace vx::platform {

std::size_t wide_to_narrow(const uint16_t* wide, std::size_t wideChars, char* out,
                           std::size_t outSize) {
    if (out == nullptr || outSize == 0) return 0;
    std::size_t used = 0;
    for (std::size_t i = 0; wide != nullptr && i < wideChars && wide[i] != 0; ++i) {
        uint32_t c = wide[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < wideChars && wide[i + 1] >= 0xDC00 &&
            wide[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (wide[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        unsigned char bytes[4];
        std::size_t n;
        if (c < 0x80) {
            bytes[0] = static_cast<unsigned char>(c);
            n = 1;
        } else if (c < 0x800) {
            bytes[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
            bytes[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            n = 2;
        } else if (c < 0x10000) {
            bytes[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
            bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            n = 3;
        } else {
            bytes[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
            bytes[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            bytes[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            bytes[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            n = 4;
        }
        if (used + n > outSize - 1) break;
        std::memcpy(out + used, bytes, n);
        used += n;
    }
    out[used] = '\0';
    return used;
}

}  // namespace vx::platform
