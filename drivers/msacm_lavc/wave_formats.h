// WAVEFORMATEX helpers shared by the audio driver modules.
#pragma once

#include <vxmedia/acm_driver.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "acm_module.h"

namespace vxacm {

inline constexpr uint32_t kFormatBytes = sizeof(WAVEFORMATEX);
inline constexpr uint32_t kPcmBytes = 16;  // a PCM format's size: no cbSize

// 16 for PCM, else the record and its extra bytes.
inline uint32_t format_bytes(const WAVEFORMATEX& f) {
    return f.wFormatTag == VX_WAVE_FORMAT_PCM ? kPcmBytes : kFormatBytes + f.cbSize;
}

inline WAVEFORMATEX* as_wave(Format& f) { return reinterpret_cast<WAVEFORMATEX*>(f.data()); }
inline const WAVEFORMATEX* as_wave(const Format& f) {
    return reinterpret_cast<const WAVEFORMATEX*>(f.data());
}

// A format record of `extra` bytes behind the WAVEFORMATEX.
Format make_format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                   uint16_t blockAlign, uint32_t bytesPerSecond, uint16_t extra);
Format pcm_format(uint32_t rate, uint16_t channels, uint16_t bits);

// A PCM format whose block and byte rate agree with its sample layout.
bool consistent_pcm(const WAVEFORMATEX& f);

// Little-endian 16-bit word of the extra bytes at `offset`; the caller has
// checked that cbSize covers it.
inline uint16_t extra_word(const WAVEFORMATEX& f, std::size_t offset) {
    const auto* p = reinterpret_cast<const uint8_t*>(&f) + kFormatBytes + offset;
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline void set_extra_word(Format& f, std::size_t offset, uint16_t value) {
    f[kFormatBytes + offset] = static_cast<uint8_t>(value);
    f[kFormatBytes + offset + 1] = static_cast<uint8_t>(value >> 8);
}

// ASCII text into a UTF-16 field of `chars` units, cut and terminated.
void widen(const char* text, uint16_t* out, std::size_t chars);
// "44100 Hz, 16 bit, stereo" or, for a compressed format,
// "8000 Hz, mono, 13 kbit/s".
void describe(const WAVEFORMATEX& f, uint16_t* out, std::size_t chars);

// A 64-bit size as a stream size: false when it is 0 or does not fit.
inline bool stream_bytes(uint64_t bytes, uint32_t* out) {
    if (bytes == 0 || bytes > 0xFFFFFFFFu) return false;
    *out = static_cast<uint32_t>(bytes);
    return true;
}

}  // namespace vxacm
