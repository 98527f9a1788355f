// Checks of the formats handed to a compressor: the uncompressed bitmaps it
// takes (BI_RGB of 8 bits with a colour table, 16 (5-5-5), 24 and 32 bits;
// BI_BITFIELDS of 16 bits 5-5-5 or 5-6-5 and of 32 bits), the compressed
// format it writes, and that format built for a caller.
#pragma once

#include <vxmedia/vxtypes.h>

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <cstddef>
#include <cstdint>
#include <vector>

#include "compressors.h"

namespace vxlavc {

struct SourceFormat {
    int width = 0;
    int height = 0;  // absolute
    bool topDown = false;
    int bitCount = 0;
    std::size_t rowBytes = 0;  // padded to 4
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    // 8 bits: the colour table as swscale takes it (0xAARRGGBB, opaque);
    // entries past biClrUsed are black.
    std::vector<uint32_t> palette;

    std::size_t image_bytes() const { return rowBytes * static_cast<std::size_t>(height); }
};

// ICERR_OK with `*out` filled, or ICERR_BADFORMAT. A non-zero biSizeImage
// must cover the rows.
int check_source(const Compressor& c, const BITMAPINFOHEADER* bi, SourceFormat* out);

// ICERR_OK when `bo` is a format this compressor writes for `source`.
int check_compressed(const Compressor& c, const SourceFormat& source, const BITMAPINFOHEADER* bo);

// The compressed format for `source`: 40 bytes, then `extradata` (the
// decoder's set-up bytes, when the encoder has any). `bo` holds 40 +
// extradata.size() bytes.
void write_compressed(const Compressor& c, const SourceFormat& source,
                      const std::vector<uint8_t>& extradata, BITMAPINFOHEADER* bo);

}  // namespace vxlavc
