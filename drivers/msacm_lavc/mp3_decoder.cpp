// MP3 to 16-bit PCM: libavcodec's parser finds the frames wherever the
// caller's buffers cut them, its decoder decodes them, and libswresample
// makes interleaved 16-bit samples of its output, as ffmpeg's own conversion
// does. What does not fit the destination is held for the next call; the
// source is read only while nothing is held, so at most one frame's samples
// wait.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include "../vidc_lavc/lav_ptr.h"
#include "audio_ptr.h"
#include "lavc_convert.h"
#include "wave_formats.h"

namespace vxacm {
namespace {

// The fewest bytes and the most samples of a frame (the lowest bit rate of
// each MPEG version), for the stream size of a source.
uint64_t min_frame_bytes(uint32_t rate) {
    return rate >= 32000 ? 144 * 32000 / rate : 72 * 8000 / rate;
}
uint64_t frame_samples(uint32_t rate) { return rate >= 32000 ? 1152 : 576; }

class Mp3Decoder final : public Converter {
public:
    explicit Mp3Decoder(const CodedFormat& f) : f_(f) {}

    uint32_t setup() {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MP3);
        if (codec == nullptr) return VX_ACMERR_NOTPOSSIBLE;
        ctx_.reset(avcodec_alloc_context3(codec));
        packet_.reset(av_packet_alloc());
        frame_.reset(av_frame_alloc());
        parser_.reset(av_parser_init(AV_CODEC_ID_MP3));
        if (!ctx_ || !packet_ || !frame_ || !parser_) return VX_MMSYSERR_NOMEM;
        ctx_->sample_rate = static_cast<int>(f_.rate);
        av_channel_layout_default(&ctx_->ch_layout, f_.channels);
        ctx_->thread_count = 1;
        ctx_->log_level_offset = kQuietLogOffset;
        return avcodec_open2(ctx_.get(), codec, nullptr) == 0 ? VX_MMSYSERR_NOERROR
                                                              : VX_ACMERR_NOTPOSSIBLE;
    }

