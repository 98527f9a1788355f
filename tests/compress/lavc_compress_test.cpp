// Compression through the codec manager's calls (platform/video_codec.h)
// and the libavcodec driver module installed under every compressor's key:
// frames of a moving pattern compressed here, stored with the library's
// writer, then named by ffprobe and decoded by ffmpeg, whose pictures are
// compared with the source.
#include <gtest/gtest.h>
#include <vxmedia/aviwriter.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>
#include <string>
#include <vector>

#include "platform/video_codec.h"
#include "test_support.h"
#include "util/byte_io.h"

namespace vxtest {
namespace {

namespace vp = vx::platform;
using Bytes = std::vector<uint8_t>;

constexpr double kLossless = std::numeric_limits<double>::infinity();
constexpr uint32_t kTemporal = VX_VIDCF_TEMPORAL | VX_VIDCF_FASTTEMPORALC;
constexpr int kFrames = 20;

struct Handler {
    const char* name;
    const char* code;   // the profile key's handler and the bitmap code
    const char* probe;  // ffprobe's codec_name
    int width, height;
    uint32_t flags;
    uint32_t keyRate;
    double psnrFloor;         // dB over the colour bytes of each frame
    uint16_t coded[4];        // biBitCount written for 8, 16, 24 and 32-bit input
    const char* rate = "25";  // the stream's frame rate
};
void PrintTo(const Handler& h, std::ostream* os) { *os << h.name; }

const Handler kHandlers[] = {
    {"MJPG", "MJPG", "mjpeg", 175, 131, VX_VIDCF_QUALITY, 1, 30, {8, 16, 24, 32}},
    {"FFV1", "FFV1", "ffv1", 175, 131, 0, 1, kLossless, {8, 16, 24, 32}},
    {"HFYU", "HFYU", "huffyuv", 175, 131, 0, 1, kLossless, {24, 24, 24, 32}},
    {"FMP4", "FMP4", "mpeg4", 176, 144, VX_VIDCF_QUALITY | kTemporal, 15, 30, {8, 16, 24, 32}},
    {"dvsd_pal", "dvsd", "dvvideo", 720, 576, 0, 1, 30, {8, 16, 24, 32}},
    {"dvsd_ntsc", "dvsd", "dvvideo", 720, 480, 0, 1, 30, {8, 16, 24, 32}, "30000/1001"},
    {"MSVC", "MSVC", "msvideo1", 176, 144, kTemporal, 15, 24, {16, 16, 24, 32}},
    {"cvid", "cvid", "cinepak", 176, 144, VX_VIDCF_QUALITY | kTemporal, 15, 24, {24, 16, 24, 32}},
};
const Handler& handler(const char* name) {
    for (const Handler& h : kHandlers)
        if (std::strcmp(h.name, name) == 0) return h;
    std::abort();
}

uint32_t code_of(const char* text) {
    return static_cast<uint32_t>(text[0]) | static_cast<uint32_t>(text[1]) << 8 |
           static_cast<uint32_t>(text[2]) << 16 | static_cast<uint32_t>(text[3]) << 24;
}

// Every compressor's key and the catch-all decompressor's, for the process.
class Profile : public ::testing::Environment {
public:
    void SetUp() override {
        std::string text = "[drivers32]\nvidc.lavc=" VX_LAVC_DRIVER_PATH "\n";
        for (const char* key : {"MJPG", "FFV1", "HFYU", "FMP4", "dvsd", "MSVC", "cvid"})
            text += std::string("vidc.") + key + "=" VX_LAVC_DRIVER_PATH "\n";
        std::ofstream(dir_.file("profile.ini")) << text;
        setenv("VXMEDIA_PROFILE", dir_.file("profile.ini").c_str(), 1);
    }

private:
    TempDir dir_;
};
[[maybe_unused]] const auto* const kProfile = ::testing::AddGlobalTestEnvironment(new Profile);

// A header of 40 bytes, then room for masks or a colour table.
struct Format {
    explicit Format(int width, int height, uint16_t bits, uint32_t compression = 0) {
        bytes.resize(40 + 1024);
        auto* h = header();
        h->biSize = 40;
        h->biWidth = width;
        h->biHeight = height;
        h->biPlanes = 1;
        h->biBitCount = bits;
        h->biCompression = compression;
    }
    BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(bytes.data()); }
    std::size_t row() {
        return (std::size_t(header()->biWidth) * header()->biBitCount + 31) / 32 * 4;
    }
    std::size_t image() { return row() * std::abs(header()->biHeight); }
    Bytes bytes;
};

// The pattern's blue, green and red at (x, y) of frame f, top row 0: a still
// background, a band whose waves move, and a bright square crossing it.
void pattern(int x, int y, int f, int height, uint8_t* bgr) {
    bgr[0] = static_cast<uint8_t>(128 + 90 * std::sin(x / 9.0));
    bgr[1] = static_cast<uint8_t>(128 + 90 * std::cos(y / 7.0));
    bgr[2] = static_cast<uint8_t>((x + y) * 255 / (2 * 720));
    if (y > height / 2 && y < height / 2 + 40)
        bgr[2] = static_cast<uint8_t>(128 + 100 * std::sin((x + 4 * f) / 6.0));
    const int left = 8 + 5 * f, top = 10 + 2 * f;
    if (x >= left && x < left + 24 && y >= top && y < top + 24) bgr[0] = bgr[1] = bgr[2] = 235;
}

// Frame f as ffmpeg gives it back: BGR bytes, top row first, no padding.
Bytes top_down_bgr(int width, int height, int f) {
    Bytes out(std::size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pattern(x, y, f, height, &out[(std::size_t(y) * width + x) * 3]);
    return out;
}

// Frame f in the format's layout (either way up): for 8 bits the pattern's
// blue indexes the colour table, 16 bits keep the top 5 (or 6) bits.
Bytes bitmap(Format& format, int f) {
    const BITMAPINFOHEADER& h = *format.header();
    const int width = h.biWidth, height = std::abs(h.biHeight), bytes = h.biBitCount / 8;
    uint32_t greenMask = 0;
    std::memcpy(&greenMask, &format.bytes[44], 4);
    const bool green6 = h.biCompression == 3 && greenMask == 0x07E0;
    const Bytes bgr = top_down_bgr(width, height, f);
    Bytes out(format.image());
    for (int y = 0; y < height; ++y) {
        uint8_t* row = &out[format.row() * (h.biHeight < 0 ? y : height - 1 - y)];
        for (int x = 0; x < width; ++x) {
            const uint8_t* p = &bgr[(std::size_t(y) * width + x) * 3];
            const uint16_t v = green6 ? (p[2] >> 3) << 11 | (p[1] >> 2) << 5 | p[0] >> 3
                                      : (p[2] >> 3) << 10 | (p[1] >> 3) << 5 | p[0] >> 3;
            std::memcpy(&row[x * bytes], bytes == 2 ? reinterpret_cast<const uint8_t*>(&v) : p,
                        std::min(bytes, 3));
        }
    }
    return out;
}

struct Codec {
    explicit Codec(const char* code, uint32_t mode = vp::kCodecModeCompress)
        : h(vp::codec_open(vp::kCodecTypeVideo, code_of(code), mode)) {}
    ~Codec() { vp::codec_close(h); }
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;
    intptr_t send(uint32_t message, const void* p1, const void* p2 = nullptr) const {
        return vp::codec_send(h, message, reinterpret_cast<intptr_t>(p1),
                              reinterpret_cast<intptr_t>(p2));
    }
    vp::CodecInstance h;
};

struct Stream {
    Bytes format;
    std::vector<Bytes> frames;
    std::vector<bool> keys;
    BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(format.data()); }
    std::size_t total() const {
        std::size_t n = 0;
        for (const Bytes& f : frames) n += f.size();
        return n;
    }
};

// Compresses `count` frames of the pattern through codec_compress, asking
// for key frames at `asked`.
Stream compress(const Codec& codec, Format& in, int count,
                uint32_t quality = uint32_t(VX_ICQUALITY_DEFAULT),
                const std::set<int>& asked = {}) {
    Stream s;
    const intptr_t formatSize = codec.send(VX_ICM_COMPRESS_GET_FORMAT, in.header());
    EXPECT_GE(formatSize, 40);
    if (formatSize < 40) return s;
    s.format.resize(std::size_t(formatSize));
    EXPECT_EQ(codec.send(VX_ICM_COMPRESS_GET_FORMAT, in.header(), s.header()), VX_ICERR_OK);
    const intptr_t most = codec.send(VX_ICM_COMPRESS_GET_SIZE, in.header(), s.header());
    EXPECT_GT(most, 0);
    EXPECT_EQ(uint32_t(most), s.header()->biSizeImage);
    EXPECT_EQ(codec.send(VX_ICM_COMPRESS_BEGIN, in.header(), s.header()), VX_ICERR_OK);
    Bytes out(std::size_t(most) + 16, 0xA5);
    for (int f = 0; f < count; ++f) {
        const Bytes picture = bitmap(in, f);
        BITMAPINFOHEADER outFormat = *s.header();
        outFormat.biSizeImage = uint32_t(most);
        uint32_t ckid = 0, flags = 0xFFFF;
        const uint32_t ask = asked.count(f) ? VX_ICCOMPRESS_KEYFRAME : 0;
        EXPECT_EQ(
            vp::codec_compress(codec.h, ask, &outFormat, out.data(), in.header(), picture.data(),
                               &ckid, &flags, f, 0, quality, nullptr, nullptr),
            VX_ICERR_OK)
            << "frame " << f;
        EXPECT_LE(outFormat.biSizeImage, uint32_t(most));
        EXPECT_EQ(out[std::size_t(most)], 0xA5) << "written past the promised size";
        s.frames.emplace_back(out.begin(),
                              out.begin() + std::min<std::size_t>(outFormat.biSizeImage, most));
        s.keys.push_back((flags & VX_AVIIF_KEYFRAME) != 0);
    }
    EXPECT_EQ(codec.send(VX_ICM_COMPRESS_END, nullptr), VX_ICERR_OK);
    return s;
}

// The frames [first, end) in an AVI written by the library's writer.
void write_avi(const std::string& path, Stream& s, const Handler& h, std::size_t first = 0) {
    int rate = 25, scale = 1;
    if (std::strcmp(h.rate, "25") != 0) rate = 30000, scale = 1001;
    MainAVIHeader m{};
    m.dwTotalFrames = uint32_t(s.frames.size() - first);
    AviWriter* w = nullptr;
    ASSERT_EQ(avifileOpen(&w, path.c_str(), &m), 0);
    AVIStreamHeader sh{};
    sh.fccType = vx::fourcc("vids");
    sh.fccHandler = code_of(h.code);
    sh.dwScale = uint32_t(scale);
    sh.dwRate = uint32_t(rate);
    int32_t stream = -1;
    ASSERT_EQ(avifileAddStream(w, &stream, &sh, s.format.data(), uint32_t(s.format.size())), 0);
    for (std::size_t f = first; f < s.frames.size(); ++f)
        ASSERT_EQ(avifileWrite(w, stream, s.frames[f].data(), uint32_t(s.frames[f].size()),
                               'd' | 'c' << 8, s.keys[f] ? AVIIF_KEYFRAME : 0),
                  0);
    ASSERT_EQ(avifileClose(w, uint32_t(s.frames.size() - first), 0), 0);
}

std::string probe_codec(const std::string& path) {
    const CommandResult r = run_command(
        "ffprobe -v error -select_streams v:0 -show_entries stream=codec_name "
        "-of default=nw=1:nk=1 " +
        shell_quote(path));
    return r.out.substr(0, r.out.find('\n'));
}

// ffmpeg's pictures of the file, BGR top-down; its warnings must be none.
Bytes ffmpeg_decode(const std::string& path) {
    const CommandResult quiet =
        run_command("ffmpeg -v warning -nostdin -i " + shell_quote(path) + " -f null -");
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.err, "") << "ffmpeg complained decoding " << path;
    const CommandResult r = run_command("ffmpeg -v error -nostdin -i " + shell_quote(path) +
                                        " -fps_mode passthrough -f rawvideo -pix_fmt bgr24 -");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return Bytes(r.out.begin(), r.out.end());
}

