#include "lavc_formats.h"

#include "wave_formats.h"

namespace vxacm {
namespace {

// The seven predictor pairs of MS ADPCM, which libavcodec's decoder assumes
// whatever a format lists: a format listing others is refused.
constexpr int16_t kMsCoefficients[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                           {240, 0}, {460, -208}, {392, -232}};
constexpr uint16_t kMsExtra = 4 + 7 * 4;  // samples per block, count, pairs
constexpr uint16_t kMp3Extra = 12;        // MPEGLAYER3WAVEFORMAT's fields
constexpr uint16_t kGsmBlock = 65;        // two 160-sample frames
constexpr uint32_t kGsmSamples = 320;
constexpr uint32_t kMaxBlock = 8192;

bool rate_in_range(uint32_t rate) { return rate >= kMinRate && rate <= kMaxRate; }
bool mpeg_rate(uint32_t rate) {
    for (uint32_t r : kListedRates)
        if (r == rate) return true;
    return false;
}

// The block sizes of the ADPCM records proposed here: 256 bytes a channel
// up to 12 kHz, twice that up to 24 kHz, four times above.
uint16_t adpcm_block(uint32_t rate, uint16_t channels) {
    const uint32_t scale = rate <= 12000 ? 1 : rate <= 24000 ? 2 : 4;
    return static_cast<uint16_t>(256 * channels * scale);
}

uint32_t ima_samples(uint32_t block, uint32_t channels) {
    return (block - 4 * channels) * 8 / (4 * channels) + 1;
}
uint32_t ms_samples(uint32_t block, uint32_t channels) {
    return (block - 7 * channels) * 8 / (4 * channels) + 2;
}

uint32_t mp3_bitrate(uint32_t rate, uint16_t channels) {
    const uint32_t mono = rate >= 32000 ? 64000 : rate >= 16000 ? 32000 : 8000;
    return mono * channels;
}

bool is_power_of_two(uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

bool ms_coefficients_standard(const WAVEFORMATEX& f) {
    if (extra_word(f, 2) != 7) return false;
    for (int i = 0; i < 7; ++i) {
        if (static_cast<int16_t>(extra_word(f, 4 + 4 * i)) != kMsCoefficients[i][0] ||
            static_cast<int16_t>(extra_word(f, 6 + 4 * i)) != kMsCoefficients[i][1])
            return false;
    }
    return true;
}

}  // namespace

Format coded_format(uint16_t tag, uint32_t rate, uint16_t channels) {
    switch (tag) {
        case VX_WAVE_FORMAT_IMA_ADPCM: {
            const uint16_t block = adpcm_block(rate, channels);
            const uint32_t samples = ima_samples(block, channels);
            Format f = make_format(tag, channels, rate, 4, block, rate * block / samples, 2);
            set_extra_word(f, 0, static_cast<uint16_t>(samples));
            return f;
        }
        case VX_WAVE_FORMAT_ADPCM: {
            const uint16_t block = adpcm_block(rate, channels);
            const uint32_t samples = ms_samples(block, channels);
            Format f = make_format(tag, channels, rate, 4, block, rate * block / samples, kMsExtra);
            set_extra_word(f, 0, static_cast<uint16_t>(samples));
            set_extra_word(f, 2, 7);
            for (int i = 0; i < 7; ++i) {
                set_extra_word(f, 4 + 4 * i, static_cast<uint16_t>(kMsCoefficients[i][0]));
                set_extra_word(f, 6 + 4 * i, static_cast<uint16_t>(kMsCoefficients[i][1]));
            }
            return f;
        }
        case VX_WAVE_FORMAT_ALAW:
        case VX_WAVE_FORMAT_MULAW:
            return make_format(tag, channels, rate, 8, channels, rate * channels, 0);
        case VX_WAVE_FORMAT_GSM610: {
            Format f = make_format(tag, 1, 8000, 0, kGsmBlock, 8000 * kGsmBlock / kGsmSamples, 2);
            set_extra_word(f, 0, kGsmSamples);
            return f;
        }
        case VX_WAVE_FORMAT_MPEGLAYER3: {
            const uint32_t bitrate = mp3_bitrate(rate, channels);
            Format f = make_format(tag, channels, rate, 0, 1, bitrate / 8, kMp3Extra);
            const uint32_t frameBytes = (rate >= 32000 ? 144 : 72) * bitrate / rate;
            set_extra_word(f, 0, 1);                                  // wID: MPEG
            set_extra_word(f, 2, 2);                                  // no padding bits
            set_extra_word(f, 6, static_cast<uint16_t>(frameBytes));  // nBlockSize
            set_extra_word(f, 8, 1);                                  // nFramesPerBlock
            return f;
        }
        default:
            return pcm_format(rate, channels, 16);
    }
}

bool pcm16(const WAVEFORMATEX& f) {
    return consistent_pcm(f) && f.wBitsPerSample == 16 && rate_in_range(f.nSamplesPerSec);
}

bool decodable(const WAVEFORMATEX& f, uint32_t bytes, CodedFormat* out) {
    if (bytes < kFormatBytes || bytes < format_bytes(f)) return false;
    if (f.nChannels < 1 || f.nChannels > 2 || !rate_in_range(f.nSamplesPerSec)) return false;
    const uint32_t ch = f.nChannels;
    const uint32_t block = f.nBlockAlign;
    CodedFormat c{f.wFormatTag, f.nChannels, f.nSamplesPerSec, f.nBlockAlign, 0, f.nAvgBytesPerSec};
    switch (f.wFormatTag) {
        case VX_WAVE_FORMAT_IMA_ADPCM:
            if (f.wBitsPerSample != 4 || f.cbSize < 2 || block > kMaxBlock || block <= 4 * ch ||
                (block - 4 * ch) % (4 * ch) != 0)
                return false;
            c.samplesPerBlock = ima_samples(block, ch);
            if (extra_word(f, 0) != c.samplesPerBlock) return false;
            break;
        case VX_WAVE_FORMAT_ADPCM:
            if (f.wBitsPerSample != 4 || f.cbSize < kMsExtra || block > kMaxBlock ||
                block <= 7 * ch || !ms_coefficients_standard(f))
                return false;
            c.samplesPerBlock = ms_samples(block, ch);
            if (extra_word(f, 0) != c.samplesPerBlock) return false;
            break;
        case VX_WAVE_FORMAT_ALAW:
        case VX_WAVE_FORMAT_MULAW:
            if (f.wBitsPerSample != 8 || block != ch) return false;
            c.samplesPerBlock = 1;
            break;
        case VX_WAVE_FORMAT_GSM610:
            if (ch != 1 || f.nSamplesPerSec != 8000 || block != kGsmBlock || f.cbSize < 2 ||
                extra_word(f, 0) != kGsmSamples)
                return false;
            c.samplesPerBlock = kGsmSamples;
            break;
        case VX_WAVE_FORMAT_MPEGLAYER3:
            // The frames say the rest; the record's extra fields are not needed.
            if (!mpeg_rate(f.nSamplesPerSec)) return false;
            break;
        default:
            return false;
    }
    *out = c;
    return true;
}

bool encodable(const WAVEFORMATEX& f, uint32_t bytes, CodedFormat* out) {
    CodedFormat c;
    if (!decodable(f, bytes, &c) || c.tag == VX_WAVE_FORMAT_MPEGLAYER3) return false;
    // libavcodec's ADPCM encoders make blocks of a power of two, 32 bytes
    // at least.
    if ((c.tag == VX_WAVE_FORMAT_IMA_ADPCM || c.tag == VX_WAVE_FORMAT_ADPCM) &&
        (!is_power_of_two(c.blockAlign) || c.blockAlign < 32))
        return false;
    *out = c;
    return true;
}

uint32_t largest_format(uint16_t tag) {
    switch (tag) {
        case VX_WAVE_FORMAT_PCM:
            return kPcmBytes;
        case VX_WAVE_FORMAT_IMA_ADPCM:
        case VX_WAVE_FORMAT_GSM610:
            return kFormatBytes + 2;
        case VX_WAVE_FORMAT_ADPCM:
            return kFormatBytes + kMsExtra;
        case VX_WAVE_FORMAT_MPEGLAYER3:
            return kFormatBytes + kMp3Extra;
        default:
            return kFormatBytes;
    }
}

}  // namespace vxacm
