// What the Linux audio compression manager does to records between callers
// and drivers: callers' formats copied within the sizes they are known to
// have, the drivers' UTF-16 records turned into the callers' ANSI ones
// (UTF-8 text on Linux, cut at a whole character).
#pragma once

#include <vxmedia/acm_driver.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/audio_codec.h"

namespace vx::platform::acm {

// A PCM format is read as 16 bytes: callers may pass the older record
// without cbSize, whose value would be whatever follows.
inline constexpr uint32_t kPcmFormatBytes = 16;
inline constexpr uint32_t kFormatBytes = sizeof(WAVEFORMATEX);

// The bytes a format occupies: 16 for PCM, else the record and its cbSize
// extra bytes.
uint32_t format_bytes(const WAVEFORMATEX& format);

// Copies `format` (at most `limit` bytes, the most the caller is known to
// have or any driver takes) into `out`, at least a whole WAVEFORMATEX with
// cbSize 0 for PCM. MMSYSERR_INVALPARAM for a null format or one larger
// than the limit, which is then not read past its cbSize.
uint32_t copy_format(const WAVEFORMATEX* format, uint32_t limit, std::vector<uint8_t>* out);

inline const WAVEFORMATEX* as_format(const std::vector<uint8_t>& bytes) {
    return reinterpret_cast<const WAVEFORMATEX*>(bytes.data());
}
inline WAVEFORMATEX* as_format(std::vector<uint8_t>& bytes) {
    return reinterpret_cast<WAVEFORMATEX*>(bytes.data());
}

// UTF-16 text of at most `chars` units (NUL-terminated or not) into `out`
// of `size` bytes, always terminated.
void narrow(const uint16_t* text, std::size_t chars, char* out, std::size_t size);

// The ANSI records from the drivers' ones. cbStruct, pwfx and cbwfx of the
// caller's record are kept.
AcmDriverDetails ansi_details(const VxAcmDriverDetailsW& wide);
void copy_tag_details(const VxAcmFormatTagDetailsW& wide, AcmFormatTagDetails* out);
void copy_format_details(const VxAcmFormatDetailsW& wide, AcmFormatDetails* out);

}  // namespace vx::platform::acm
