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

// ICERR_OK with `*out` filled, or ICERR_BADFORMAT.
int check_input(const BITMAPINFOHEADER* bi, InputFormat* out);

// Codec set-up data: the bytes after the header up to biSize.
std::vector<uint8_t> extradata_of(const BITMAPINFOHEADER* bi, const InputFormat& in);

// The colour table after the header (at biSize) of a format of 8 bits or
// fewer, as libavcodec wants it (0xAARRGGBB, opaque); empty otherwise.
std::vector<uint32_t> palette_of(const BITMAPINFOHEADER* bi, const InputFormat& in);

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