double psnr(const uint8_t* a, const uint8_t* b, std::size_t n) {
    double sum = 0;
    for (std::size_t i = 0; i < n; ++i) sum += double(a[i] - b[i]) * (a[i] - b[i]);
    return sum == 0 ? kLossless : 10 * std::log10(255.0 * 255.0 * n / sum);
}

// The lowest PSNR over the decoded frames [0, count) against the pattern's
// frames from `first`.
double lowest_psnr(const Bytes& decoded, const Handler& h, int count, int first = 0) {
    const std::size_t frame = std::size_t(h.width) * h.height * 3;
    EXPECT_EQ(decoded.size(), frame * count) << "ffmpeg's frame count";
    if (decoded.size() != frame * count) return 0;
    double lowest = kLossless;
    for (int f = 0; f < count; ++f)
        lowest = std::min(lowest, psnr(&decoded[frame * f],
                                       top_down_bgr(h.width, h.height, first + f).data(), frame));
    return lowest;
}

class FfmpegTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have_program("ffmpeg") || !have_program("ffprobe")) GTEST_SKIP() << "no ffmpeg";
    }
    TempDir dir_;
};
class CompressTest : public FfmpegTest, public ::testing::WithParamInterface<Handler> {};

// What the codec says of itself, and the input depths it takes with the
// depth it writes for each.
TEST_P(CompressTest, DescribesItselfAndTakesEveryDepth) {
    const Handler& h = GetParam();
    Codec codec(h.code);
    ASSERT_NE(codec.h, nullptr);
    VxIcInfo info{};
    ASSERT_TRUE(vp::codec_get_info(codec.h, &info));
    EXPECT_EQ(info.fccHandler, code_of(h.code));
    EXPECT_EQ(info.dwFlags, h.flags);
    EXPECT_NE(info.szDescription[0], 0);
    uint32_t rate = 0, quality = 99999;
    EXPECT_EQ(codec.send(VX_ICM_GETDEFAULTKEYFRAMERATE, &rate), VX_ICERR_OK);
    EXPECT_EQ(rate, h.keyRate);
    if (h.flags & VX_VIDCF_QUALITY) {
        EXPECT_EQ(codec.send(VX_ICM_GETDEFAULTQUALITY, &quality), VX_ICERR_OK);
        EXPECT_LE(quality, 10000u);
    }
    EXPECT_EQ(vp::codec_send(codec.h, VX_ICM_CONFIGURE, -1, VX_ICMF_CONFIGURE_QUERY),
              VX_ICERR_UNSUPPORTED);

    const uint16_t depths[] = {8, 16, 24, 32};
    for (int i = 0; i < 4; ++i) {
        Format in(h.width, h.height, depths[i]);
        ASSERT_EQ(codec.send(VX_ICM_COMPRESS_QUERY, in.header()), VX_ICERR_OK) << depths[i];
        Bytes out(std::size_t(codec.send(VX_ICM_COMPRESS_GET_FORMAT, in.header())));
        ASSERT_GE(out.size(), 40u);
        ASSERT_EQ(codec.send(VX_ICM_COMPRESS_GET_FORMAT, in.header(), out.data()), VX_ICERR_OK);
        const auto* o = reinterpret_cast<const BITMAPINFOHEADER*>(out.data());
        EXPECT_EQ(o->biCompression, code_of(h.code));
        EXPECT_EQ(o->biBitCount, h.coded[i]) << "for " << depths[i] << "-bit input";
        EXPECT_EQ(o->biWidth, h.width);
        EXPECT_EQ(o->biHeight, h.height);
        EXPECT_EQ(codec.send(VX_ICM_COMPRESS_QUERY, in.header(), out.data()), VX_ICERR_OK);
    }
}