    uint32_t convert(const uint8_t* src, uint32_t srcBytes, uint8_t* dst, uint32_t dstBytes,
                     uint32_t flags, uint32_t* srcUsed, uint32_t* dstUsed) override {
        if ((flags & VX_ACM_STREAMCONVERTF_START) != 0 && !restart()) return VX_MMSYSERR_NOMEM;
        Output out{dst, dstBytes, 0};
        give(out);
        uint32_t read = 0;
        while (held() == 0 && read < srcBytes) {
            uint8_t* data = nullptr;
            int size = 0;
            // The parser reads past the bytes it is given (its padding): it
            // gets a padded copy, never the caller's buffer itself.
            const uint32_t chunk = std::min<uint32_t>(srcBytes - read, kParseChunk);
            padded_.assign(chunk + AV_INPUT_BUFFER_PADDING_SIZE, 0);
            std::memcpy(padded_.data(), src + read, chunk);
            const int used =
                av_parser_parse2(parser_.get(), ctx_.get(), &data, &size, padded_.data(),
                                 static_cast<int>(chunk), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            if (used < 0) break;
            read += static_cast<uint32_t>(used);
            if (size > 0 && !decode(data, size)) return VX_MMSYSERR_NOMEM;
            give(out);
            if (used == 0 && size == 0) break;
        }
        // At the end, the frame the parser still holds and what the decoder
        // keeps back.
        if ((flags & VX_ACM_STREAMCONVERTF_END) != 0 && read == srcBytes && held() == 0) {
            uint8_t* data = nullptr;
            int size = 0;
            av_parser_parse2(parser_.get(), ctx_.get(), &data, &size, nullptr, 0, AV_NOPTS_VALUE,
                             AV_NOPTS_VALUE, 0);
            if (size > 0 && !decode(data, size)) return VX_MMSYSERR_NOMEM;
            if (!decode(nullptr, 0)) return VX_MMSYSERR_NOMEM;
            avcodec_flush_buffers(ctx_.get());
            give(out);
        }
        *srcUsed = read;
        *dstUsed = out.written;
        return VX_MMSYSERR_NOERROR;
    }

    uint32_t size(VxAcmDrvStreamSize* s) const override {
        const uint64_t pcmAlign = 2u * f_.channels;
        if (s->fdwSize == VX_ACM_STREAMSIZEF_SOURCE) {
            // Every frame as short as it can be, and one more the parser held.
            const uint64_t frames = s->cbSrcLength / min_frame_bytes(f_.rate) + 1;
            return stream_bytes(frames * frame_samples(f_.rate) * pcmAlign, &s->cbDstLength)
                       ? VX_MMSYSERR_NOERROR
                       : VX_ACMERR_NOTPOSSIBLE;
        }
        if (f_.bytesPerSecond == 0) return VX_ACMERR_NOTPOSSIBLE;
        const uint64_t samples = s->cbDstLength / pcmAlign;
        return stream_bytes(samples * f_.bytesPerSecond / f_.rate, &s->cbSrcLength)
                   ? VX_MMSYSERR_NOERROR
                   : VX_ACMERR_NOTPOSSIBLE;
    }

private:
    struct Output {
        uint8_t* at;
        uint32_t room;
        uint32_t written;
    };

    std::size_t held() const { return held_.size() - heldAt_; }

    void give(Output& out) {
        const std::size_t n = std::min<std::size_t>(held(), out.room - out.written);
        if (n == 0) return;
        std::memcpy(out.at + out.written, held_.data() + heldAt_, n);
        out.written += static_cast<uint32_t>(n);
        heldAt_ += n;
        if (heldAt_ == held_.size()) held_.clear(), heldAt_ = 0;
    }

    bool restart() {
        held_.clear();
        heldAt_ = 0;
        avcodec_flush_buffers(ctx_.get());
        parser_.reset(av_parser_init(AV_CODEC_ID_MP3));
        return parser_ != nullptr;
    }

    // Sends one packet (null: the end) and keeps its samples. False only
    // when memory runs out; a damaged frame is skipped.
    bool decode(const uint8_t* data, int size) {
        int sent = 0;
        if (data != nullptr) {
            if (av_new_packet(packet_.get(), size) < 0) return false;
            std::memcpy(packet_->data, data, static_cast<std::size_t>(size));
            sent = avcodec_send_packet(ctx_.get(), packet_.get());
            av_packet_unref(packet_.get());
        } else {
            sent = avcodec_send_packet(ctx_.get(), nullptr);
        }
        if (sent < 0) return true;
        while (avcodec_receive_frame(ctx_.get(), frame_.get()) == 0) {
            const bool kept = keep(frame_.get());
            av_frame_unref(frame_.get());
            if (!kept) return false;
        }
        return true;
    }

    // A frame at another rate than the format's is dropped: the stream
    // converts no rates.
    bool keep(const AVFrame* frame) {
        if (frame->sample_rate != static_cast<int>(f_.rate) || frame->nb_samples <= 0) return true;
        if (!swr_ || frame->format != inFormat_ ||
            av_channel_layout_compare(&frame->ch_layout, &inLayout_) != 0) {
            // A layout the resampler cannot take: the frame is dropped.
            if (!configure(frame)) return true;
        }
        const int most = swr_get_out_samples(swr_.get(), frame->nb_samples);
        if (most <= 0) return true;
        const std::size_t at = held_.size();
        try {
            held_.resize(at + std::size_t(most) * 2u * f_.channels);
        } catch (const std::bad_alloc&) {
            return false;
        }
        uint8_t* out = held_.data() + at;
        const int got =
            swr_convert(swr_.get(), &out, most, const_cast<const uint8_t**>(frame->extended_data),
                        frame->nb_samples);
        held_.resize(at + std::size_t(std::max(got, 0)) * 2u * f_.channels);
        return true;
    }

    bool configure(const AVFrame* frame) {
        swr_.reset();
        inFormat_ = -1;
        av_channel_layout_uninit(&inLayout_);
        if (av_channel_layout_copy(&inLayout_, &frame->ch_layout) < 0) return false;
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, f_.channels);
        SwrContext* s = nullptr;
        if (swr_alloc_set_opts2(&s, &outLayout, AV_SAMPLE_FMT_S16, frame->sample_rate, &inLayout_,
                                static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0,
                                nullptr) < 0)
            return false;
        swr_.reset(s);
        av_opt_set_int(s, "log_level_offset", kQuietLogOffset, 0);
        if (swr_init(swr_.get()) < 0) {
            swr_.reset();
            return false;
        }
        inFormat_ = frame->format;
        return true;
    }

    CodedFormat f_;
    vxlavc::CodecContextPtr ctx_;
    vxlavc::PacketPtr packet_;
    vxlavc::FramePtr frame_;
    ParserPtr parser_;
    SwrPtr swr_;
    int inFormat_ = -1;
    AVChannelLayout inLayout_{};
    std::vector<uint8_t> held_;
    std::vector<uint8_t> padded_;  // the bytes the parser is given
    static constexpr uint32_t kParseChunk = 64 * 1024;
    std::size_t heldAt_ = 0;

public:
    ~Mp3Decoder() override { av_channel_layout_uninit(&inLayout_); }
};

}  // namespace

std::unique_ptr<Converter> make_mp3_decoder(const CodedFormat& in, uint32_t* result) {
    auto decoder = std::unique_ptr<Mp3Decoder>(new (std::nothrow) Mp3Decoder(in));
    if (!decoder) {
        *result = VX_MMSYSERR_NOMEM;
        return nullptr;
    }
    *result = decoder->setup();
    if (*result != VX_MMSYSERR_NOERROR) return nullptr;
    return decoder;
}

}  // namespace vxacm
