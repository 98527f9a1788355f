// msacm_pcm.so: a PCM converter with one format tag: 8- and 16-bit PCM of
// one or two channels at 8000..48000 Hz to any other such PCM, through
// libswresample. Resampling holds back the few samples its filter needs;
// ACM_STREAMCONVERTF_END gives them out, ACM_STREAMCONVERTF_START drops them.
// The source is only fed as far as the destination has room for what comes
// out, so nothing else waits in the resampler.
extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <new>

#include "acm_module.h"
#include "audio_ptr.h"
#include "wave_formats.h"

namespace vxacm {
namespace {

constexpr uint32_t kRates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
constexpr uint32_t kMinRate = 8000;
constexpr uint32_t kMaxRate = 48000;

bool convertible(const WAVEFORMATEX& f) {
    return consistent_pcm(f) && f.nSamplesPerSec >= kMinRate && f.nSamplesPerSec <= kMaxRate;
}

AVSampleFormat sample_format(const WAVEFORMATEX& f) {
    return f.wBitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
}

class Resampler final : public Converter {
public:
    // PCM records may be the 16-byte kind: cbSize is neither read nor needed.
    Resampler(const WAVEFORMATEX& src, const WAVEFORMATEX& dst) {
        std::memcpy(&src_, &src, kPcmBytes);
        std::memcpy(&dst_, &dst, kPcmBytes);
    }

    bool setup() {
        AVChannelLayout in, out;
        av_channel_layout_default(&in, src_.nChannels);
        av_channel_layout_default(&out, dst_.nChannels);
        SwrContext* s = nullptr;
        if (swr_alloc_set_opts2(&s, &out, sample_format(dst_),
                                static_cast<int>(dst_.nSamplesPerSec), &in, sample_format(src_),
                                static_cast<int>(src_.nSamplesPerSec), 0, nullptr) < 0)
            return false;
        swr_.reset(s);
        av_opt_set_int(s, "log_level_offset", kQuietLogOffset, 0);
        return swr_init(swr_.get()) >= 0;
    }

    uint32_t convert(const uint8_t* src, uint32_t srcBytes, uint8_t* dst, uint32_t dstBytes,
                     uint32_t flags, uint32_t* srcUsed, uint32_t* dstUsed) override {
        // A fresh start drops what the filter holds.
        if ((flags & VX_ACM_STREAMCONVERTF_START) != 0 &&
            (swr_close(swr_.get()), swr_init(swr_.get()) < 0))
            return VX_MMSYSERR_ERROR;
        const int room =
            static_cast<int>(std::min<uint32_t>(dstBytes / dst_.nBlockAlign, 1u << 30));
        const int frames =
            static_cast<int>(std::min<uint32_t>(srcBytes / src_.nBlockAlign, 1u << 30));
        const int fed = feedable(frames, room);
        uint8_t* out = dst;
        const uint8_t* in = src;
        int made = room > 0 ? swr_convert(swr_.get(), &out, room, &in, fed) : 0;
        if (made < 0) return VX_MMSYSERR_ERROR;
        // At the end of the source, what the filter still holds.
        if ((flags & VX_ACM_STREAMCONVERTF_END) != 0 && fed == frames && made < room) {
            out = dst + std::size_t(made) * dst_.nBlockAlign;
            const int tail = swr_convert(swr_.get(), &out, room - made, nullptr, 0);
            if (tail > 0) made += tail;
        }
        *srcUsed = static_cast<uint32_t>(fed) * src_.nBlockAlign;
        *dstUsed = static_cast<uint32_t>(made) * dst_.nBlockAlign;
        return VX_MMSYSERR_NOERROR;
    }

