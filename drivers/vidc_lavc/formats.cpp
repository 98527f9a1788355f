#include "formats.h"

#include <vxmedia/driver.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <cstring>

namespace vxlavc {
namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

AVCodecID codec_for_tag(uint32_t tag) {
    const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_id(tables, tag);
}

}  // namespace

bool valid_size(int32_t width, int32_t height) {
    // Compare in 64 bits: -INT32_MIN does not fit.
    const int64_t h = height < 0 ? -static_cast<int64_t>(height) : height;
    return width >= 1 && width <= kMaxDimension && h >= 1 && h <= kMaxDimension;
}

std::size_t row_bytes(int width, int bitCount) {
    return ((static_cast<std::size_t>(width) * static_cast<std::size_t>(bitCount) + 31) / 32) * 4;
}

AVPixelFormat rgb_pixel_format(int bitCount) {
    switch (bitCount) {
        case 8:
            return AV_PIX_FMT_PAL8;
        case 16:
            return AV_PIX_FMT_RGB555LE;
        case 24:
            return AV_PIX_FMT_BGR24;
        case 32:
            return AV_PIX_FMT_BGR0;
        default:
            return AV_PIX_FMT_NONE;
    }
}

int check_input(const BITMAPINFOHEADER* bi, InputFormat* out) {
    if (bi == nullptr) return VX_ICERR_BADFORMAT;
    if (bi->biSize < kHeaderBytes || bi->biSize - kHeaderBytes > kMaxExtradata)
        return VX_ICERR_BADFORMAT;
    if (!valid_size(bi->biWidth, bi->biHeight)) return VX_ICERR_BADFORMAT;
    // Uncompressed bitmaps need no decompressor.
    if (bi->biCompression == kBiRgb || bi->biCompression == kBiBitfields) return VX_ICERR_BADFORMAT;
    const AVCodecID id = codec_for_tag(bi->biCompression);
    if (id == AV_CODEC_ID_NONE || avcodec_find_decoder(id) == nullptr) return VX_ICERR_BADFORMAT;
    out->codec = id;
    out->tag = bi->biCompression;
    out->width = bi->biWidth;
    out->height = bi->biHeight < 0 ? -bi->biHeight : bi->biHeight;
    out->bitCount = bi->biBitCount;
    out->extradataSize = bi->biSize - kHeaderBytes;
    return VX_ICERR_OK;
}

std::vector<uint8_t> extradata_of(const BITMAPINFOHEADER* bi, const InputFormat& in) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(bi);
    return std::vector<uint8_t>(bytes + kHeaderBytes, bytes + kHeaderBytes + in.extradataSize);
}

std::vector<uint32_t> palette_of(const BITMAPINFOHEADER* bi, int bitCount) {
    if (bitCount < 1 || bitCount > 8) return {};
    // As the bitmap convention has it: biClrUsed entries, or all that the
    // bit count can address when 0. Never more than that.
    const uint32_t most = 1u << bitCount;
    const uint32_t count = bi->biClrUsed == 0 || bi->biClrUsed > most ? most : bi->biClrUsed;
    const auto* table = reinterpret_cast<const uint8_t*>(bi) + bi->biSize;
    std::vector<uint32_t> palette(256, 0xFF000000u);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* q = table + 4 * i;  // blue, green, red, reserved
        palette[i] = 0xFF000000u | uint32_t{q[2]} << 16 | uint32_t{q[1]} << 8 | q[0];
    }
    return palette;
}

int check_output(const BITMAPINFOHEADER* bo, const InputFormat& in, OutputLayout* out) {
    if (bo == nullptr || bo->biSize < kHeaderBytes || bo->biCompression != kBiRgb)
        return VX_ICERR_BADFORMAT;
    // Decoded pictures are never palettised.
    const AVPixelFormat format = rgb_pixel_format(bo->biBitCount);
    if (format == AV_PIX_FMT_NONE || format == AV_PIX_FMT_PAL8) return VX_ICERR_BADFORMAT;
    if (bo->biWidth != in.width || !valid_size(bo->biWidth, bo->biHeight))
        return VX_ICERR_BADFORMAT;
    const int height = bo->biHeight < 0 ? -bo->biHeight : bo->biHeight;
    if (height != in.height) return VX_ICERR_BADFORMAT;
    const std::size_t rows = row_bytes(in.width, bo->biBitCount);
    // A stated image size below what the rows need would mean a short buffer.
    if (bo->biSizeImage != 0 && bo->biSizeImage < rows * static_cast<std::size_t>(height))
        return VX_ICERR_BADFORMAT;
    out->width = in.width;
    out->height = height;
    out->topDown = bo->biHeight < 0;
    out->bitCount = bo->biBitCount;
    out->rowBytes = rows;
    out->pixelFormat = format;
    return VX_ICERR_OK;
}

void default_output(const InputFormat& in, BITMAPINFOHEADER* bo) {
    std::memset(bo, 0, sizeof *bo);
    bo->biSize = kHeaderBytes;
    bo->biWidth = in.width;
    bo->biHeight = in.height;
    bo->biPlanes = 1;
    bo->biBitCount = 24;
    bo->biCompression = kBiRgb;
    bo->biSizeImage = static_cast<uint32_t>(row_bytes(in.width, 24) * in.height);
}

}  // namespace vxlavc
