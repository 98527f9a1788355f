// The formats of the libavcodec audio driver: 16-bit PCM on one side, a
// compressed tag on the other, at the same rate and channel count. What each
// tag's records must hold to be taken, and the records the driver proposes.
#pragma once

#include <cstdint>

#include "acm_module.h"

namespace vxacm {

// A compressed format, checked.
struct CodedFormat {
    uint16_t tag = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint16_t blockAlign = 0;       // bytes of one block (MP3: as stored)
    uint32_t samplesPerBlock = 0;  // per channel; 0 for MP3 (frames vary)
    uint32_t bytesPerSecond = 0;
};

// The rates and channel counts the tags other than GSM 6.10 are listed at;
// IMA, MS ADPCM and G.711 convert any rate from 8000 to 48000 Hz.
inline constexpr uint32_t kListedRates[] = {8000,  11025, 12000, 16000, 22050,
                                            24000, 32000, 44100, 48000};
inline constexpr uint32_t kMinRate = 8000;
inline constexpr uint32_t kMaxRate = 48000;

// The standard record of `tag` at `rate` and `channels`.
Format coded_format(uint16_t tag, uint32_t rate, uint16_t channels);

// 16-bit PCM of 1 or 2 channels at 8000..48000 Hz, consistent.
bool pcm16(const WAVEFORMATEX& f);

// A compressed format this driver decodes, read within `bytes`.
bool decodable(const WAVEFORMATEX& f, uint32_t bytes, CodedFormat* out);
// One it also encodes: the block sizes libavcodec's encoders make.
bool encodable(const WAVEFORMATEX& f, uint32_t bytes, CodedFormat* out);

// The largest record of each tag.
uint32_t largest_format(uint16_t tag);

}  // namespace vxacm
