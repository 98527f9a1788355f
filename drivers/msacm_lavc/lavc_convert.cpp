#include "lavc_convert.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

#include "../vidc_lavc/lav_ptr.h"
#include "audio_ptr.h"
#include "wave_formats.h"

namespace vxacm {
namespace {

using vxlavc::CodecContextPtr;
using vxlavc::FramePtr;
using vxlavc::PacketPtr;

// G.711 has one-sample blocks: converted this many at a time.
constexpr uint32_t kBatch = 4096;

const char* encoder_name(uint16_t tag) {
    switch (tag) {
        case VX_WAVE_FORMAT_IMA_ADPCM:
            return "adpcm_ima_wav";
        case VX_WAVE_FORMAT_ADPCM:
            return "adpcm_ms";
        case VX_WAVE_FORMAT_ALAW:
            return "pcm_alaw";
        case VX_WAVE_FORMAT_MULAW:
            return "pcm_mulaw";
        case VX_WAVE_FORMAT_GSM610:
            return "libgsm_ms";  // the only GSM encoder Debian's libavcodec has
        default:
            return nullptr;
    }
}

AVCodecID decoder_id(uint16_t tag) {
    switch (tag) {
        case VX_WAVE_FORMAT_IMA_ADPCM:
            return AV_CODEC_ID_ADPCM_IMA_WAV;
        case VX_WAVE_FORMAT_ADPCM:
            return AV_CODEC_ID_ADPCM_MS;
        case VX_WAVE_FORMAT_ALAW:
            return AV_CODEC_ID_PCM_ALAW;
        case VX_WAVE_FORMAT_MULAW:
            return AV_CODEC_ID_PCM_MULAW;
        case VX_WAVE_FORMAT_GSM610:
            return AV_CODEC_ID_GSM_MS;
        case VX_WAVE_FORMAT_MPEGLAYER3:
            return AV_CODEC_ID_MP3;
        default:
            return AV_CODEC_ID_NONE;
    }
}

int16_t read_s16(const uint8_t* p) { return static_cast<int16_t>(p[0] | p[1] << 8); }
void write_s16(uint8_t* p, int16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
}

bool batched(const CodedFormat& f) { return f.samplesPerBlock == 1; }

CodecContextPtr context_for(const AVCodec* codec, const CodedFormat& f) {
    CodecContextPtr ctx(codec != nullptr ? avcodec_alloc_context3(codec) : nullptr);
    if (!ctx) return ctx;
    ctx->sample_rate = static_cast<int>(f.rate);
    av_channel_layout_default(&ctx->ch_layout, f.channels);
    ctx->block_align = f.blockAlign;
    ctx->thread_count = 1;
    ctx->log_level_offset = kQuietLogOffset;
    return ctx;
}

// A decoded picture of 16-bit samples, planar or not, as interleaved bytes.
bool copy_out(const AVFrame* frame, uint32_t channels, uint8_t* out) {
    const auto fmt = static_cast<AVSampleFormat>(frame->format);
    if (fmt != AV_SAMPLE_FMT_S16 && fmt != AV_SAMPLE_FMT_S16P) return false;
    if (frame->ch_layout.nb_channels != static_cast<int>(channels)) return false;
    const int n = frame->nb_samples;
    for (int i = 0; i < n; ++i) {
        for (uint32_t c = 0; c < channels; ++c) {
            const int16_t v =
                fmt == AV_SAMPLE_FMT_S16P
                    ? reinterpret_cast<const int16_t*>(frame->extended_data[c])[i]
                    : reinterpret_cast<const int16_t*>(frame->data[0])[i * channels + c];
            write_s16(out + (static_cast<std::size_t>(i) * channels + c) * 2, v);
        }
    }
    return true;
}

class Encoder final : public Converter {
public:
    Encoder(const CodedFormat& f, CodecContextPtr ctx)
        : f_(f), ctx_(std::move(ctx)), frame_(av_frame_alloc()), packet_(av_packet_alloc()) {}
    bool ready() const { return frame_ && packet_; }

    uint32_t convert(const uint8_t* src, uint32_t srcBytes, uint8_t* dst, uint32_t dstBytes,
                     uint32_t flags, uint32_t* srcUsed, uint32_t* dstUsed) override {
        const uint32_t pcmAlign = 2u * f_.channels;
        const uint32_t frames = srcBytes / pcmAlign;
        uint32_t done = 0, written = 0;
        if (batched(f_)) {
            const uint32_t n = std::min(frames, dstBytes / f_.blockAlign);
            while (done < n) {
                const uint32_t step = std::min(kBatch, n - done);
                if (!encode(src + done * pcmAlign, step, step, dst + written))
                    return VX_MMSYSERR_ERROR;
                done += step;
                written += step * f_.blockAlign;
            }
        } else {
            const uint32_t spb = f_.samplesPerBlock;
            const uint32_t room = dstBytes / f_.blockAlign;
            const uint32_t blocks = std::min(frames / spb, room);
            for (uint32_t b = 0; b < blocks; ++b) {
                if (!encode(src + done * pcmAlign, spb, spb, dst + written))
                    return VX_MMSYSERR_ERROR;
                done += spb;
                written += f_.blockAlign;
            }
            // The end of the source, padded to a block, unless only whole
            // blocks were asked for.
            const uint32_t rest = frames - done;
            if ((flags & VX_ACM_STREAMCONVERTF_BLOCKALIGN) == 0 && rest > 0 && rest < spb &&
                blocks < room) {
                if (!encode(src + done * pcmAlign, rest, spb, dst + written))
                    return VX_MMSYSERR_ERROR;
                done += rest;
                written += f_.blockAlign;
            }
        }
        *srcUsed = done * pcmAlign;
        *dstUsed = written;
        return VX_MMSYSERR_NOERROR;
    }

