// The libavcodec codec driver module, loaded with dlopen and driven through
// its DriverProc as the codec manager drives it: files that ffmpeg writes
// decode to the same pixels as ffmpeg's own conversion to BGR.
#ifdef VX_LAVC_DRIVER_PATH

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <vxmedia/driver.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>

#include "media_files.h"
#include "test_support.h"
#include "util/byte_io.h"

namespace vxtest {
namespace {

using vx::fourcc;

// The module loaded and enabled for the process, as the codec manager keeps it.
VxDriverProc driver_proc() {
    static VxDriverProc proc = [] {
        void* module = dlopen(VX_LAVC_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL);
        auto p = module ? reinterpret_cast<VxDriverProc>(dlsym(module, "DriverProc")) : nullptr;
        if (p && (p(0, nullptr, VX_DRV_LOAD, 0, 0) != 1 || p(0, nullptr, VX_DRV_ENABLE, 0, 0) != 1))
            p = nullptr;
        return p;
    }();
    return proc;
}

class Instance {
public:
    explicit Instance(uint32_t mode = VX_ICMODE_DECOMPRESS, uint32_t type = fourcc("vidc")) {
        VxIcOpen open{sizeof(VxIcOpen), type, 0, 0, mode, 0, nullptr, nullptr, 0};
        id_ = static_cast<uintptr_t>(driver_proc()(0, nullptr, VX_DRV_OPEN, 0, intptr_t(&open)));
        error_ = open.dwError;
    }
    ~Instance() {
        if (id_ != 0) driver_proc()(id_, nullptr, VX_DRV_CLOSE, 0, 0);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    uintptr_t id() const { return id_; }
    intptr_t error() const { return error_; }
    intptr_t send(uint32_t message, const void* p1, const void* p2 = nullptr) const {
        return driver_proc()(id_, nullptr, message, intptr_t(p1), intptr_t(p2));
    }
    intptr_t decompress(BITMAPINFOHEADER* in, const std::vector<uint8_t>& frame, void* out,
                        uint32_t flags = 0) const {
        in->biSizeImage = static_cast<uint32_t>(frame.size());
        VxIcDecompress d{flags, in, const_cast<uint8_t*>(frame.data()), nullptr, out, 0};
        return driver_proc()(id_, nullptr, VX_ICM_DECOMPRESS, intptr_t(&d), sizeof d);
    }

private:
    uintptr_t id_ = 0;
    intptr_t error_ = 0;
};

BITMAPINFOHEADER rgb_format(int32_t width, int32_t height, uint16_t bits) {
    return {40, width, height, 1, bits, 0, 0, 0, 0, 0, 0};
}
std::size_t image_bytes(const BITMAPINFOHEADER& b) {
    return (std::size_t(b.biWidth) * b.biBitCount + 31) / 32 * 4 * std::abs(b.biHeight);
}

// A file's video format (with room behind it) and its frames, read with the
// library's reader.
struct Clip {
    std::string path;
    std::vector<uint8_t> format;
    std::vector<std::vector<uint8_t>> frames;
    BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(format.data()); }
};

Clip read_clip(const std::string& path) {
    Clip c{path, {}, {}};
    OpenedAvi avi(path, false);
    if (!avi.ok() || avi.reader()->videoStream < 0) return c;
    AviReader* r = avi.reader();
    const AviStreamRecord* s = aviGetAVIStream(r, static_cast<uint32_t>(r->videoStream));
    const auto* bytes = static_cast<const uint8_t*>(s->format);
    c.format.assign(bytes, bytes + s->formatSize);
    c.format.resize(s->formatSize + 1024);
    for (uint32_t p = 0; p < r->videoIndex.count; ++p) {
        const int32_t frame = static_cast<int32_t>(p - s->header.dwStart);
        uint32_t size = 0, flags = 0;
        if (aviReadFrame(r, frame, nullptr, &size, &flags) != 0) break;
        std::vector<uint8_t> data(size);
        if (size != 0 && aviReadFrame(r, frame, data.data(), &size, &flags) != 0) break;
        c.frames.push_back(std::move(data));
    }
    return c;
}

struct CodecCase {
    const char* name;
    const char* args;  // ffmpeg's output options
    const char* rate = "25";
};
void PrintTo(const CodecCase& c, std::ostream* os) { *os << c.name; }

const CodecCase kCodecs[] = {
    {"mjpeg", "-s 174x130 -c:v mjpeg -q:v 3"},
    {"msvideo1", "-s 176x144 -c:v msvideo1"},
    {"cinepak", "-s 176x144 -c:v cinepak"},
    {"dv_pal", "-s 720x576 -pix_fmt yuv420p -c:v dvvideo"},
    {"dv_ntsc", "-s 720x480 -pix_fmt yuv411p -c:v dvvideo", "30000/1001"},
    {"ffv1", "-s 174x130 -c:v ffv1 -level 3"},  // set-up data after the header
    {"huffyuv", "-s 174x130 -pix_fmt yuv422p -c:v huffyuv"},
    {"mpeg4", "-s 174x130 -c:v mpeg4 -bf 0 -g 5 -q:v 4"},  // key frames 0, 5, 10
};
const CodecCase& kMjpeg = kCodecs[0];
const CodecCase& kMpeg4 = kCodecs[7];

// Clips made on first use in a folder of the process, removed at exit.
Clip& clip(const CodecCase& c) {
    static TempDir dir;
    static std::map<std::string, Clip> clips;
    if (auto it = clips.find(c.name); it != clips.end()) return it->second;
    const std::string path = dir.file(std::string(c.name) + ".avi");
    run_command(std::string("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=720x576:rate=") +
                c.rate + " -frames:v 12 " + c.args + " " + shell_quote(path));
    return clips[c.name] = read_clip(path);
}

// A clip, ffmpeg's decoding of it (top-down, unpadded) and a driver session
// decoding it into one output layout.
struct Decoding {
    Decoding(const CodecCase& codec, uint16_t bits, bool topDown, const char* ffmpegFormat)
        : c(clip(codec)), out(rgb_format(c.header()->biWidth, 0, bits)) {
        height = std::abs(c.header()->biHeight);
        out.biHeight = topDown ? -height : height;
        bitmap.resize(image_bytes(out));
        const std::string raw = c.path + "." + ffmpegFormat;
        run_command("ffmpeg -v error -nostdin -y -i " + shell_quote(c.path) +
                    " -fps_mode passthrough -f rawvideo -pix_fmt " + ffmpegFormat + " " +
                    shell_quote(raw));
        std::ifstream in(raw, std::ios::binary);
        want.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::size_t plain() const { return std::size_t(out.biWidth) * (out.biBitCount / 8); }
    void begin() {
        ASSERT_FALSE(c.frames.empty()) << "no frames read from " << c.path;
        ASSERT_EQ(want.size(), plain() * height * c.frames.size()) << "ffmpeg's frame count";
        ASSERT_EQ(inst.send(VX_ICM_DECOMPRESS_QUERY, c.header(), &out), VX_ICERR_OK);
        ASSERT_EQ(inst.send(VX_ICM_DECOMPRESS_BEGIN, c.header(), &out), VX_ICERR_OK);
    }
    intptr_t decode(std::size_t f, uint32_t flags = 0) {
        return inst.decompress(c.header(), c.frames[f], bitmap.data(), flags);
    }
    // Bytes that differ from ffmpeg's frame `f`; the fourth byte of 32-bit
    // pixels must be 255.
    int wrong_bytes(std::size_t f) const {
        const std::size_t row = bitmap.size() / height, pixel = out.biBitCount / 8;
        int wrong = 0;
        for (int y = 0; y < height; ++y) {
            const uint8_t* got = bitmap.data() + row * (out.biHeight < 0 ? y : height - 1 - y);
            const uint8_t* ref = want.data() + plain() * (height * f + y);
            for (std::size_t x = 0; x < plain(); ++x)
                wrong += got[x] != (pixel == 4 && x % 4 == 3 ? 0xFF : ref[x]);
        }
        return wrong;
    }
    void check_all() {
        ASSERT_NO_FATAL_FAILURE(begin());
        for (std::size_t f = 0; f < c.frames.size(); ++f) {
            ASSERT_EQ(decode(f), VX_ICERR_OK) << "frame " << f;
            EXPECT_EQ(wrong_bytes(f), 0) << "frame " << f;
        }
        EXPECT_EQ(inst.send(VX_ICM_DECOMPRESS_END, nullptr), VX_ICERR_OK);
    }

    Clip& c;
    BITMAPINFOHEADER out;
    int height = 0;
    std::vector<uint8_t> want, bitmap;
    Instance inst;
};

class LavcDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(driver_proc(), nullptr) << dlerror();
        if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not on PATH";
    }
};

class LavcCodecTest : public LavcDriverTest, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(LavcCodecTest, FramesEqualFfmpegBgr24) {
    Decoding(GetParam(), 24, false, "bgr24").check_all();
}
INSTANTIATE_TEST_SUITE_P(Codecs, LavcCodecTest, ::testing::ValuesIn(kCodecs),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LavcDriverTest, OtherOutputLayoutsEqualFfmpeg) {
    Decoding(kMpeg4, 32, false, "bgr0").check_all();
    Decoding(kMpeg4, 24, true, "bgr24").check_all();
    Decoding(kMpeg4, 16, false, "rgb555le").check_all();
}

// Random bytes in place of a frame fail; the next key frame decodes right.
TEST_F(LavcDriverTest, CorruptFrameFailsAndNextKeyFrameDecodes) {
    for (const CodecCase* codec : {&kMjpeg, &kMpeg4}) {
        SCOPED_TRACE(codec->name);
        Decoding d(*codec, 24, false, "bgr24");
        ASSERT_NO_FATAL_FAILURE(d.begin());
        for (std::size_t f = 0; f < 4; ++f) ASSERT_EQ(d.decode(f), VX_ICERR_OK);
        std::vector<uint8_t> junk(d.c.frames[4].size());
        std::mt19937 random(7);
        for (uint8_t& b : junk) b = static_cast<uint8_t>(random());
        EXPECT_EQ(d.inst.decompress(d.c.header(), junk, d.bitmap.data()), VX_ICERR_ERROR);
        ASSERT_EQ(d.decode(5), VX_ICERR_OK);
        EXPECT_EQ(d.wrong_bytes(5), 0);
    }
}

// Hurried frames are decoded (the delta frame after them comes out right)
// but not written; empty and null frames write nothing and, with nothing
// held back, give no picture.
TEST_F(LavcDriverTest, HurriedAndNullFramesLeaveOutputAlone) {
    Decoding d(kMpeg4, 24, false, "bgr24");
    ASSERT_NO_FATAL_FAILURE(d.begin());
    std::fill(d.bitmap.begin(), d.bitmap.end(), 0xA5);
    const std::vector<uint8_t> untouched = d.bitmap;
    for (std::size_t f = 0; f < 3; ++f)
        ASSERT_EQ(d.decode(f, VX_ICDECOMPRESS_HURRYUP), VX_ICERR_OK);
    EXPECT_EQ(d.decode(3, VX_ICDECOMPRESS_NULLFRAME), VX_ICERR_DONTDRAW);
    EXPECT_EQ(d.inst.decompress(d.c.header(), {}, d.bitmap.data()), VX_ICERR_DONTDRAW);
    EXPECT_EQ(d.bitmap, untouched);
    ASSERT_EQ(d.decode(3), VX_ICERR_OK);
    EXPECT_EQ(d.wrong_bytes(3), 0);
}

// With B-frames the decoder holds each picture back by one packet: the first
// call gives none, later ones write the picture before (display order), and
// frames without bytes drain the last one; the driver says what it holds.
TEST_F(LavcDriverTest, DelayedPicturesComeOnePacketLate) {
    const CodecCase bframes{"mpeg4_bframes", "-s 174x130 -c:v mpeg4 -bf 2 -g 12 -q:v 4"};
    Decoding d(bframes, 24, false, "bgr24");
    ASSERT_NO_FATAL_FAILURE(d.begin());
    auto held = [&] {
        uint32_t n = 99;
        EXPECT_EQ(d.inst.send(VX_ICM_DECOMPRESS_GET_HELD, &n), VX_ICERR_OK);
        return n;
    };
    std::fill(d.bitmap.begin(), d.bitmap.end(), 0xA5);
    const std::vector<uint8_t> untouched = d.bitmap;
    ASSERT_EQ(d.decode(0), VX_ICERR_DONTDRAW);
    EXPECT_EQ(d.bitmap, untouched);
    EXPECT_EQ(held(), 1u);
    const std::size_t n = d.c.frames.size();
    for (std::size_t f = 1; f < n; ++f) {
        ASSERT_EQ(d.decode(f), VX_ICERR_OK) << "frame " << f;
        EXPECT_EQ(d.wrong_bytes(f - 1), 0) << "frame " << f;
    }
    EXPECT_EQ(d.inst.decompress(d.c.header(), {}, d.bitmap.data()), VX_ICERR_OK);
    EXPECT_EQ(d.wrong_bytes(n - 1), 0);
    EXPECT_EQ(held(), 0u);
    EXPECT_EQ(d.inst.decompress(d.c.header(), {}, d.bitmap.data()), VX_ICERR_DONTDRAW);
    // Packets after the drain start afresh from a key frame.
    EXPECT_EQ(d.decode(0), VX_ICERR_DONTDRAW);
    ASSERT_EQ(d.decode(1), VX_ICERR_OK);
    EXPECT_EQ(d.wrong_bytes(0), 0);
}

// The tests below need no ffmpeg.
TEST(LavcDriverApiTest, OpensDecompressorsAndKnowsItsInstances) {
    ASSERT_NE(driver_proc(), nullptr) << dlerror();
    EXPECT_NE(Instance(0).id(), 0u);
    EXPECT_EQ(Instance(VX_ICMODE_COMPRESS).id(), 0u);
    EXPECT_EQ(Instance(VX_ICMODE_DECOMPRESS, fourcc("audc")).error(), VX_ICERR_UNSUPPORTED);

    Instance inst;
    EXPECT_EQ(inst.send(VX_ICM_USER + 60, nullptr), VX_ICERR_UNSUPPORTED);
    BITMAPINFOHEADER mjpg = {40, 64, 48, 1, 24, fourcc("MJPG"), 0, 0, 0, 0, 0};
    std::vector<uint8_t> out(64 * 48 * 3);
    EXPECT_EQ(inst.decompress(&mjpg, std::vector<uint8_t>(16), out.data()), VX_ICERR_ERROR)
        << "no BEGIN";
    uintptr_t closed = Instance().id();
    EXPECT_EQ(driver_proc()(closed, nullptr, VX_ICM_DECOMPRESS_QUERY, intptr_t(&mjpg), 0),
              VX_ICERR_BADHANDLE);
    EXPECT_EQ(driver_proc()(closed, nullptr, VX_DRV_CLOSE, 0, 0), 0);
}

TEST(LavcDriverApiTest, QueryAndGetFormatCheckSizesAndCodes) {
    ASSERT_NE(driver_proc(), nullptr) << dlerror();
    Instance inst;
    const BITMAPINFOHEADER good = {40, 174, 144, 1, 24, fourcc("MJPG"), 0, 0, 0, 0, 0};
    using Change = void (*)(BITMAPINFOHEADER&);
    for (Change change : {+[](BITMAPINFOHEADER& b) { b.biCompression = fourcc("QQQQ"); },
                          +[](BITMAPINFOHEADER& b) { b.biCompression = 0; },  // uncompressed
                          +[](BITMAPINFOHEADER& b) { b.biWidth = 16385; },
                          +[](BITMAPINFOHEADER& b) { b.biHeight = 0; },
                          +[](BITMAPINFOHEADER& b) { b.biHeight = INT32_MIN; },
                          +[](BITMAPINFOHEADER& b) { b.biSize = 39; },
                          +[](BITMAPINFOHEADER& b) { b.biSize = 40 + (2u << 20); }}) {
        BITMAPINFOHEADER b = good;
        change(b);
        EXPECT_EQ(inst.send(VX_ICM_DECOMPRESS_QUERY, &b), VX_ICERR_BADFORMAT);
        EXPECT_EQ(inst.send(VX_ICM_DECOMPRESS_GET_FORMAT, &b), VX_ICERR_BADFORMAT);
    }
    // Outputs: BI_RGB of 16, 24 or 32 bits, the input's size either way up.
    const BITMAPINFOHEADER out = rgb_format(174, -144, 32);
    EXPECT_EQ(inst.send(VX_ICM_DECOMPRESS_QUERY, &good, &out), VX_ICERR_OK);
    for (Change change : {+[](BITMAPINFOHEADER& b) { b.biBitCount = 8; },
                          +[](BITMAPINFOHEADER& b) { b.biCompression = 3; },
                          +[](BITMAPINFOHEADER& b) { b.biWidth = 172; },
                          +[](BITMAPINFOHEADER& b) { b.biHeight = 143; },
                          +[](BITMAPINFOHEADER& b) { b.biSizeImage = 1000; }}) {
        BITMAPINFOHEADER b = out;
        change(b);
        EXPECT_EQ(inst.send(VX_ICM_DECOMPRESS_QUERY, &good, &b), VX_ICERR_BADFORMAT);
        EXPECT_EQ(inst.send(VX_ICM_DECOMPRESS_BEGIN, &good, &b), VX_ICERR_BADFORMAT);
    }
    EXPECT_EQ(inst.send(VX_ICM_DECOMPRESS_GET_FORMAT, &good), 40);
    BITMAPINFOHEADER proposed{};
    ASSERT_EQ(inst.send(VX_ICM_DECOMPRESS_GET_FORMAT, &good, &proposed), VX_ICERR_OK);
    const BITMAPINFOHEADER want = {40, 174, 144, 1, 24, 0, 524 * 144, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(&proposed, &want, sizeof want), 0);
}

// An 8-bit run-length picture takes its colours from the table after the
// header. Each line is two runs of four pixels.
TEST(LavcDriverApiTest, PalettisedFramesUseTheColourTable) {
    ASSERT_NE(driver_proc(), nullptr) << dlerror();
    struct {
        BITMAPINFOHEADER header;
        uint8_t colours[4][4];
    } in{{40, 8, 4, 1, 8, 1 /* BI_RLE8 */, 0, 0, 0, 4, 0},
         {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}, {1, 2, 3, 0}}};
    std::vector<uint8_t> frame;
    for (uint8_t line = 0; line < 4; ++line)
        for (const uint8_t v :
             {uint8_t{4}, line, uint8_t{4}, uint8_t((line + 1) % 4), uint8_t{0}, uint8_t{0}})
            frame.push_back(v);
    frame.push_back(0);
    frame.push_back(1);

    Instance inst;
    BITMAPINFOHEADER out = rgb_format(8, 4, 24);
    ASSERT_EQ(inst.send(VX_ICM_DECOMPRESS_BEGIN, &in.header, &out), VX_ICERR_OK);
    std::vector<uint8_t> bitmap(image_bytes(out));
    ASSERT_EQ(inst.decompress(&in.header, frame, bitmap.data()), VX_ICERR_OK);
    // The first coded line is the bottom row, the first of a bottom-up bitmap.
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(std::memcmp(&bitmap[24 * y + 3 * x], in.colours[(y + (x >= 4)) % 4], 3), 0)
                << "pixel " << x << "," << y;
}

}  // namespace
}  // namespace vxtest

#endif