// Twenty frames left to the codec: ffprobe names the codec, ffmpeg decodes
// every frame without a word, lossless codecs give the source back and lossy
// ones come close; key frames come where the key-frame rate says.
TEST_P(CompressTest, FramesDecodeInFfmpeg) {
    const Handler& h = GetParam();
    Codec codec(h.code);
    ASSERT_NE(codec.h, nullptr);
    Format in(h.width, h.height, 24);
    Stream s = compress(codec, in, kFrames);
    ASSERT_EQ(s.frames.size(), std::size_t(kFrames));
    const std::string avi = dir_.file("clip.avi");
    ASSERT_NO_FATAL_FAILURE(write_avi(avi, s, h));
    EXPECT_EQ(probe_codec(avi), h.probe);
    const double lowest = lowest_psnr(ffmpeg_decode(avi), h, kFrames);
    std::printf("[ PSNR     ] %-9s lowest %.2f dB, %zu bytes in %d frames\n", h.name, lowest,
                s.total(), kFrames);
    EXPECT_GE(lowest, h.psnrFloor);

    int keys = 0;
    for (int f = 0; f < kFrames; ++f) {
        keys += s.keys[f];
        EXPECT_TRUE(s.keys[f] || f % h.keyRate != 0) << "frame " << f;
    }
    // Temporal codecs make frames that need others; the rest only key frames.
    if (h.flags & VX_VIDCF_TEMPORAL) {
        EXPECT_LT(keys, kFrames);
    } else {
        EXPECT_EQ(keys, kFrames);
    }
}

