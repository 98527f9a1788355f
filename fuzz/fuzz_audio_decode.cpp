// libFuzzer target for the audio codec manager and the libavcodec audio
// driver module: each input is a compressed audio format and its data,
// decoded to PCM through a conversion stream in pieces of the input's
// choosing, the way a host converts the audio of a file.
//
// Input: byte 0 picks the format tag, byte 1 the channels (bit 0) and the
// rate, bytes 2-3 the block size, byte 4 the piece size, byte 5 the count
// of extra format bytes that follow it; the rest is the data.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver_profile.h"
#include "platform/audio_codec.h"

namespace {

namespace vp = vx::platform;

constexpr uint16_t kTags[] = {0x11, 0x02, 0x06, 0x07, 0x31, 0x55};
constexpr uint32_t kRates[] = {8000, 11025, 22050, 44100, 48000, 16000, 32000, 12345};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_audio_decode: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

// One conversion call on `n` bytes; checks what the manager reports back.
bool convert(vp::AcmStream s, uint8_t* in, uint32_t n, std::vector<uint8_t>& out, uint32_t flags,
             uint32_t* used) {
    vp::AcmStreamHeader h{};
    h.cbStruct = sizeof h;
    static uint8_t none = 0;
    h.pbSrc = n != 0 ? in : &none;
    h.cbSrcLength = n;
    h.pbDst = out.data();
    h.cbDstLength = static_cast<uint32_t>(out.size());
    if (vp::acm_stream_prepare_header(s, &h, 0) != vp::kMmNoError) return false;
    const uint32_t rc = vp::acm_stream_convert(s, &h, flags);
    check(h.cbSrcLengthUsed <= n && h.cbDstLengthUsed <= out.size(),
          "a conversion reported more bytes than it was given");
    *used = rc == vp::kMmNoError ? h.cbSrcLengthUsed : 0;
    h.cbSrcLength = n;
    h.cbDstLength = static_cast<uint32_t>(out.size());
    vp::acm_stream_unprepare_header(s, &h, 0);
    return rc == vp::kMmNoError;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static const vxfuzz::DriverProfile profile("fuzz_audio_decode", "msacm.lavc",
                                               VX_MSACM_LAVC_PATH);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6 || size > (1u << 16)) return 0;
    const uint8_t extra = std::min<uint8_t>(data[5], 64);
    if (size < 6u + extra) return 0;
    std::vector<uint8_t> format(sizeof(WAVEFORMATEX) + extra);
    auto* f = reinterpret_cast<WAVEFORMATEX*>(format.data());
    f->wFormatTag = kTags[data[0] % std::size(kTags)];
    f->nChannels = static_cast<uint16_t>(1 + (data[1] & 1));
    f->nSamplesPerSec = kRates[(data[1] >> 1) % std::size(kRates)];
    f->nBlockAlign = static_cast<uint16_t>(data[2] | data[3] << 8);
    f->wBitsPerSample = f->wFormatTag == 0x11 || f->wFormatTag == 0x02 ? 4 : 8;
    f->nAvgBytesPerSec = f->nSamplesPerSec * std::max<uint16_t>(f->nBlockAlign, 1) / 256;
    f->cbSize = extra;
    std::memcpy(format.data() + sizeof(WAVEFORMATEX), data + 6, extra);

    WAVEFORMATEX pcm{};
    pcm.wFormatTag = vp::kWaveFormatPcm;
    if (vp::acm_format_suggest(nullptr, f, &pcm, sizeof pcm, vp::kAcmFormatSuggestWFormatTag) !=
        vp::kMmNoError)
        return 0;
    check(pcm.wFormatTag == vp::kWaveFormatPcm, "a PCM suggestion of another tag");
    vp::AcmStream stream = nullptr;
    if (vp::acm_stream_open(&stream, nullptr, f, &pcm, vp::kAcmStreamOpenNonRealtime) !=
        vp::kMmNoError)
        return 0;
    std::vector<uint8_t> body(data + 6 + extra, data + size);
    const uint32_t piece = 1 + data[4] * 37u;
    std::vector<uint8_t> out(1u << 20);
    std::size_t at = 0;
    bool first = true;
    while (at < body.size()) {
        const auto n = static_cast<uint32_t>(std::min<std::size_t>(piece, body.size() - at));
        uint32_t used = 0;
        const uint32_t flags =
            vp::kAcmStreamConvertBlockAlign | (first ? vp::kAcmStreamConvertStart : 0);
        if (!convert(stream, body.data() + at, n, out, flags, &used)) break;
        first = false;
        if (used == 0) {
            // Less than a block left over: given once more with the end.
            uint32_t last = 0;
            convert(stream, body.data() + at, n, out, vp::kAcmStreamConvertEnd, &last);
            break;
        }
        at += used;
    }
    vp::acm_stream_close(stream, 0);
    return 0;
}
