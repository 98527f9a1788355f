// vx_bench_compress: compressing 640x480 frames through the codec manager
// (codec_compress) and the libavcodec driver module, against encoding the
// same frames with libavcodec directly, with the same encoder settings and
// the same swscale conversion from the same bottom-up 24-bit bitmaps. Each
// round times both once, rotating who goes first; the ratio is built from
// the median round times. Both must give the same packets.
#include <VexaInfo.h>
#include <vxmedia/driver.h>
#include <vxmedia/vxcodecs.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libswscale/swscale.h>
}

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_common.h"
#include "platform/video_codec.h"

namespace vxbench {
namespace {

namespace vp = vx::platform;
using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 640, kHeight = 480, kRounds = 9;
constexpr std::size_t kRow = kWidth * 3;  // a multiple of 4: no padding

struct Case {
    const char* handler;
    AVCodecID codec;
    AVPixelFormat format;
    int qscale;  // 0: no quality
};

// The driver's settings for these two at the default quality (8500 -> 6).
const Case kCases[] = {
    {"MJPG", AV_CODEC_ID_MJPEG, AV_PIX_FMT_YUVJ420P, 6},
    {"FFV1", AV_CODEC_ID_FFV1, AV_PIX_FMT_BGR0, 0},
};

uint32_t code_of(const char* t) {
    return uint32_t(uint8_t(t[0])) | uint32_t(uint8_t(t[1])) << 8 | uint32_t(uint8_t(t[2])) << 16 |
           uint32_t(uint8_t(t[3])) << 24;
}

// Bottom-up 24-bit bitmaps of a moving picture with detail and flat parts.
std::vector<Bytes> make_frames(int count) {
    std::vector<Bytes> frames;
    for (int f = 0; f < count; ++f) {
        Bytes b(kRow * kHeight);
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* row = &b[kRow * (kHeight - 1 - y)];
            for (int x = 0; x < kWidth; ++x) {
                row[3 * x] = uint8_t(128 + 100 * std::sin((x + 3 * f) / 11.0));
                row[3 * x + 1] = uint8_t((x * y / 97 + f) & 0xFF);
                row[3 * x + 2] = uint8_t(y / 2 + (((x / 16 + y / 16 + f) % 2) ? 60 : 0));
            }
        }
        frames.push_back(std::move(b));
    }
    return frames;
}

struct Result {
    uint64_t bytes = 0;
    uint64_t hash = 1469598103934665603ull;  // FNV-1a over every packet
    void add(const uint8_t* p, std::size_t n) {
        bytes += n;
        for (std::size_t i = 0; i < n; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
    }
};

Result through_driver(const Case& c, const std::vector<Bytes>& frames) {
    vp::CodecInstance codec =
        vp::codec_open(vp::kCodecTypeVideo, code_of(c.handler), vp::kCodecModeCompress);
    if (codec == nullptr) throw std::runtime_error(std::string("no compressor ") + c.handler);
    BITMAPINFOHEADER in{40, kWidth, kHeight, 1, 24, 0, 0, 0, 0, 0, 0};
    const auto pin = reinterpret_cast<intptr_t>(&in);
    Bytes format(std::size_t(vp::codec_send(codec, VX_ICM_COMPRESS_GET_FORMAT, pin, 0)));
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
    const auto pout = reinterpret_cast<intptr_t>(out);
    if (vp::codec_send(codec, VX_ICM_COMPRESS_GET_FORMAT, pin, pout) != VX_ICERR_OK ||
        vp::codec_send(codec, VX_ICM_COMPRESS_BEGIN, pin, pout) != VX_ICERR_OK)
        throw std::runtime_error("compressor refused the format");
    const uint32_t most = out->biSizeImage;
    Bytes buffer(most);
    Result r;
    for (const Bytes& frame : frames) {
        BITMAPINFOHEADER o = *out;
        o.biSizeImage = most;
        uint32_t flags = 0;
        if (vp::codec_compress(codec, 0, &o, buffer.data(), &in, frame.data(), nullptr, &flags, 0,
                               0, uint32_t(VX_ICQUALITY_DEFAULT), nullptr, nullptr) != VX_ICERR_OK)
            throw std::runtime_error("codec_compress failed");
        r.add(buffer.data(), o.biSizeImage);
    }
    vp::codec_send(codec, VX_ICM_COMPRESS_END, 0, 0);
    vp::codec_close(codec);
    return r;
}

Result direct(const Case& c, const std::vector<Bytes>& frames) {
    const AVCodec* codec = avcodec_find_encoder(c.codec);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->width = kWidth;
    ctx->height = kHeight;
    ctx->pix_fmt = c.format;
    ctx->codec_tag = code_of(c.handler);
    ctx->time_base = {1, 25};
    ctx->framerate = {25, 1};
    ctx->thread_count = 1;
    ctx->max_b_frames = 0;
    ctx->gop_size = 1;
    if (c.qscale != 0) {
        ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ctx->global_quality = c.qscale * FF_QP2LAMBDA;
    }
    if (c.codec == AV_CODEC_ID_MJPEG) ctx->color_range = AVCOL_RANGE_JPEG;
    if (avcodec_open2(ctx, codec, nullptr) < 0) throw std::runtime_error("avcodec_open2 failed");
    SwsContext* sws = sws_getContext(kWidth, kHeight, AV_PIX_FMT_BGR24, kWidth, kHeight, c.format,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr);
    AVFrame* picture = av_frame_alloc();
    picture->format = c.format;
    picture->width = kWidth;
    picture->height = kHeight;
    av_frame_get_buffer(picture, 0);
    AVPacket* packet = av_packet_alloc();
    Result r;
    int64_t pts = 0;
    for (const Bytes& frame : frames) {
        // Bottom-up rows: the last one first, with a negative stride.
        const uint8_t* src[4] = {frame.data() + kRow * (kHeight - 1), nullptr, nullptr, nullptr};
        const int strides[4] = {-int(kRow), 0, 0, 0};
        av_frame_make_writable(picture);
        sws_scale(sws, src, strides, 0, kHeight, picture->data, picture->linesize);
        picture->pts = pts++;
        picture->quality = c.qscale * FF_QP2LAMBDA;
        if (avcodec_send_frame(ctx, picture) < 0 || avcodec_receive_packet(ctx, packet) < 0)
            throw std::runtime_error("direct encoding failed");
        r.add(packet->data, std::size_t(packet->size));
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    av_frame_free(&picture);
    sws_freeContext(sws);
    avcodec_free_context(&ctx);
    return r;
}

void run(const Case& c, const std::vector<Bytes>& frames) {
    Rounds ours, theirs;
    Result a, b;
    for (int round = 0; round < kRounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const double t0 = seconds();
            if ((round + turn) % 2 == 0) {
                a = through_driver(c, frames);
                ours.add(seconds() - t0);
            } else {
                b = direct(c, frames);
                theirs.add(seconds() - t0);
            }
        }
    }
    if (a.bytes != b.bytes || a.hash != b.hash)
        std::printf(
            "# %s: the driver's packets differ from libavcodec's (%llu against %llu bytes)\n",
            c.handler, static_cast<unsigned long long>(a.bytes),
            static_cast<unsigned long long>(b.bytes));
    const double n = double(frames.size());
    char detail[160];
    std::snprintf(detail, sizeof detail,
                  "driver %.2f ms/frame, libavcodec %.2f ms/frame, %s packets, %.0f B/frame",
                  1e3 * ours.median() / n, 1e3 * theirs.median() / n,
                  a.hash == b.hash && a.bytes == b.bytes ? "same" : "DIFFERENT",
                  double(a.bytes) / n);
    report(std::string(c.handler) + " 640x480: driver time / direct time",
           ours.median() / theirs.median(), 1.1, false, detail);
}

// The video codec list with every shipped compressor installed: the first
// call loads the driver module, later calls only open and probe.
void time_codec_list() {
    const HostMemFuncs* mem = VxHostMemFuncs();
    auto once = [&] {
        const double t0 = seconds();
        VxHandle list = GetAVICodecs(mem);
        const double t = seconds() - t0;
        const uint32_t n = list != nullptr ? mem->getHandleSize(list) / 123 : 0;
        if (list != nullptr) mem->disposeHandle(list);
        return std::pair<double, uint32_t>(t, n);
    };
    const auto [first, entries] = once();
    Rounds later;
    for (int i = 0; i < kRounds; ++i) later.add(once().first);
    std::printf(
        "# GetAVICodecs, %u entries: first call %.2f ms (loads the module), later calls "
        "%.2f ms (median of %d)\n",
        entries, 1e3 * first, 1e3 * later.median(), kRounds);
}

}  // namespace
}  // namespace vxbench

int main() {
    using namespace vxbench;
    // The direct encoder's own remarks (swscale on the full-range format).
    av_log_set_level(AV_LOG_ERROR);
    // The driver module installed under both keys, through a profile of our own.
    const std::string profile = temp_dir() + "/profile.ini";
    std::ofstream list(profile);
    list << "[drivers32]\nvidc.lavc=" VX_LAVC_DRIVER_PATH "\n";
    for (const char* code : {"MJPG", "FMP4", "FFV1", "HFYU", "dvsd", "MSVC", "cvid"})
        list << "vidc." << code << "=" VX_LAVC_DRIVER_PATH "\n";
    list.close();
    setenv("VXMEDIA_PROFILE", profile.c_str(), 1);
    time_codec_list();
    const std::vector<Bytes> frames = make_frames(int(scaled(60)));
    std::printf("# vx_bench_compress: %zu frames of %dx%d, %d rounds\n", frames.size(), kWidth,
                kHeight, kRounds);
    try {
        for (const Case& c : kCases) run(c, frames);
    } catch (const std::exception& e) {
        std::printf("failed: %s\n", e.what());
        remove_temp_dir();
        return 1;
    }
    print_summary();
    remove_temp_dir();
    return 0;
}