// A key frame asked for is one: flagged, and the stream from it decodes
// alone to the same pictures.
TEST_P(CompressTest, KeyFramesAskedForStandAlone) {
    const Handler& h = GetParam();
    Codec codec(h.code);
    ASSERT_NE(codec.h, nullptr);
    Format in(h.width, h.height, 24);
    Stream s = compress(codec, in, 8, uint32_t(VX_ICQUALITY_DEFAULT), {5});
    ASSERT_EQ(s.frames.size(), 8u);
    EXPECT_TRUE(s.keys[0]);
    EXPECT_TRUE(s.keys[5]);
    // Again, on memory the first session used: the same bytes.
    EXPECT_EQ(compress(codec, in, 8, uint32_t(VX_ICQUALITY_DEFAULT), {5}).frames, s.frames);
    const std::string all = dir_.file("all.avi"), tail = dir_.file("tail.avi");
    ASSERT_NO_FATAL_FAILURE(write_avi(all, s, h));
    ASSERT_NO_FATAL_FAILURE(write_avi(tail, s, h, 5));
    const Bytes whole = ffmpeg_decode(all), cut = ffmpeg_decode(tail);
    const std::size_t frame = std::size_t(h.width) * h.height * 3;
    ASSERT_EQ(whole.size(), frame * 8);
    ASSERT_EQ(cut.size(), frame * 3);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), whole.end() - cut.size()));
}

