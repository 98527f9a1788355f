#include "encoder.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <cstring>
#include <new>

namespace vxlavc {
namespace {

// The caller's flags for what it wants of a frame, and the key flag it reads.
constexpr uint32_t kKeyFrameAsked = VX_ICCOMPRESS_KEYFRAME;
constexpr int kSwsFlags = SWS_BICUBIC;  // ffmpeg's own default

AVRational time_base_of(const Compressor& c, int height) {
    // The DV encoder picks its frame layout from the rate.
    if (c.codec == AV_CODEC_ID_DVVIDEO && height == 480) return {1001, 30000};
    return {1, 25};
}

int open_context(const Compressor& c, const SourceFormat& s, CodecContextPtr* out) {
    const AVCodec* codec = avcodec_find_encoder(c.codec);
    if (codec == nullptr) return VX_ICERR_BADFORMAT;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) return VX_ICERR_MEMORY;
    context->width = s.width;
    context->height = s.height;
    context->pix_fmt = coded_pixel_format(c, s.bitCount, s.height);
    context->codec_tag = c.tag;
    context->time_base = time_base_of(c, s.height);
    context->framerate = av_inv_q(context->time_base);
    // One thread and no B-frames: each frame's packet comes out of the call
    // that gave the frame.
    context->thread_count = 1;
    context->max_b_frames = 0;
    context->gop_size = static_cast<int>(c.keyFrameRate);
    // These two count frames since their last key frame against keyint_min:
    // Video 1 makes a key frame once the count passes it, Cinepak when it
    // reaches it.
    if (c.codec == AV_CODEC_ID_MSVIDEO1) context->keyint_min = static_cast<int>(c.keyFrameRate) - 1;
    if (c.codec == AV_CODEC_ID_CINEPAK) context->keyint_min = static_cast<int>(c.keyFrameRate);
    if (c.flags & VX_VIDCF_QUALITY) {
        context->flags |= AV_CODEC_FLAG_QSCALE;
        context->global_quality =
            quality_to_qscale(c, static_cast<uint32_t>(VX_ICQUALITY_DEFAULT)) * FF_QP2LAMBDA;
    }
    if (c.codec == AV_CODEC_ID_MJPEG) context->color_range = AVCOL_RANGE_JPEG;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return VX_ICERR_BADFORMAT;
    *out = std::move(context);
    return VX_ICERR_OK;
}

FramePtr make_frame(AVPixelFormat format, int width, int height) {
    FramePtr frame(av_frame_alloc());
    if (!frame) return frame;
    frame->format = format;
    frame->width = width;
    frame->height = height;
    // Default alignment pads rows and planes for swscale's vector loads
    // and stores.
    if (av_frame_get_buffer(frame.get(), 0) < 0) return nullptr;
    // What swscale reads past the pictures is then never left over from
    // other use of the memory: the same frames give the same bytes.
    for (AVBufferRef* b : frame->buf)
        if (b != nullptr) std::memset(b->data, 0, b->size);
    return frame;
}

}  // namespace

Encoder::Encoder(const Compressor& c, const SourceFormat& source, uint32_t capacity)
    : compressor_(c), source_(source), capacity_(capacity), packet_(av_packet_alloc()) {}

int Encoder::begin(const Compressor& c, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out,
                   std::unique_ptr<Encoder>* made) {
    SourceFormat source;
    if (check_source(c, in, &source) != VX_ICERR_OK) return VX_ICERR_BADFORMAT;
    if (check_compressed(c, source, out) != VX_ICERR_OK) return VX_ICERR_BADFORMAT;
    const uint32_t capacity =
        vxlavc::max_frame_bytes(c, source.width, source.height, source.bitCount);
    std::unique_ptr<Encoder> encoder(new (std::nothrow) Encoder(c, source, capacity));
    if (!encoder || !encoder->packet_) return VX_ICERR_MEMORY;
    encoder->staged_ = make_frame(source.pixelFormat, source.width, source.height);
    encoder->picture_ = make_frame(coded_pixel_format(c, source.bitCount, source.height),
                                   source.width, source.height);
    if (!encoder->staged_ || !encoder->picture_) return VX_ICERR_MEMORY;
    encoder->sws_.reset(sws_getContext(source.width, source.height, source.pixelFormat,
                                       source.width, source.height,
                                       static_cast<AVPixelFormat>(encoder->picture_->format),
                                       kSwsFlags, nullptr, nullptr, nullptr));
    if (!encoder->sws_) return VX_ICERR_BADFORMAT;
    if (const int r = encoder->open(); r != VX_ICERR_OK) return r;
    *made = std::move(encoder);
    return VX_ICERR_OK;
}