    uint32_t size(VxAcmDrvStreamSize* s) const override {
        const uint64_t pcmAlign = 2u * f_.channels;
        const uint64_t spb = f_.samplesPerBlock;
        if (s->fdwSize == VX_ACM_STREAMSIZEF_SOURCE) {
            const uint64_t blocks = (s->cbSrcLength / pcmAlign + spb - 1) / spb;
            return stream_bytes(blocks * f_.blockAlign, &s->cbDstLength) ? VX_MMSYSERR_NOERROR
                                                                         : VX_ACMERR_NOTPOSSIBLE;
        }
        const uint64_t blocks = s->cbDstLength / f_.blockAlign;
        return stream_bytes(blocks * spb * pcmAlign, &s->cbSrcLength) ? VX_MMSYSERR_NOERROR
                                                                      : VX_ACMERR_NOTPOSSIBLE;
    }

private:
    // `frames` samples of the source, padded with silence to `padded`, into
    // one packet of the expected size.
    bool encode(const uint8_t* pcm, uint32_t frames, uint32_t padded, uint8_t* out) {
        av_frame_unref(frame_.get());
        frame_->nb_samples = static_cast<int>(padded);
        frame_->format = ctx_->sample_fmt;
        frame_->sample_rate = ctx_->sample_rate;
        if (av_channel_layout_copy(&frame_->ch_layout, &ctx_->ch_layout) < 0 ||
            av_frame_get_buffer(frame_.get(), 0) < 0)
            return false;
        const bool planar = ctx_->sample_fmt == AV_SAMPLE_FMT_S16P;
        const uint32_t ch = f_.channels;
        for (uint32_t i = 0; i < padded; ++i) {
            for (uint32_t c = 0; c < ch; ++c) {
                const int16_t v = i < frames ? read_s16(pcm + (i * ch + c) * 2) : 0;
                if (planar)
                    reinterpret_cast<int16_t*>(frame_->extended_data[c])[i] = v;
                else
                    reinterpret_cast<int16_t*>(frame_->data[0])[i * ch + c] = v;
            }
        }
        if (avcodec_send_frame(ctx_.get(), frame_.get()) < 0 ||
            avcodec_receive_packet(ctx_.get(), packet_.get()) < 0)
            return false;
        const uint32_t expected = batched(f_) ? padded * f_.blockAlign : f_.blockAlign;
        const bool ok = packet_->size == static_cast<int>(expected);
        if (ok) std::memcpy(out, packet_->data, expected);
        av_packet_unref(packet_.get());
        return ok;
    }

    CodedFormat f_;
    CodecContextPtr ctx_;
    FramePtr frame_;
    PacketPtr packet_;
};

class BlockDecoder final : public Converter {
public:
    BlockDecoder(const CodedFormat& f, CodecContextPtr ctx)
        : f_(f), ctx_(std::move(ctx)), frame_(av_frame_alloc()), packet_(av_packet_alloc()) {}
    bool ready() const { return frame_ && packet_; }

    uint32_t convert(const uint8_t* src, uint32_t srcBytes, uint8_t* dst, uint32_t dstBytes,
                     uint32_t flags, uint32_t* srcUsed, uint32_t* dstUsed) override {
        if ((flags & VX_ACM_STREAMCONVERTF_START) != 0) avcodec_flush_buffers(ctx_.get());
        const uint32_t pcmAlign = 2u * f_.channels;
        uint32_t read = 0, written = 0;
        if (batched(f_)) {
            const uint32_t n = std::min(srcBytes / f_.blockAlign, dstBytes / pcmAlign);
            for (uint32_t done = 0; done < n;) {
                const uint32_t step = std::min(kBatch, n - done);
                decode(src + read, step * f_.blockAlign, step, dst + written);
                done += step;
                read += step * f_.blockAlign;
                written += step * pcmAlign;
            }
        } else {
            const uint32_t blockOut = f_.samplesPerBlock * pcmAlign;
            const uint32_t blocks = std::min(srcBytes / f_.blockAlign, dstBytes / blockOut);
            for (uint32_t b = 0; b < blocks; ++b) {
                decode(src + read, f_.blockAlign, f_.samplesPerBlock, dst + written);
                read += f_.blockAlign;
                written += blockOut;
            }
        }
        *srcUsed = read;
        *dstUsed = written;
        return VX_MMSYSERR_NOERROR;
    }