INSTANTIATE_TEST_SUITE_P(Handlers, CompressTest, ::testing::ValuesIn(kHandlers),
                         [](const auto& info) { return std::string(info.param.name); });

// Lower quality gives fewer bytes and a worse picture where the codec
// claims to honour quality.
TEST_F(FfmpegTest, QualityHonoured) {
    for (const char* name : {"MJPG", "FMP4", "cvid"}) {
        const Handler& h = handler(name);
        Codec codec(h.code);
        ASSERT_NE(codec.h, nullptr);
        Format in(h.width, h.height, 24);
        Stream low = compress(codec, in, 6, 2000), high = compress(codec, in, 6, 9500);
        const std::string lowAvi = dir_.file("low.avi"), highAvi = dir_.file("high.avi");
        ASSERT_NO_FATAL_FAILURE(write_avi(lowAvi, low, h));
        ASSERT_NO_FATAL_FAILURE(write_avi(highAvi, high, h));
        const double lowPsnr = lowest_psnr(ffmpeg_decode(lowAvi), h, 6);
        const double highPsnr = lowest_psnr(ffmpeg_decode(highAvi), h, 6);
        std::printf("[ QUALITY  ] %-9s 2000: %zu bytes %.2f dB; 9500: %zu bytes %.2f dB\n", name,
                    low.total(), lowPsnr, high.total(), highPsnr);
        EXPECT_LT(low.total(), high.total()) << name;
        EXPECT_LT(lowPsnr, highPsnr) << name;
    }
}

