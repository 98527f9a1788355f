// vxavi convert: every video frame decoded through the library's frame
// decoder and compressed again through the installed compressor named by
// its handler code; the first audio stream copied, or converted through an
// installed audio codec. The result is written by the library's writer.
#include <vxmedia/vxcodecmgr.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audio_convert.h"
#include "avi_output.h"
#include "commands.h"
#include "printing.h"
#include "progress.h"
#include "video_decoder.h"

namespace vxavi {

namespace {

constexpr uint32_t kVids = VX_MAKEFOURCC('v', 'i', 'd', 's');

// An open compressor, closed at the end.
struct Compressor {
    VxCodec codec = nullptr;
    bool begun = false;
    ~Compressor() {
        if (begun) VxCodecSend(codec, VX_ICM_COMPRESS_END, 0, 0);
        VxCodecClose(codec);
    }
};

// Pictures as the compressor takes them: bottom-up rows of `bits` (8, 24 or
// 32) per pixel, blue first; 8-bit pictures index a fixed palette of 6
// levels of red, 7 of green and 6 of blue.
struct Frame {
    union {
        BITMAPINFOHEADER format;
        uint8_t formatBytes[sizeof(BITMAPINFOHEADER) + 256 * 4];
    };
    std::vector<uint8_t> pixels;

    Frame() : formatBytes{} {}
    Frame(const Frame& other) : formatBytes{}, pixels(other.pixels) {
        std::memcpy(formatBytes, other.formatBytes, sizeof formatBytes);
    }
    Frame& operator=(const Frame& other) {
        std::memcpy(formatBytes, other.formatBytes, sizeof formatBytes);
        pixels = other.pixels;
        return *this;
    }

    void set_up(int32_t width, int32_t height, uint16_t bits) {
        std::memset(formatBytes, 0, sizeof formatBytes);
        format.biSize = sizeof format;
        format.biWidth = width;
        format.biHeight = height;
        format.biPlanes = 1;
        format.biBitCount = bits;
        format.biSizeImage = static_cast<uint32_t>(row_bytes(static_cast<uint32_t>(width), bits) *
                                                   static_cast<uint32_t>(height));
        if (bits == 8) {
            format.biClrUsed = 6 * 7 * 6;
            uint8_t* table = formatBytes + sizeof format;
            for (uint32_t i = 0; i < format.biClrUsed; ++i) {
                table[4 * i + 0] = static_cast<uint8_t>((i % 6) * 255 / 5);
                table[4 * i + 1] = static_cast<uint8_t>((i / 6 % 7) * 255 / 6);
                table[4 * i + 2] = static_cast<uint8_t>((i / 42) * 255 / 5);
            }
        }
        pixels.assign(format.biSizeImage, 0);
    }
    void fill(const Picture& p) {
        const uint16_t bits = format.biBitCount;
        const std::size_t stride = row_bytes(static_cast<uint32_t>(format.biWidth), bits);
        std::vector<uint8_t> bgr(static_cast<std::size_t>(p.width()) * 3);
        for (int32_t y = 0; y < format.biHeight; ++y) {
            p.bgr_row(p.stored_index(y), bgr.data());
            uint8_t* row =
                pixels.data() + stride * static_cast<std::size_t>(format.biHeight - 1 - y);
            for (int32_t x = 0; x < format.biWidth; ++x) {
                const uint8_t* c = &bgr[3 * static_cast<std::size_t>(x)];
                if (bits == 24) {
                    std::memcpy(row + 3 * x, c, 3);
                } else if (bits == 32) {
                    std::memcpy(row + 4 * x, c, 3);
                    row[4 * x + 3] = 0;
                } else {
                    const auto level = [](uint8_t v, int steps) {
                        return (v * (steps - 1) + 127) / 255;
                    };
                    row[x] = static_cast<uint8_t>(level(c[2], 6) * 42 + level(c[1], 7) * 6 +
                                                  level(c[0], 6));
                }
            }
        }
    }
};

std::string code_name(uint32_t code) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>(code >> (8 * i));
    return s;
}

}  // namespace

