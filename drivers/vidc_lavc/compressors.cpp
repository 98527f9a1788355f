#include "compressors.h"

#include <vxmedia/driver.h>

#include "formats.h"

namespace vxlavc {
namespace {

constexpr uint32_t code(const char (&c)[5]) {
    return static_cast<uint32_t>(static_cast<unsigned char>(c[0])) |
           static_cast<uint32_t>(static_cast<unsigned char>(c[1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(c[2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(c[3])) << 24;
}

constexpr uint32_t kTemporal = VX_VIDCF_TEMPORAL | VX_VIDCF_FASTTEMPORALC;
// Key frames of the temporal ones when the caller leaves it to the codec.
constexpr uint32_t kKeyFrameRate = 15;

// Nothing here honours a frame size (VIDCF_CRUNCH): libavcodec's encoders
// aim at a quantiser, not at a byte count per frame.
const Compressor kCompressors[] = {
    {code("MJPG"), code("MJPG"), AV_CODEC_ID_MJPEG, "MJPEG", "MJPEG (libavcodec)", VX_VIDCF_QUALITY,
     8500, 1, SizeRule::kAny, false, false},
    {code("FFV1"), code("FFV1"), AV_CODEC_ID_FFV1, "FFV1", "FFV1 lossless (libavcodec)", 0, 10000,
     1, SizeRule::kAny, false, false},
    {code("HFYU"), code("HFYU"), AV_CODEC_ID_HUFFYUV, "HuffYUV", "HuffYUV lossless (libavcodec)", 0,
     10000, 1, SizeRule::kAny, false, true},
    {code("FMP4"), code("FMP4"), AV_CODEC_ID_MPEG4, "MPEG-4", "MPEG-4 Visual (libavcodec)",
     VX_VIDCF_QUALITY | kTemporal, 8500, kKeyFrameRate, SizeRule::kMpeg4, false, false},
    {code("dvsd"), code("dvsd"), AV_CODEC_ID_DVVIDEO, "DV", "DV (libavcodec)", 0, 0, 1,
     SizeRule::kDvStandard, false, false},
    {code("MSVC"), code("MSVC"), AV_CODEC_ID_MSVIDEO1, "Video 1", "Video 1 (libavcodec)", kTemporal,
     0, kKeyFrameRate, SizeRule::kMultipleOf4, true, true},
    {code("cvid"), code("cvid"), AV_CODEC_ID_CINEPAK, "Cinepak", "Cinepak (libavcodec)",
     VX_VIDCF_QUALITY | kTemporal, 9000, kKeyFrameRate, SizeRule::kMultipleOf4, true, true},
};

constexpr uint32_t lower(uint32_t c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// libavcodec's packet buffers: no frame comes out bigger.
constexpr uint64_t kMinBuffer = 16384;             // AV_INPUT_BUFFER_MIN_SIZE
constexpr uint64_t kMacroblockBytes = 3000 + 100;  // the MPEG encoders' worst macroblock
constexpr uint64_t kDvNtscBytes = 120000, kDvPalBytes = 144000;
constexpr uint64_t kLargestFrame = 1u << 30;

uint64_t blocks(int width, int height, int side) {
    return static_cast<uint64_t>((width + side - 1) / side) *
           static_cast<uint64_t>((height + side - 1) / side);
}

}  // namespace

bool same_code(uint32_t a, uint32_t b) {
    for (int shift = 0; shift < 32; shift += 8)
        if (lower((a >> shift) & 0xFF) != lower((b >> shift) & 0xFF)) return false;
    return true;
}

const Compressor* find_compressor(uint32_t handler) {
    for (const Compressor& c : kCompressors)
        if (same_code(c.handler, handler)) return &c;
    return nullptr;
}

bool size_accepted(const Compressor& c, int width, int height) {
    if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension) return false;
    switch (c.sizes) {
        case SizeRule::kAny:
            return true;
        case SizeRule::kMultipleOf4:
            return width % 4 == 0 && height % 4 == 0;
        case SizeRule::kDvStandard:
            return width == 720 && (height == 480 || height == 576);
        case SizeRule::kMpeg4:
            return width <= 8191 && height <= 8191;
    }
    return false;
}

AVPixelFormat coded_pixel_format(const Compressor& c, int bitCount, int height) {
    switch (c.codec) {
        case AV_CODEC_ID_MJPEG:
            // Full range, as JPEG pictures are and as ffmpeg reads MJPG.
            return AV_PIX_FMT_YUVJ420P;
        case AV_CODEC_ID_FFV1:
            return AV_PIX_FMT_BGR0;  // lossless for every input depth
        case AV_CODEC_ID_HUFFYUV:
            return bitCount == 32 ? AV_PIX_FMT_BGRA : AV_PIX_FMT_RGB24;
        case AV_CODEC_ID_DVVIDEO:
            // The 25 Mbit/s layouts: 4:1:1 for 525 lines, 4:2:0 for 625.
            return height == 480 ? AV_PIX_FMT_YUV411P : AV_PIX_FMT_YUV420P;
        case AV_CODEC_ID_MSVIDEO1:
            return AV_PIX_FMT_RGB555LE;
        case AV_CODEC_ID_CINEPAK:
            return AV_PIX_FMT_RGB24;
        default:
            return AV_PIX_FMT_YUV420P;
    }
}

uint16_t coded_bit_count(const Compressor& c, int bitCount) {
    if (!c.depthIsMode) return static_cast<uint16_t>(bitCount);
    switch (c.codec) {
        case AV_CODEC_ID_HUFFYUV:
            return bitCount == 32 ? 32 : 24;
        case AV_CODEC_ID_MSVIDEO1:  // 8 would mean its palettised mode
            return bitCount == 8 ? 16 : static_cast<uint16_t>(bitCount);
        default:  // Cinepak: 8 would mean its palettised mode
            return bitCount == 8 ? 24 : static_cast<uint16_t>(bitCount);
    }
}

uint32_t max_frame_bytes(const Compressor& c, int width, int height, int bitCount) {
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    uint64_t bytes = 0;
    switch (c.codec) {
        case AV_CODEC_ID_MJPEG:
        case AV_CODEC_ID_MPEG4:
            bytes = blocks(width, height, 16) * kMacroblockBytes + 10000 + kMinBuffer;
            break;
        case AV_CODEC_ID_FFV1:  // under 32 bits for each of three samples
            bytes = pixels * 12 + kMinBuffer;
            break;
        case AV_CODEC_ID_HUFFYUV:  // codes of at most 32 bits a sample
            bytes = pixels * (bitCount == 32 ? 16 : 12) + kMinBuffer;
            break;
        case AV_CODEC_ID_DVVIDEO:
            bytes = height == 480 ? kDvNtscBytes : kDvPalBytes;
            break;
        case AV_CODEC_ID_MSVIDEO1:  // 18 bytes a 4x4 block, a skip code, the end code
            bytes = blocks(width, height, 4) * 20 + 16;
            break;
        case AV_CODEC_ID_CINEPAK: {  // up to 3 strips, each with full codebooks
            const uint64_t mbs = blocks(width, height, 4);
            bytes = 10 + 3 * (12 + 12 + 2 * 6 * 256 + 4 * (mbs + (mbs + 15) / 16) + 64) + 1024;
            break;
        }
        default:
            return 0;
    }
    return bytes <= kLargestFrame ? static_cast<uint32_t>(bytes) : 0;
}

int quality_to_qscale(const Compressor& c, uint32_t quality) {
    if (quality == static_cast<uint32_t>(VX_ICQUALITY_DEFAULT)) quality = c.defaultQuality;
    if (quality > VX_ICQUALITY_HIGH) quality = VX_ICQUALITY_HIGH;
    return 2 + static_cast<int>(((VX_ICQUALITY_HIGH - quality) * 29 + 5000) / VX_ICQUALITY_HIGH);
}

}  // namespace vxlavc