// Every input layout reaches a lossless codec's output as its own colours:
// the colour table's entries, 5-bit and 6-bit fields in their top bits, and
// 24 and 32-bit pixels exactly, bottom-up or top-down.
TEST_F(FfmpegTest, InputLayoutsReachLosslessOutput) {
    struct Layout {
        const char* name;
        uint16_t bits;
        uint32_t compression, masks[3];
        bool topDown;
        int keep[3];  // top bits of blue, green and red that survive
    };
    const Layout layouts[] = {
        {"pal8", 8, 0, {}, false, {8, 8, 8}},
        {"rgb555", 16, 0, {}, false, {5, 5, 5}},
        {"bitfields555", 16, 3, {0x7C00, 0x03E0, 0x001F}, true, {5, 5, 5}},
        {"bitfields565", 16, 3, {0xF800, 0x07E0, 0x001F}, false, {5, 6, 5}},
        {"rgb24_top_down", 24, 0, {}, true, {8, 8, 8}},
        {"rgb32", 32, 0, {}, false, {8, 8, 8}},
        {"bitfields32", 32, 3, {0xFF0000, 0xFF00, 0xFF}, true, {8, 8, 8}},
    };
    for (const char* name : {"FFV1", "HFYU"}) {
        const Handler& h = handler(name);
        for (const Layout& l : layouts) {
            SCOPED_TRACE(std::string(name) + " " + l.name);
            Format in(h.width, l.topDown ? -h.height : h.height, l.bits, l.compression);
            std::memcpy(&in.bytes[40], l.masks, sizeof l.masks);
            // Colour table entry i: (i, 255 - i, 7i).
            for (int i = 0; l.bits == 8 && i < 256; ++i)
                for (int c : {0, 1, 2})
                    in.bytes[40 + 4 * i + c] = uint8_t(c == 0 ? i : c == 1 ? 255 - i : 7 * i);
            Codec codec(h.code);
            Stream s = compress(codec, in, 1);
            ASSERT_EQ(s.frames.size(), 1u);
            const std::string avi = dir_.file("layout.avi");
            ASSERT_NO_FATAL_FAILURE(write_avi(avi, s, h));
            const Bytes got = ffmpeg_decode(avi), source = top_down_bgr(h.width, h.height, 0);
            ASSERT_EQ(got.size(), source.size());
            int wrong = 0;
            for (std::size_t i = 0; i < got.size(); ++i) {
                const int c = int(i % 3), shift = 8 - l.keep[c], blue = source[i - c];
                const int want = l.bits != 8 ? source[i]
                                 : c == 0    ? blue
                                 : c == 1    ? 255 - blue
                                             : uint8_t(7 * blue);
                wrong += (got[i] >> shift) != (want >> shift);
            }
            EXPECT_EQ(wrong, 0);
        }
    }
}

