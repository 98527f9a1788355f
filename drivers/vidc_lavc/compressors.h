// The compressors the module serves, one per handler code it is installed
// under ("vidc.MJPG=vidc_lavc.so"): which libavcodec encoder, which bitmap
// code it writes, what it tells callers about itself, and which picture
// sizes and pixel layouts it encodes.
#pragma once

// Before libav's headers, which need its constant macros.
#include <cstdint>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavutil/pixfmt.h>
}

namespace vxlavc {

enum class SizeRule {
    kAny,          // 1..kMaxDimension either way
    kMultipleOf4,  // the encoder works on 4x4 blocks of whole pictures
    kDvStandard,   // 720x480 or 720x576 only
    kMpeg4,        // up to 8191 either way (13-bit fields)
};

struct Compressor {
    uint32_t handler;  // the profile key's code, compared without regard to case
    uint32_t tag;      // biCompression of what it writes
    AVCodecID codec;
    const char* name;         // ICINFO szName (ASCII)
    const char* description;  // ICINFO szDescription (ASCII)
    uint32_t flags;           // VX_VIDCF_
    // The quality it compresses at when asked for VX_ICQUALITY_DEFAULT;
    // 10000 for the lossless ones, 0 when it has no quality at all.
    uint32_t defaultQuality;
    // Frames from one key frame to the next when the caller asks for none;
    // 1 for those that make key frames only.
    uint32_t keyFrameRate;
    SizeRule sizes;
    // Its own periodic key frames come from a counter libavcodec does not
    // reset for a picture marked as a key frame: a forced key frame needs a
    // fresh encoder.
    bool keyFramesNeedReopen;
    // The decoder reads biBitCount as the coding mode, so the output format
    // carries the coded depth rather than the input's.
    bool depthIsMode;
};

// The compressor installed under `handler`; null for any other code (the
// catch-all decompressor key "lavc" among them).
const Compressor* find_compressor(uint32_t handler);

// Compares four-character codes without regard to case.
bool same_code(uint32_t a, uint32_t b);

bool size_accepted(const Compressor& c, int width, int height);

// The pixel layout the encoder takes for input of `bitCount` bits a pixel.
AVPixelFormat coded_pixel_format(const Compressor& c, int bitCount, int height);

// biBitCount of the output format for input of `bitCount` bits.
uint16_t coded_bit_count(const Compressor& c, int bitCount);

// The most bytes one compressed frame takes (the encoder's own worst case);
// 0 when that does not fit the 32-bit sizes of the interface.
uint32_t max_frame_bytes(const Compressor& c, int width, int height, int bitCount);

// libavcodec's quantiser scale for a quality of 0..10000 (or
// VX_ICQUALITY_DEFAULT): 2 for 10000, 31 for 0.
int quality_to_qscale(const Compressor& c, uint32_t quality);

}  // namespace vxlavc
