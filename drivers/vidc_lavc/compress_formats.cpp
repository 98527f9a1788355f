#include "compress_formats.h"

#include <vxmedia/driver.h>

#include <cstring>

#include "formats.h"

namespace vxlavc {
namespace {

constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

struct Masks {
    uint32_t red, green, blue;
};

// BI_BITFIELDS masks follow the 40-byte header (inside a longer header,
// at the same place).
Masks masks_of(const BITMAPINFOHEADER* bi) {
    Masks m{};
    const auto* bytes = reinterpret_cast<const uint8_t*>(bi) + kHeaderBytes;
    std::memcpy(&m, bytes, sizeof m);
    return m;
}

AVPixelFormat bitfields_format(const BITMAPINFOHEADER* bi) {
    const Masks m = masks_of(bi);
    if (bi->biBitCount == 16 && m.red == 0x7C00 && m.green == 0x03E0 && m.blue == 0x001F)
        return AV_PIX_FMT_RGB555LE;
    if (bi->biBitCount == 16 && m.red == 0xF800 && m.green == 0x07E0 && m.blue == 0x001F)
        return AV_PIX_FMT_RGB565LE;
    if (bi->biBitCount == 32 && m.red == 0xFF0000 && m.green == 0xFF00 && m.blue == 0xFF)
        return AV_PIX_FMT_BGR0;
    return AV_PIX_FMT_NONE;
}

}  // namespace

int check_source(const Compressor& c, const BITMAPINFOHEADER* bi, SourceFormat* out) {
    if (bi == nullptr || bi->biSize < kHeaderBytes || bi->biSize - kHeaderBytes > kMaxExtradata)
        return VX_ICERR_BADFORMAT;
    if (!valid_size(bi->biWidth, bi->biHeight)) return VX_ICERR_BADFORMAT;
    const int height = bi->biHeight < 0 ? -bi->biHeight : bi->biHeight;
    if (!size_accepted(c, bi->biWidth, height)) return VX_ICERR_BADFORMAT;

    SourceFormat f;
    if (bi->biCompression == kBiRgb)
        f.pixelFormat = rgb_pixel_format(bi->biBitCount);
    else if (bi->biCompression == kBiBitfields)
        f.pixelFormat = bitfields_format(bi);
    if (f.pixelFormat == AV_PIX_FMT_NONE) return VX_ICERR_BADFORMAT;

    f.width = bi->biWidth;
    f.height = height;
    f.topDown = bi->biHeight < 0;
    f.bitCount = bi->biBitCount;
    f.rowBytes = row_bytes(f.width, f.bitCount);
    if (bi->biSizeImage != 0 && bi->biSizeImage < f.image_bytes()) return VX_ICERR_BADFORMAT;
    // Frames that could outgrow the interface's 32-bit sizes are not taken.
    if (max_frame_bytes(c, f.width, f.height, f.bitCount) == 0) return VX_ICERR_BADFORMAT;

    if (f.pixelFormat == AV_PIX_FMT_PAL8) {
        if (bi->biClrUsed > 256) return VX_ICERR_BADFORMAT;
        f.palette = palette_of(bi, f.bitCount);
    }
    *out = f;
    return VX_ICERR_OK;
}

int check_compressed(const Compressor& c, const SourceFormat& source, const BITMAPINFOHEADER* bo) {
    if (bo == nullptr || bo->biSize < kHeaderBytes || bo->biSize - kHeaderBytes > kMaxExtradata)
        return VX_ICERR_BADFORMAT;
    if (!same_code(bo->biCompression, c.tag) || bo->biWidth != source.width ||
        !valid_size(bo->biWidth, bo->biHeight) ||
        (bo->biHeight < 0 ? -bo->biHeight : bo->biHeight) != source.height)
        return VX_ICERR_BADFORMAT;
    if (c.depthIsMode && bo->biBitCount != coded_bit_count(c, source.bitCount))
        return VX_ICERR_BADFORMAT;
    return VX_ICERR_OK;
}

void write_compressed(const Compressor& c, const SourceFormat& source,
                      const std::vector<uint8_t>& extradata, BITMAPINFOHEADER* bo) {
    std::memset(bo, 0, sizeof *bo);
    bo->biSize = kHeaderBytes + static_cast<uint32_t>(extradata.size());
    bo->biWidth = source.width;
    bo->biHeight = source.height;
    bo->biPlanes = 1;
    // The input's depth where the decoder does not read it, so that a caller
    // trying depths learns which ones are taken.
    bo->biBitCount = coded_bit_count(c, source.bitCount);
    bo->biCompression = c.tag;
    bo->biSizeImage = max_frame_bytes(c, source.width, source.height, source.bitCount);
    if (!extradata.empty())
        std::memcpy(reinterpret_cast<uint8_t*>(bo) + kHeaderBytes, extradata.data(),
                    extradata.size());
}

}  // namespace vxlavc