// Formats, records and buffers the codec cannot take are refused with an
// error code, and nothing is written.
TEST(CompressRefusals, BadFormatsRecordsAndBuffers) {
    // The catch-all decompressor does not compress.
    EXPECT_EQ(vp::codec_open(vp::kCodecTypeVideo, code_of("lavc"), vp::kCodecModeCompress),
              nullptr);
    Codec mjpg("MJPG");
    ASSERT_NE(mjpg.h, nullptr);
    using Change = void (*)(Format&);
    const Change bad[] = {
        [](Format& f) { f.header()->biSize = 39; },
        [](Format& f) { f.header()->biSize = 40 + (2u << 20); },
        [](Format& f) { f.header()->biWidth = 0; },
        [](Format& f) { f.header()->biWidth = 16385; },
        [](Format& f) { f.header()->biHeight = 0; },
        [](Format& f) { f.header()->biHeight = INT32_MIN; },
        [](Format& f) { f.header()->biBitCount = 12; },
        [](Format& f) { f.header()->biBitCount = 4; },
        [](Format& f) { f.header()->biCompression = code_of("MJPG"); },
        [](Format& f) { f.header()->biCompression = 3; },  // 24-bit bit fields
        [](Format& f) { f.header()->biBitCount = 8, f.header()->biClrUsed = 257; },
        [](Format& f) { f.header()->biSizeImage = uint32_t(f.image() - 1); },
        [](Format& f) {  // bit fields in another order
            const uint32_t masks[3] = {0x001F, 0x03E0, 0x7C00};
            f.header()->biBitCount = 16, f.header()->biCompression = 3;
            std::memcpy(&f.bytes[40], masks, sizeof masks);
        },
    };
    for (const Change change : bad) {
        Format in(176, 144, 24);
        change(in);
        EXPECT_EQ(mjpg.send(VX_ICM_COMPRESS_QUERY, in.header()), VX_ICERR_BADFORMAT);
        EXPECT_EQ(mjpg.send(VX_ICM_COMPRESS_GET_FORMAT, in.header()), VX_ICERR_BADFORMAT);
        EXPECT_EQ(mjpg.send(VX_ICM_COMPRESS_GET_SIZE, in.header()), VX_ICERR_BADFORMAT);
    }
    // Sizes an encoder does not take.
    struct Size {
        const char* code;
        int width, height;
    };
    for (const Size& size : {Size{"dvsd", 640, 480}, Size{"dvsd", 720, 479}, Size{"cvid", 174, 144},
                             Size{"MSVC", 176, 142}, Size{"FMP4", 8192, 16}}) {
        Codec codec(size.code);
        Format in(size.width, size.height, 24);
        EXPECT_EQ(codec.send(VX_ICM_COMPRESS_QUERY, in.header()), VX_ICERR_BADFORMAT)
            << size.code << " " << size.width << "x" << size.height;
    }
    // Output formats that are not what it writes for the input.
    Format in(176, 144, 24);
    Bytes good(std::size_t(mjpg.send(VX_ICM_COMPRESS_GET_FORMAT, in.header())));
    ASSERT_EQ(mjpg.send(VX_ICM_COMPRESS_GET_FORMAT, in.header(), good.data()), VX_ICERR_OK);
    for (const auto change : {+[](BITMAPINFOHEADER& b) { b.biCompression = code_of("FMP4"); },
                              +[](BITMAPINFOHEADER& b) { b.biWidth = 174; },
                              +[](BITMAPINFOHEADER& b) { b.biHeight = 140; },
                              +[](BITMAPINFOHEADER& b) { b.biSize = 12; }}) {
        BITMAPINFOHEADER b;
        std::memcpy(&b, good.data(), sizeof b);
        change(b);
        EXPECT_EQ(mjpg.send(VX_ICM_COMPRESS_QUERY, in.header(), &b), VX_ICERR_BADFORMAT);
        EXPECT_EQ(mjpg.send(VX_ICM_COMPRESS_BEGIN, in.header(), &b), VX_ICERR_BADFORMAT);
    }

    BITMAPINFOHEADER out;
    std::memcpy(&out, good.data(), sizeof out);
    const uint32_t most = out.biSizeImage;
    const Bytes picture = bitmap(in, 0);
    Bytes buffer(most, 0x5A);
    uint32_t flags = 0;
    auto compress_one = [&](BITMAPINFOHEADER* inFormat, uint32_t capacity) {
        out.biSizeImage = capacity;
        return vp::codec_compress(mjpg.h, 0, &out, buffer.data(), inFormat, picture.data(), nullptr,
                                  &flags, 0, 0, uint32_t(VX_ICQUALITY_DEFAULT), nullptr, nullptr);
    };
    EXPECT_EQ(compress_one(in.header(), most), VX_ICERR_ERROR) << "no BEGIN";
    ASSERT_EQ(mjpg.send(VX_ICM_COMPRESS_BEGIN, in.header(), &out), VX_ICERR_OK);
    EXPECT_EQ(compress_one(in.header(), most - 1), VX_ICERR_BADPARAM) << "a buffer below GET_SIZE";
    Format other(174, 144, 24);
    EXPECT_EQ(compress_one(other.header(), most), VX_ICERR_BADFORMAT)
        << "not the format begun with";
    EXPECT_EQ(buffer, Bytes(most, 0x5A));
    // A record shorter than the interface's.
    VxIcCompress record{};
    record.lpbiOutput = &out;
    record.lpOutput = buffer.data();
    record.lpbiInput = in.header();
    record.lpInput = const_cast<uint8_t*>(picture.data());
    out.biSizeImage = most;
    EXPECT_EQ(vp::codec_send(mjpg.h, VX_ICM_COMPRESS, reinterpret_cast<intptr_t>(&record),
                             sizeof record - 1),
              VX_ICERR_BADPARAM);
    EXPECT_EQ(vp::codec_send(mjpg.h, VX_ICM_COMPRESS, 0, sizeof record), VX_ICERR_BADPARAM);
    EXPECT_EQ(buffer, Bytes(most, 0x5A));
    EXPECT_EQ(compress_one(in.header(), most), VX_ICERR_OK) << "the session still works";
    EXPECT_NE(buffer, Bytes(most, 0x5A));
}

// codec_locate in compress mode: the first installed codec that takes the
// format, the named one first.
TEST(CompressRefusals, LocateFindsACompressorForTheFormat) {
    Format in(176, 142, 24);  // not a multiple of 4: Cinepak refuses
    vp::CodecInstance found = vp::codec_locate(vp::kCodecTypeVideo, code_of("cvid"), in.header(),
                                               nullptr, vp::kCodecModeCompress);
    ASSERT_NE(found, nullptr);
    VxIcInfo info{};
    EXPECT_TRUE(vp::codec_get_info(found, &info));
    EXPECT_EQ(info.fccHandler, code_of("MJPG")) << "the first key that takes it";
    vp::codec_close(found);
}

}  // namespace
}  // namespace vxtest
