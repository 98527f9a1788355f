// Checks of the bitmap formats the codec manager hands over: which decoder
// an input format needs, and which output layouts the driver can fill.
#pragma once

#include <vxmedia/vxtypes.h>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/pixfmt.h>
}

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vxlavc {

constexpr int32_t kMaxDimension = 16384;
constexpr uint32_t kHeaderBytes = 40;
// Bytes after the 40-byte header that may be codec set-up data.
constexpr uint32_t kMaxExtradata = 1u << 20;

struct InputFormat {
    AVCodecID codec = AV_CODEC_ID_NONE;
    uint32_t tag = 0;
    int width = 0;
    int height = 0;  // absolute
    int bitCount = 0;
    uint32_t extradataSize = 0;  // bytes from offset 40 up to biSize
};

// Uncompressed bitmaps, as both sides of the driver take them.
// 1 to kMaxDimension pixels each way (the height's sign is the row order).
bool valid_size(int32_t width, int32_t height);
// Bytes of one stored row, padded to 4.
std::size_t row_bytes(int width, int bitCount);
// The layout of a BI_RGB bitmap of `bitCount` bits: PAL8, RGB555LE, BGR24 or
// BGR0 (the fourth byte unused); AV_PIX_FMT_NONE for other depths.
AVPixelFormat rgb_pixel_format(int bitCount);

// ICERR_OK with `*out` filled, or ICERR_BADFORMAT.
int check_input(const BITMAPINFOHEADER* bi, InputFormat* out);

// Codec set-up data: the bytes after the header up to biSize.
std::vector<uint8_t> extradata_of(const BITMAPINFOHEADER* bi, const InputFormat& in);

// The colour table after the header (at biSize) of a format of 8 bits or
// fewer, as libavcodec wants it (0xAARRGGBB, opaque); empty otherwise.
std::vector<uint32_t> palette_of(const BITMAPINFOHEADER* bi, int bitCount);

struct OutputLayout {
    int width = 0;
    int height = 0;  // absolute
    bool topDown = false;
    int bitCount = 0;
    std::size_t rowBytes = 0;  // padded to 4
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
};

// ICERR_OK with `*out` filled, or ICERR_BADFORMAT.
int check_output(const BITMAPINFOHEADER* bo, const InputFormat& in, OutputLayout* out);

// The format the driver proposes: 24-bit BI_RGB, bottom-up, the input's size.
void default_output(const InputFormat& in, BITMAPINFOHEADER* bo);

}  // namespace vxlavc