int run_convert(const Options& options) {
    if (writes_over_input(options, "cannot convert " + options.path + " into itself"))
        return kExitUsage;
    const std::unique_ptr<AviFile> avi = AviFile::open(options.path);
    if (!avi) return kExitFileError;
    AviReader* r = avi->reader();
    if (r->videoStream < 0) {
        print_error(options.path + " has no video stream");
        return kExitFileError;
    }
    std::unique_ptr<VideoDecoder> decoder = VideoDecoder::open(*avi, options.path);
    if (!decoder) return kExitFileError;
    const uint32_t frames = std::min<uint32_t>(decoder->frames(), r->videoIndex.count);
    const Picture* first = frames > 0 ? decoder->decode(0) : nullptr;
    if (first == nullptr) {
        if (frames == 0) print_error(options.path + " has no video frames");
        return kExitFileError;
    }
    const int32_t width = first->width(), height = first->rows();

    Compressor c;
    c.codec = VxCodecOpen(VX_CODEC_TYPE_VIDEO, options.videoCodec, VX_ICMODE_COMPRESS);
    if (c.codec == nullptr) {
        print_error("no installed video compressor '" + code_name(options.videoCodec) + "'");
        return kExitFileError;
    }
    VxIcInfo info{};
    VxCodecGetInfo(c.codec, &info);
    // 24-bit input first; a compressor that takes only 32 or 8 bits gets those.
    Frame in;
    bool taken = false;
    for (uint16_t bits : {uint16_t{24}, uint16_t{32}, uint16_t{8}}) {
        in.set_up(width, height, bits);
        if (VxCodecSend(c.codec, VX_ICM_COMPRESS_QUERY, reinterpret_cast<intptr_t>(&in.format),
                        0) == VX_ICERR_OK) {
            taken = true;
            break;
        }
    }
    if (!taken) {
        print_error("the compressor '" + code_name(options.videoCodec) + "' does not take " +
                    std::to_string(width) + "x" + std::to_string(height) + " RGB pictures");
        return kExitFileError;
    }
    const auto inArg = reinterpret_cast<intptr_t>(&in.format);
    const intptr_t formatBytes = VxCodecSend(c.codec, VX_ICM_COMPRESS_GET_FORMAT, inArg, 0);
    if (formatBytes < static_cast<intptr_t>(sizeof(BITMAPINFOHEADER)) || formatBytes > 65536) {
        print_error("the compressor '" + code_name(options.videoCodec) +
                    "' gives no usable format size");
        return kExitFileError;
    }
    // Room for a whole header even when the codec asks for less.
    std::vector<uint8_t> outFormatBytes(
        std::max<std::size_t>(static_cast<std::size_t>(formatBytes), sizeof(BITMAPINFOHEADER)));
    auto* outFormat = reinterpret_cast<BITMAPINFOHEADER*>(outFormatBytes.data());
    const intptr_t sizeAnswer = VxCodecSend(c.codec, VX_ICM_COMPRESS_GET_FORMAT, inArg,
                                            reinterpret_cast<intptr_t>(outFormat)) == VX_ICERR_OK
                                    ? VxCodecSend(c.codec, VX_ICM_COMPRESS_GET_SIZE, inArg,
                                                  reinterpret_cast<intptr_t>(outFormat))
                                    : 0;
    if (sizeAnswer <= 0 || sizeAnswer > (intptr_t{1} << 28)) {
        print_error("the compressor '" + code_name(options.videoCodec) +
                    "' gives no usable frame size");
        return kExitFileError;
    }
    const std::vector<uint8_t> storedFormat(outFormatBytes.begin(),
                                            outFormatBytes.begin() + formatBytes);
    if (VxCodecSend(c.codec, VX_ICM_COMPRESS_BEGIN, inArg, reinterpret_cast<intptr_t>(outFormat)) !=
        VX_ICERR_OK) {
        print_error("the compressor '" + code_name(options.videoCodec) + "' refuses to begin");
        return kExitFileError;
    }
    c.begun = true;

    uint32_t quality = options.quality ? *options.quality : 0xFFFFFFFFu;  // the codec's default
    if (!options.quality && (info.dwFlags & VX_VIDCF_QUALITY) != 0) {
        uint32_t q = 0;
        if (VxCodecSend(c.codec, VX_ICM_GETDEFAULTQUALITY, reinterpret_cast<intptr_t>(&q),
                        sizeof q) == VX_ICERR_OK &&
            q <= 10000)
            quality = q;
    }
    const bool needsPrevious =
        (info.dwFlags & VX_VIDCF_TEMPORAL) != 0 && (info.dwFlags & VX_VIDCF_FASTTEMPORALC) == 0;

    // The output: the source's timing, the compressor's format.
    const AviStreamRecord* video = aviGetAVIStream(r, static_cast<uint32_t>(r->videoStream));
    AudioPlan audio;
    if (!plan_audio(*avi, options, &audio)) return kExitFileError;

    SegmentSize segmentSize;
    if (options.segmentMb && !segmentSize.set(*options.segmentMb)) return kExitUsage;
    MainAVIHeader header{};
    header.dwMicroSecPerFrame = r->mainHeader.dwMicroSecPerFrame;
    header.dwTotalFrames = frames;
    header.dwWidth = static_cast<uint32_t>(width);
    header.dwHeight = static_cast<uint32_t>(height);
    std::optional<AviOutput> out = AviOutput::create(options.output, header);
    if (!out) return kExitFileError;
    AVIStreamHeader vh{};
    vh.fccType = kVids;
    vh.fccHandler = info.fccHandler != 0 ? info.fccHandler : options.videoCodec;
    vh.dwScale = video->header.dwScale;
    vh.dwRate = video->header.dwRate;
    vh.dwQuality = quality;
    vh.rcFrame = {0, 0, static_cast<int16_t>(width), static_cast<int16_t>(height)};
    const int32_t videoOut =
        out->add_stream(vh, storedFormat.data(), static_cast<uint32_t>(storedFormat.size()));
    if (videoOut < 0) return kExitFileError;
    int32_t audioOut = -1;
    if (audio.present) {
        audioOut = out->add_stream(audio.header, audio.format.data(),
                                   static_cast<uint32_t>(audio.format.size()));
        if (audioOut < 0) return kExitFileError;
    }

    std::vector<uint8_t> packet(static_cast<std::size_t>(sizeAnswer));
    Frame previous;
    Progress progress("convert", frames);
    uint64_t audioLength = 0;
    for (uint32_t n = 0; n < frames; ++n) {
        const Picture* p = n == 0 ? first : decoder->decode(n);
        if (p == nullptr) return kExitFileError;
        if (p->width() != width || p->rows() != height) {
            print_error("frame " + std::to_string(n) + " of " + options.path +
                        " has another picture size");
            return kExitFileError;
        }
        in.fill(*p);
        const bool askKey = n == 0 || (options.keyInterval != 0 && n % options.keyInterval == 0);
        std::memcpy(outFormat, storedFormat.data(), sizeof(BITMAPINFOHEADER));
        outFormat->biSizeImage = static_cast<uint32_t>(packet.size());
        uint32_t flags = 0;
        const intptr_t rc =
            VxCodecCompress(c.codec, askKey ? VX_ICCOMPRESS_KEYFRAME : 0, outFormat, packet.data(),
                            &in.format, in.pixels.data(), &flags, static_cast<int32_t>(n), quality,
                            needsPrevious && n > 0 ? &previous.format : nullptr,
                            needsPrevious && n > 0 ? previous.pixels.data() : nullptr);
        if (rc != VX_ICERR_OK || outFormat->biSizeImage > packet.size()) {
            print_error("the compressor '" + code_name(options.videoCodec) + "' failed on frame " +
                        std::to_string(n) + " (" + std::to_string(rc) + ")");
            return kExitFileError;
        }
        if (!out->write(videoOut, packet.data(), outFormat->biSizeImage, kTypeCompressed,
                        (flags & VX_AVIIF_KEYFRAME) != 0 ? AVIIF_KEYFRAME : 0))
            return kExitFileError;
        if (needsPrevious) previous = in;
        if (audio.present && !write_audio_until(*avi, audio, *out, audioOut,
                                                static_cast<uint64_t>(n + 1), &audioLength))
            return kExitFileError;
        progress.update(n + 1, out->bytes());
    }
    if (audio.present && !finish_audio(*avi, audio, *out, audioOut, &audioLength))
        return kExitFileError;
    progress.finish();
    return out->close(frames, static_cast<uint32_t>(std::min<uint64_t>(audioLength, UINT32_MAX)))
               ? kExitOk
               : kExitFileError;
}

}  // namespace vxavi