    uint32_t size(VxAcmDrvStreamSize* s) const override {
        const uint64_t inRate = src_.nSamplesPerSec, outRate = dst_.nSamplesPerSec;
        // The resampler's filter may give out up to its length more at the end.
        const uint64_t slack = inRate == outRate ? 0 : 64 * (outRate / inRate + 1);
        if (s->fdwSize == VX_ACM_STREAMSIZEF_SOURCE) {
            const uint64_t frames = s->cbSrcLength / src_.nBlockAlign;
            const uint64_t out =
                (frames * outRate + inRate - 1) / inRate + (frames != 0 ? slack : 0);
            return stream_bytes(out * dst_.nBlockAlign, &s->cbDstLength) ? VX_MMSYSERR_NOERROR
                                                                         : VX_ACMERR_NOTPOSSIBLE;
        }
        const uint64_t frames = s->cbDstLength / dst_.nBlockAlign;
        return stream_bytes(frames * inRate / outRate * src_.nBlockAlign, &s->cbSrcLength)
                   ? VX_MMSYSERR_NOERROR
                   : VX_ACMERR_NOTPOSSIBLE;
    }

private:
    // The most source frames whose output surely fits `room` frames.
    int feedable(int frames, int room) const {
        if (swr_get_out_samples(swr_.get(), frames) <= room) return frames;
        int low = 0, high = frames;
        while (low < high) {
            const int mid = low + (high - low + 1) / 2;
            if (swr_get_out_samples(swr_.get(), mid) <= room)
                low = mid;
            else
                high = mid - 1;
        }
        return low;
    }

    WAVEFORMATEX src_{}, dst_{};
    SwrPtr swr_;
};

class PcmModule final : public Module {
public:
    const About& about() const override {
        static const About a{"VxMedia PCM",
                             "VxMedia PCM converter on libswresample",
                             "VxMedia; resampling by FFmpeg's libswresample",
                             "LGPL libswresample",
                             "8- and 16-bit PCM, mono and stereo, 8000 to 48000 Hz, to one another",
                             2,
                             0x01000000,
                             VX_ACMDRIVERDETAILS_SUPPORTF_CONVERTER};
        return a;
    }

    const std::vector<FormatTag>& tags() const override {
        static const std::vector<FormatTag> t = [] {
            FormatTag pcm{
                VX_WAVE_FORMAT_PCM, "PCM", VX_ACMDRIVERDETAILS_SUPPORTF_CONVERTER, {}, kPcmBytes};
            for (uint16_t bits : {8, 16})
                for (uint16_t channels = 1; channels <= 2; ++channels)
                    for (uint32_t rate : kRates)
                        pcm.standard.push_back(pcm_format(rate, channels, bits));
            return std::vector<FormatTag>{pcm};
        }();
        return t;
    }

    bool knows(const WAVEFORMATEX& f, uint32_t) const override { return convertible(f); }

    uint32_t converts(const WAVEFORMATEX& src, uint32_t, const WAVEFORMATEX& dst,
                      uint32_t) const override {
        return convertible(src) && convertible(dst) ? VX_MMSYSERR_NOERROR : VX_ACMERR_NOTPOSSIBLE;
    }

    uint32_t suggest(const WAVEFORMATEX& src, uint32_t, uint32_t flags, WAVEFORMATEX* dst,
                     uint32_t room) const override {
        if ((flags & VX_ACM_FORMATSUGGESTF_WFORMATTAG) != 0 &&
            dst->wFormatTag != VX_WAVE_FORMAT_PCM)
            return VX_ACMERR_NOTPOSSIBLE;
        // The source's layout where the caller fixed nothing.
        const Format f = pcm_format(
            (flags & VX_ACM_FORMATSUGGESTF_NSAMPLESPERSEC) != 0 ? dst->nSamplesPerSec
                                                                : src.nSamplesPerSec,
            (flags & VX_ACM_FORMATSUGGESTF_NCHANNELS) != 0 ? dst->nChannels : src.nChannels,
            (flags & VX_ACM_FORMATSUGGESTF_WBITSPERSAMPLE) != 0 ? dst->wBitsPerSample
                                                                : src.wBitsPerSample);
        if (!convertible(*as_wave(f))) return VX_ACMERR_NOTPOSSIBLE;
        if (room < kPcmBytes) return VX_MMSYSERR_INVALPARAM;
        std::memcpy(dst, f.data(), kPcmBytes);
        return VX_MMSYSERR_NOERROR;
    }

    std::unique_ptr<Converter> open(const WAVEFORMATEX& src, const WAVEFORMATEX& dst,
                                    uint32_t* result) const override {
        auto r = std::unique_ptr<Resampler>(new (std::nothrow) Resampler(src, dst));
        if (!r || !r->setup()) {
            *result = VX_MMSYSERR_NOMEM;
            return nullptr;
        }
        *result = VX_MMSYSERR_NOERROR;
        return r;
    }
};

}  // namespace

const Module& module() {
    static const PcmModule m;
    return m;
}

}  // namespace vxacm
