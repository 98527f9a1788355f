#include "wave_formats.h"

#include <cstdio>

namespace vxacm {

Format make_format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                   uint16_t blockAlign, uint32_t bytesPerSecond, uint16_t extra) {
    Format f(kFormatBytes + extra, 0);
    WAVEFORMATEX* w = as_wave(f);
    w->wFormatTag = tag;
    w->nChannels = channels;
    w->nSamplesPerSec = rate;
    w->nAvgBytesPerSec = bytesPerSecond;
    w->nBlockAlign = blockAlign;
    w->wBitsPerSample = bits;
    w->cbSize = extra;
    return f;
}

Format pcm_format(uint32_t rate, uint16_t channels, uint16_t bits) {
    const auto align = static_cast<uint16_t>(channels * bits / 8);
    return make_format(VX_WAVE_FORMAT_PCM, channels, rate, bits, align, rate * align, 0);
}

bool consistent_pcm(const WAVEFORMATEX& f) {
    return f.wFormatTag == VX_WAVE_FORMAT_PCM &&
           (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nChannels >= 1 &&
           f.nChannels <= 2 && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8 &&
           f.nAvgBytesPerSec == static_cast<uint64_t>(f.nSamplesPerSec) * f.nBlockAlign;
}

void widen(const char* text, uint16_t* out, std::size_t chars) {
    if (chars == 0) return;
    std::size_t i = 0;
    for (; text[i] != '\0' && i + 1 < chars; ++i) out[i] = static_cast<unsigned char>(text[i]);
    out[i] = 0;
}

void describe(const WAVEFORMATEX& f, uint16_t* out, std::size_t chars) {
    char text[128];
    const char* layout = f.nChannels == 1 ? "mono" : f.nChannels == 2 ? "stereo" : "channels";
    if (f.wFormatTag == VX_WAVE_FORMAT_PCM)
        std::snprintf(text, sizeof text, "%u Hz, %u bit, %s", f.nSamplesPerSec, f.wBitsPerSample,
                      layout);
    else
        std::snprintf(text, sizeof text, "%u Hz, %s, %llu kbit/s", f.nSamplesPerSec, layout,
                      (f.nAvgBytesPerSec * 8ull + 500) / 1000);
    widen(text, out, chars);
}

}  // namespace vxacm