int Encoder::extradata(const Compressor& c, const SourceFormat& source, std::vector<uint8_t>* out) {
    CodecContextPtr context;
    if (const int r = open_context(c, source, &context); r != VX_ICERR_OK) return r;
    const uint8_t* bytes = context->extradata;
    const int size = context->extradata_size;
    out->assign(bytes, bytes + (bytes != nullptr && size > 0 ? size : 0));
    return VX_ICERR_OK;
}

int Encoder::open() {
    context_.reset();
    sinceOpen_ = 0;
    return open_context(compressor_, source_, &context_);
}

int Encoder::stage(const BITMAPINFOHEADER* in, const uint8_t* bits) {
    SourceFormat now;
    if (check_source(compressor_, in, &now) != VX_ICERR_OK) return VX_ICERR_BADFORMAT;
    // The layout is the one begun with; a colour table may change.
    if (now.width != source_.width || now.height != source_.height ||
        now.topDown != source_.topDown || now.pixelFormat != source_.pixelFormat)
        return VX_ICERR_BADFORMAT;
    if (av_frame_make_writable(staged_.get()) < 0) return VX_ICERR_MEMORY;
    const std::size_t pixel = static_cast<std::size_t>(source_.bitCount / 8);
    const std::size_t pixels = static_cast<std::size_t>(source_.width) * pixel;
    const auto stride = static_cast<std::size_t>(staged_->linesize[0]);
    for (int y = 0; y < source_.height; ++y) {
        const int row = source_.topDown ? y : source_.height - 1 - y;
        uint8_t* to = staged_->data[0] + stride * static_cast<std::size_t>(y);
        std::memcpy(to, bits + source_.rowBytes * static_cast<std::size_t>(row), pixels);
        // swscale reads past a row's last pixel (its partner in 4:2:0 pairs
        // of odd widths): it finds that pixel again.
        for (std::size_t at = pixels; at + pixel <= stride; at += pixel)
            std::memcpy(to + at, to + pixels - pixel, pixel);
    }
    if (source_.pixelFormat == AV_PIX_FMT_PAL8)
        std::memcpy(staged_->data[1], now.palette.data(), now.palette.size() * sizeof(uint32_t));
    if (av_frame_make_writable(picture_.get()) < 0) return VX_ICERR_MEMORY;
    if (sws_scale(sws_.get(), staged_->data, staged_->linesize, 0, source_.height, picture_->data,
                  picture_->linesize) != source_.height)
        return VX_ICERR_ERROR;
    return VX_ICERR_OK;
}

int Encoder::encode(bool forceKey, uint32_t quality, bool* key) {
    if (forceKey && compressor_.keyFramesNeedReopen && sinceOpen_ > 0) {
        if (const int r = open(); r != VX_ICERR_OK) return r;
    }
    picture_->pts = pts_++;
    picture_->pict_type = forceKey ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    picture_->quality = 0;
    if (compressor_.flags & VX_VIDCF_QUALITY)
        picture_->quality = quality_to_qscale(compressor_, quality) * FF_QP2LAMBDA;
    if (avcodec_send_frame(context_.get(), picture_.get()) < 0) return VX_ICERR_ERROR;
    ++sinceOpen_;
    av_packet_unref(packet_.get());
    if (avcodec_receive_packet(context_.get(), packet_.get()) < 0) return VX_ICERR_ERROR;
    *key = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
    return VX_ICERR_OK;
}

int Encoder::compress(const VxIcCompress& r) {
    if (r.lpbiInput == nullptr || r.lpInput == nullptr || r.lpbiOutput == nullptr ||
        r.lpOutput == nullptr)
        return VX_ICERR_BADPARAM;
    // The output buffer must hold what GET_SIZE promised: its format says so.
    if (r.lpbiOutput->biSizeImage < capacity_) return VX_ICERR_BADPARAM;
    if (const int s = stage(r.lpbiInput, static_cast<const uint8_t*>(r.lpInput)); s != VX_ICERR_OK)
        return s;
    bool key = false;
    if (const int e = encode((r.dwFlags & kKeyFrameAsked) != 0, r.dwQuality, &key);
        e != VX_ICERR_OK)
        return e;
    const auto size = static_cast<uint32_t>(packet_->size);
    if (packet_->size < 0 || size > capacity_) return VX_ICERR_ERROR;  // never past the promise
    std::memcpy(r.lpOutput, packet_->data, size);
    av_packet_unref(packet_.get());
    r.lpbiOutput->biSizeImage = size;
    if (r.lpdwFlags != nullptr) *r.lpdwFlags = key ? VX_AVIIF_KEYFRAME : 0;
    return VX_ICERR_OK;
}

}  // namespace vxlavc
