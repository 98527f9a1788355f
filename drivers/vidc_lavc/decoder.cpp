#include "decoder.h"

#include <vxmedia/driver.h>

#include <cstring>

namespace vxlavc {
namespace {

// Larger than any frame of a 16384 x 16384 picture at 32 bits; a bigger
// packet is a caller's mistake, not a frame.
constexpr uint32_t kMaxPacket = 1u << 30;

int set_extradata(AVCodecContext* context, const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return VX_ICERR_OK;
    auto* copy = static_cast<uint8_t*>(av_mallocz(bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE));
    if (copy == nullptr) return VX_ICERR_MEMORY;
    std::memcpy(copy, bytes.data(), bytes.size());
    context->extradata = copy;  // freed with the context
    context->extradata_size = static_cast<int>(bytes.size());
    return VX_ICERR_OK;
}

}  // namespace

Decoder::Decoder(CodecContextPtr context, const OutputLayout& layout, std::vector<uint32_t> palette)
    : context_(std::move(context)),
      packet_(av_packet_alloc()),
      picture_(av_frame_alloc()),
      converter_(layout),
      palette_(std::move(palette)) {}

int Decoder::begin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out,
                   std::unique_ptr<Decoder>* made) {
    InputFormat input;
    if (check_input(in, &input) != VX_ICERR_OK) return VX_ICERR_BADFORMAT;
    OutputLayout layout;
    if (check_output(out, input, &layout) != VX_ICERR_OK) return VX_ICERR_BADFORMAT;

    const AVCodec* codec = avcodec_find_decoder(input.codec);
    if (codec == nullptr) return VX_ICERR_BADFORMAT;
    CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) return VX_ICERR_MEMORY;
    context->width = input.width;
    context->height = input.height;
    context->codec_tag = input.tag;
    context->bits_per_coded_sample = input.bitCount;
    // One thread: each packet gives its picture before the call returns,
    // where the codec has no reordering delay of its own.
    context->thread_count = 1;
    if (const int r = set_extradata(context.get(), extradata_of(in, input)); r != VX_ICERR_OK)
        return r;
    if (avcodec_open2(context.get(), codec, nullptr) < 0) return VX_ICERR_BADFORMAT;

    std::unique_ptr<Decoder> decoder(
        new (std::nothrow) Decoder(std::move(context), layout, palette_of(in, input.bitCount)));
    if (!decoder || !decoder->packet_ || !decoder->picture_) return VX_ICERR_MEMORY;
    *made = std::move(decoder);
    return VX_ICERR_OK;
}

int Decoder::send(const uint8_t* data, uint32_t size) {
    if (size > kMaxPacket) return VX_ICERR_BADPARAM;
    if (draining_) {
        // Packets after a drain begin a new run of the stream.
        avcodec_flush_buffers(context_.get());
        draining_ = drained_ = false;
        given_ = out_ = 0;
    }
    av_packet_unref(packet_.get());
    if (av_new_packet(packet_.get(), static_cast<int>(size)) < 0) return VX_ICERR_MEMORY;
    std::memcpy(packet_->data, data, size);
    // Given with every packet: palettised decoders take it from whichever
    // packet carries it, and a session may start at any key frame.
    if (!palette_.empty()) {
        uint8_t* side = av_packet_new_side_data(packet_.get(), AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
        if (side == nullptr) return VX_ICERR_MEMORY;
        std::memcpy(side, palette_.data(), AVPALETTE_SIZE);
    }
    const int r = avcodec_send_packet(context_.get(), packet_.get());
    av_packet_unref(packet_.get());
    if (r < 0) return VX_ICERR_ERROR;
    ++given_;
    return VX_ICERR_OK;
}

int Decoder::receive(bool convert, uint8_t* output, bool all) {
    int result = VX_ICERR_DONTDRAW;
    // Usually one picture; a decoder catching up may give several, and the
    // last one written stays.
    do {
        const int r = avcodec_receive_frame(context_.get(), picture_.get());
        if (r == AVERROR_EOF) drained_ = true;
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) break;
        if (r < 0) return VX_ICERR_ERROR;
        ++out_;
        const bool ok = !convert || converter_.convert(*picture_, output);
        av_frame_unref(picture_.get());
        if (!ok) return VX_ICERR_ERROR;
        result = VX_ICERR_OK;
    } while (all);
    return result;
}

int Decoder::decode(const uint8_t* data, uint32_t size, bool convert, uint8_t* output) {
    if (const int r = send(data, size); r != VX_ICERR_OK) return r;
    return receive(convert, output, true);
}

int Decoder::drain(bool convert, uint8_t* output) {
    if (held() == 0) return VX_ICERR_DONTDRAW;
    if (!draining_) {
        draining_ = true;
        if (avcodec_send_packet(context_.get(), nullptr) < 0) drained_ = true;
    }
    return receive(convert, output, false);
}

uint32_t Decoder::held() const {
    if (drained_ || out_ >= given_) return 0;
    const uint64_t waiting = given_ - out_;
    const auto reorder =
        static_cast<uint64_t>(context_->has_b_frames > 0 ? context_->has_b_frames : 0);
    return static_cast<uint32_t>(waiting < reorder ? waiting : reorder);
}

}  // namespace vxlavc
