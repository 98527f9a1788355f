// msacm_lavc.so: the audio codec driver on libavcodec. One driver, seven
// format tags: 16-bit PCM, then IMA ADPCM, MS ADPCM, G.711 A-law and mu-law
// and GSM 6.10, each converted both ways with PCM of its rate and channel
// count, and MP3, decoded to PCM only.
#include <cstring>

#include "acm_module.h"
#include "lavc_convert.h"
#include "lavc_formats.h"
#include "wave_formats.h"

namespace vxacm {
namespace {

constexpr uint16_t kCodecTags[] = {VX_WAVE_FORMAT_IMA_ADPCM, VX_WAVE_FORMAT_ADPCM,
                                   VX_WAVE_FORMAT_ALAW,      VX_WAVE_FORMAT_MULAW,
                                   VX_WAVE_FORMAT_GSM610,    VX_WAVE_FORMAT_MPEGLAYER3};

const char* tag_name(uint16_t tag) {
    switch (tag) {
        case VX_WAVE_FORMAT_PCM:
            return "PCM";
        case VX_WAVE_FORMAT_IMA_ADPCM:
            return "IMA ADPCM";
        case VX_WAVE_FORMAT_ADPCM:
            return "MS ADPCM";
        case VX_WAVE_FORMAT_ALAW:
            return "G.711 A-law";
        case VX_WAVE_FORMAT_MULAW:
            return "G.711 mu-law";
        case VX_WAVE_FORMAT_GSM610:
            return "GSM 6.10";
        default:
            return "MPEG Layer-3 (decode only)";
    }
}

std::vector<FormatTag> make_tags() {
    std::vector<FormatTag> tags;
    tags.push_back({VX_WAVE_FORMAT_PCM,
                    tag_name(VX_WAVE_FORMAT_PCM),
                    VX_ACMDRIVERDETAILS_SUPPORTF_CODEC,
                    {},
                    largest_format(VX_WAVE_FORMAT_PCM)});
    for (uint16_t channels = 1; channels <= 2; ++channels)
        for (uint32_t rate : kListedRates)
            tags[0].standard.push_back(pcm_format(rate, channels, 16));
    for (uint16_t tag : kCodecTags) {
        FormatTag t{
            tag, tag_name(tag), VX_ACMDRIVERDETAILS_SUPPORTF_CODEC, {}, largest_format(tag)};
        if (tag == VX_WAVE_FORMAT_GSM610) {
            t.standard.push_back(coded_format(tag, 8000, 1));
        } else {
            for (uint16_t channels = 1; channels <= 2; ++channels)
                for (uint32_t rate : kListedRates)
                    t.standard.push_back(coded_format(tag, rate, channels));
        }
        tags.push_back(std::move(t));
    }
    return tags;
}

bool same_layout(const WAVEFORMATEX& a, const WAVEFORMATEX& b) {
    return a.nChannels == b.nChannels && a.nSamplesPerSec == b.nSamplesPerSec;
}

class LavcModule final : public Module {
public:
    const About& about() const override {
        static const About a{
            "VxMedia lavc",
            "VxMedia audio codecs on libavcodec",
            "VxMedia; codecs from FFmpeg's libavcodec",
            "LGPL libavcodec and libswresample; GSM encoding through libgsm",
            "IMA ADPCM, MS ADPCM, G.711 A-law and mu-law, GSM 6.10 to and from 16-bit PCM at "
            "the same rate and channels; MP3 to 16-bit PCM",
            1,
            0x01000000,
            VX_ACMDRIVERDETAILS_SUPPORTF_CODEC};
        return a;
    }

    const std::vector<FormatTag>& tags() const override {
        static const std::vector<FormatTag> t = make_tags();
        return t;
    }

    bool knows(const WAVEFORMATEX& f, uint32_t bytes) const override {
        CodedFormat coded;
        return pcm16(f) || decodable(f, bytes, &coded);
    }

    uint32_t converts(const WAVEFORMATEX& src, uint32_t srcBytes, const WAVEFORMATEX& dst,
                      uint32_t dstBytes) const override {
        CodedFormat coded;
        if (!same_layout(src, dst)) return VX_ACMERR_NOTPOSSIBLE;
        if (pcm16(src) && encodable(dst, dstBytes, &coded)) return VX_MMSYSERR_NOERROR;
        if (pcm16(dst) && decodable(src, srcBytes, &coded)) return VX_MMSYSERR_NOERROR;
        return VX_ACMERR_NOTPOSSIBLE;
    }

    uint32_t suggest(const WAVEFORMATEX& src, uint32_t srcBytes, uint32_t flags, WAVEFORMATEX* dst,
                     uint32_t room) const override {
        CodedFormat coded;
        Format proposed;
        const uint32_t rate = (flags & VX_ACM_FORMATSUGGESTF_NSAMPLESPERSEC) != 0
                                  ? dst->nSamplesPerSec
                                  : src.nSamplesPerSec;
        const uint16_t channels =
            (flags & VX_ACM_FORMATSUGGESTF_NCHANNELS) != 0 ? dst->nChannels : src.nChannels;
        if (rate != src.nSamplesPerSec || channels != src.nChannels) return VX_ACMERR_NOTPOSSIBLE;
        if (pcm16(src)) {
            // PCM is encoded to the tag asked for, IMA ADPCM when none was.
            const uint16_t tag = (flags & VX_ACM_FORMATSUGGESTF_WFORMATTAG) != 0
                                     ? dst->wFormatTag
                                     : uint16_t{VX_WAVE_FORMAT_IMA_ADPCM};
            if (tag == VX_WAVE_FORMAT_PCM || tag == VX_WAVE_FORMAT_MPEGLAYER3)
                return VX_ACMERR_NOTPOSSIBLE;
            // GSM 6.10 has one rate: its record is not this source's.
            proposed = coded_format(tag, rate, channels);
            if (!encodable(*as_wave(proposed), static_cast<uint32_t>(proposed.size()), &coded) ||
                !same_layout(src, *as_wave(proposed)))
                return VX_ACMERR_NOTPOSSIBLE;
        } else if (decodable(src, srcBytes, &coded)) {
            if ((flags & VX_ACM_FORMATSUGGESTF_WFORMATTAG) != 0 &&
                dst->wFormatTag != VX_WAVE_FORMAT_PCM)
                return VX_ACMERR_NOTPOSSIBLE;
            proposed = pcm_format(rate, channels, 16);
        } else {
            return VX_ACMERR_NOTPOSSIBLE;
        }
        if ((flags & VX_ACM_FORMATSUGGESTF_WBITSPERSAMPLE) != 0 &&
            dst->wBitsPerSample != as_wave(proposed)->wBitsPerSample)
            return VX_ACMERR_NOTPOSSIBLE;
        const uint32_t bytes = format_bytes(*as_wave(proposed));
        if (room < bytes) return VX_MMSYSERR_INVALPARAM;
        std::memcpy(dst, proposed.data(), bytes);
        return VX_MMSYSERR_NOERROR;
    }

    std::unique_ptr<Converter> open(const WAVEFORMATEX& src, const WAVEFORMATEX& dst,
                                    uint32_t* result) const override {
        CodedFormat coded;
        if (pcm16(src) && encodable(dst, format_bytes(dst), &coded))
            return make_encoder(coded, result);
        if (decodable(src, format_bytes(src), &coded)) return make_decoder(coded, result);
        *result = VX_ACMERR_NOTPOSSIBLE;
        return nullptr;
    }
};

}  // namespace

const Module& module() {
    static const LavcModule m;
    return m;
}

}  // namespace vxacm