    uint32_t size(VxAcmDrvStreamSize* s) const override {
        const uint64_t blockOut = uint64_t{f_.samplesPerBlock} * 2u * f_.channels;
        if (s->fdwSize == VX_ACM_STREAMSIZEF_SOURCE) {
            const uint64_t blocks = s->cbSrcLength / f_.blockAlign;
            return stream_bytes(blocks * blockOut, &s->cbDstLength) ? VX_MMSYSERR_NOERROR
                                                                    : VX_ACMERR_NOTPOSSIBLE;
        }
        const uint64_t blocks = s->cbDstLength / blockOut;
        return stream_bytes(blocks * f_.blockAlign, &s->cbSrcLength) ? VX_MMSYSERR_NOERROR
                                                                     : VX_ACMERR_NOTPOSSIBLE;
    }

private:
    // One packet into `samples` frames of output; silence when the decoder
    // rejects it or gives another count.
    void decode(const uint8_t* in, uint32_t bytes, uint32_t samples, uint8_t* out) {
        const std::size_t outBytes = std::size_t{samples} * 2u * f_.channels;
        bool ok = av_new_packet(packet_.get(), static_cast<int>(bytes)) == 0;
        if (ok) {
            std::memcpy(packet_->data, in, bytes);
            ok = avcodec_send_packet(ctx_.get(), packet_.get()) == 0 &&
                 avcodec_receive_frame(ctx_.get(), frame_.get()) == 0 &&
                 frame_->nb_samples == static_cast<int>(samples) &&
                 copy_out(frame_.get(), f_.channels, out);
        }
        av_packet_unref(packet_.get());
        av_frame_unref(frame_.get());
        while (avcodec_receive_frame(ctx_.get(), frame_.get()) == 0) av_frame_unref(frame_.get());
        if (!ok) std::memset(out, 0, outBytes);
    }

    CodedFormat f_;
    CodecContextPtr ctx_;
    FramePtr frame_;
    PacketPtr packet_;
};

}  // namespace

std::unique_ptr<Converter> make_encoder(const CodedFormat& out, uint32_t* result) {
    *result = VX_ACMERR_NOTPOSSIBLE;
    const char* name = encoder_name(out.tag);
    const AVCodec* codec = name != nullptr ? avcodec_find_encoder_by_name(name) : nullptr;
    if (codec == nullptr || codec->sample_fmts == nullptr) return nullptr;
    CodecContextPtr ctx = context_for(codec, out);
    if (!ctx) {
        *result = VX_MMSYSERR_NOMEM;
        return nullptr;
    }
    ctx->sample_fmt = codec->sample_fmts[0];
    if (ctx->sample_fmt != AV_SAMPLE_FMT_S16 && ctx->sample_fmt != AV_SAMPLE_FMT_S16P)
        return nullptr;
    AVDictionary* options = nullptr;
    if (out.tag == VX_WAVE_FORMAT_IMA_ADPCM || out.tag == VX_WAVE_FORMAT_ADPCM)
        av_dict_set_int(&options, "block_size", out.blockAlign, 0);
    const int opened = avcodec_open2(ctx.get(), codec, &options);
    av_dict_free(&options);
    // The encoder must make the blocks the format says.
    if (opened < 0 || ctx->block_align != out.blockAlign ||
        (!batched(out) && ctx->frame_size != static_cast<int>(out.samplesPerBlock)))
        return nullptr;
    auto encoder = std::unique_ptr<Encoder>(new (std::nothrow) Encoder(out, std::move(ctx)));
    if (!encoder || !encoder->ready()) {
        *result = VX_MMSYSERR_NOMEM;
        return nullptr;
    }
    *result = VX_MMSYSERR_NOERROR;
    return encoder;
}

namespace {

std::unique_ptr<Converter> make_block_decoder(const CodedFormat& in, uint32_t* result) {
    *result = VX_ACMERR_NOTPOSSIBLE;
    CodecContextPtr ctx = context_for(avcodec_find_decoder(decoder_id(in.tag)), in);
    if (!ctx) return nullptr;
    ctx->bits_per_coded_sample =
        in.tag == VX_WAVE_FORMAT_IMA_ADPCM || in.tag == VX_WAVE_FORMAT_ADPCM ? 4 : 8;
    if (avcodec_open2(ctx.get(), ctx->codec, nullptr) < 0) return nullptr;
    auto decoder =
        std::unique_ptr<BlockDecoder>(new (std::nothrow) BlockDecoder(in, std::move(ctx)));
    if (!decoder || !decoder->ready()) {
        *result = VX_MMSYSERR_NOMEM;
        return nullptr;
    }
    *result = VX_MMSYSERR_NOERROR;
    return decoder;
}

}  // namespace

std::unique_ptr<Converter> make_decoder(const CodedFormat& in, uint32_t* result) {
    if (in.tag == VX_WAVE_FORMAT_MPEGLAYER3) return make_mp3_decoder(in, result);
    return make_block_decoder(in, result);
}

}  // namespace vxacm
