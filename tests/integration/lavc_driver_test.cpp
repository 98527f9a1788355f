// The libavcodec codec driver module, loaded with dlopen and driven through
// its DriverProc as the codec manager drives it: files that ffmpeg writes
// decode to the same pixels as ffmpeg's own conversion to BGR.
#ifdef VX_LAVC_DRIVER_PATH

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <random>

#include "media_files.h"
#include "platform/posix/vfw_driver.h"
#include "test_support.h"

namespace vxtest {
namespace {

constexpr uint32_t fourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
}

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

// One open instance.
class Instance {
public:
    explicit Instance(uint32_t mode = VX_ICMODE_DECOMPRESS) {
        VxIcOpen open{sizeof(VxIcOpen), fourcc("vidc"), 0, 0, mode, 0, nullptr, nullptr, 0};
        id_ = static_cast<uintptr_t>(driver_proc()(0, nullptr, VX_DRV_OPEN, 0, intptr_t(&open)));
    }
    ~Instance() {
        if (id_ != 0) driver_proc()(id_, nullptr, VX_DRV_CLOSE, 0, 0);
    }
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;
    uintptr_t id() const { return id_; }
    intptr_t send(uint32_t message, const void* p1, intptr_t p2 = 0) const {
        return driver_proc()(id_, nullptr, message, intptr_t(p1), p2);
    }
    intptr_t send(uint32_t message, const void* p1, const void* p2) const {
        return send(message, p1, intptr_t(p2));
    }
    intptr_t decompress(BITMAPINFOHEADER* in, const std::vector<uint8_t>& frame, void* out,
                        uint32_t flags = 0) const {
        in->biSizeImage = static_cast<uint32_t>(frame.size());
        VxIcDecompress d{flags, in, const_cast<uint8_t*>(frame.data()), nullptr, out, 0};
        return send(VX_ICM_DECOMPRESS, &d, sizeof d);
    }

private:
    uintptr_t id_ = 0;
};

BITMAPINFOHEADER rgb_format(int32_t width, int32_t height, uint16_t bits) {
    BITMAPINFOHEADER b{};
    b.biSize = 40;
    b.biWidth = width;
    b.biHeight = height;
    b.biPlanes = 1;
    b.biBitCount = bits;
    return b;
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

std::vector<uint8_t> read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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
    {"ffv1", "-s 174x130 -c:v ffv1 -level 3"},
    {"huffyuv", "-s 174x130 -pix_fmt yuv422p -c:v huffyuv"},
    {"mpeg4", "-s 174x130 -c:v mpeg4 -bf 0 -g 5 -q:v 4"},
};

// Clips made on first use in a folder of the process, removed at exit.
Clip& clip(const CodecCase& c) {
    static TempDir dir;
    static std::map<std::string, Clip> clips;
    auto it = clips.find(c.name);
    if (it != clips.end()) return it->second;
    const std::string path = dir.file(std::string(c.name) + ".avi");
    run_command(std::string("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=720x576:rate=") +
                c.rate + " -frames:v 12 " + c.args + " " + shell_quote(path));
    return clips[c.name] = read_clip(path);
}

// ffmpeg's decoding of the whole clip, top-down rows without padding.
std::vector<uint8_t> reference(const Clip& c, const char* pixelFormat) {
    const std::string out = c.path + "." + pixelFormat;
    run_command("ffmpeg -v error -nostdin -y -i " + shell_quote(c.path) +
                " -fps_mode passthrough -f rawvideo -pix_fmt " + pixelFormat + " " +
                shell_quote(out));
    return read_all(out);
}

class LavcDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(driver_proc(), nullptr) << dlerror();
        if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not on PATH";
    }
};

struct Layout {
    uint16_t bits;
    bool topDown;
    const char* ffmpegFormat;
};

// A clip's frames and ffmpeg's decoding of them into one output layout.
struct Decoding {
    Decoding(Clip& clip, const Layout& l)
        : c(clip),
          layout(l),
          out(rgb_format(c.header()->biWidth, l.topDown ? -height() : height(), l.bits)),
          want(reference(c, l.ffmpegFormat)),
          bitmap(image_bytes(out)) {}
    int height() const { return std::abs(c.header()->biHeight); }
    std::size_t plain() const { return std::size_t(out.biWidth) * (layout.bits / 8); }
    bool complete() const { return want.size() == plain() * height() * c.frames.size(); }
    intptr_t begin(const Instance& inst) {
        return inst.send(VX_ICM_DECOMPRESS_BEGIN, c.header(), &out);
    }
    intptr_t decode(const Instance& inst, std::size_t f, uint32_t flags = 0) {
        return inst.decompress(c.header(), c.frames[f], bitmap.data(), flags);
    }
    // Bytes of the bitmap that differ from ffmpeg's frame `f`; the fourth
    // byte of 32-bit pixels must be 255.
    int wrong_bytes(std::size_t f) const {
        const int h = height();
        const std::size_t row = bitmap.size() / h, pixel = layout.bits / 8;
        int wrong = 0;
        for (int y = 0; y < h; ++y) {
            const uint8_t* got = bitmap.data() + row * (layout.topDown ? y : h - 1 - y);
            const uint8_t* ref = want.data() + plain() * (h * f + y);
            for (std::size_t x = 0; x < plain(); ++x)
                wrong += got[x] != (pixel == 4 && x % 4 == 3 ? 0xFF : ref[x]);
        }
        return wrong;
    }

    Clip& c;
    Layout layout;
    BITMAPINFOHEADER out;
    std::vector<uint8_t> want;
    std::vector<uint8_t> bitmap;
};

void decode_and_compare(Clip& c, const Layout& l) {
    ASSERT_FALSE(c.frames.empty()) << "no frames read from " << c.path;
    Decoding d(c, l);
    ASSERT_TRUE(d.complete()) << "ffmpeg's frame count differs";
    Instance inst;
    ASSERT_EQ(inst.send(VX_ICM_DECOMPRESS_QUERY, c.header(), &d.out), VX_ICERR_OK);
    ASSERT_EQ(d.begin(inst), VX_ICERR_OK);
    for (std::size_t f = 0; f < c.frames.size(); ++f) {
        ASSERT_EQ(d.decode(inst, f), VX_ICERR_OK) << "frame " << f;
        EXPECT_EQ(d.wrong_bytes(f), 0) << "frame " << f;
    }
    EXPECT_EQ(inst.send(VX_ICM_DECOMPRESS_END, nullptr), VX_ICERR_OK);
}

class LavcCodecTest : public LavcDriverTest, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(LavcCodecTest, FramesEqualFfmpegBgr24) {
    decode_and_compare(clip(GetParam()), {24, false, "bgr24"});
}
INSTANTIATE_TEST_SUITE_P(Codecs, LavcCodecTest, ::testing::ValuesIn(kCodecs),
                         [](const auto& info) { return std::string(info.param.name); });

const CodecCase& codec(const char* name) {
    for (const CodecCase& c : kCodecs)
        if (std::strcmp(c.name, name) == 0) return c;
    std::abort();
}

TEST_F(LavcDriverTest, OtherOutputLayoutsEqualFfmpeg) {
    Clip& c = clip(codec("mpeg4"));
    decode_and_compare(c, {32, false, "bgr0"});
    decode_and_compare(c, {24, true, "bgr24"});
    decode_and_compare(c, {16, false, "rgb555le"});
}

// Random bytes in place of a frame fail; the next key frame decodes as ffmpeg
// decodes it (mpeg4 has key frames every fifth frame).
TEST_F(LavcDriverTest, CorruptFrameFailsAndNextKeyFrameDecodes) {
    for (const char* name : {"mjpeg", "mpeg4"}) {
        SCOPED_TRACE(name);
        Decoding d(clip(codec(name)), {24, false, "bgr24"});
        ASSERT_TRUE(d.complete());
        Instance inst;
        ASSERT_EQ(d.begin(inst), VX_ICERR_OK);
        for (std::size_t f = 0; f < 4; ++f) ASSERT_EQ(d.decode(inst, f), VX_ICERR_OK);
        std::vector<uint8_t> junk(d.c.frames[4].size());
        std::mt19937 random(7);
        for (uint8_t& b : junk) b = static_cast<uint8_t>(random());
        EXPECT_EQ(inst.decompress(d.c.header(), junk, d.bitmap.data()), VX_ICERR_ERROR);
        ASSERT_EQ(d.decode(inst, 5), VX_ICERR_OK);
        EXPECT_EQ(d.wrong_bytes(5), 0);
    }
}

// Hurried frames are decoded (the delta frame after them comes out right)
// but not written; empty and null frames write nothing.
TEST_F(LavcDriverTest, HurriedAndNullFramesLeaveOutputAlone) {
    Decoding d(clip(codec("mpeg4")), {24, false, "bgr24"});
    ASSERT_TRUE(d.complete());
    Instance inst;
    ASSERT_EQ(d.begin(inst), VX_ICERR_OK);
    std::fill(d.bitmap.begin(), d.bitmap.end(), 0xA5);
    const std::vector<uint8_t> untouched = d.bitmap;
    for (std::size_t f = 0; f < 3; ++f)
        ASSERT_EQ(d.decode(inst, f, VX_ICDECOMPRESS_HURRYUP), VX_ICERR_OK);
    EXPECT_EQ(d.decode(inst, 3, VX_ICDECOMPRESS_NULLFRAME), VX_ICERR_OK);
    EXPECT_EQ(inst.decompress(d.c.header(), {}, d.bitmap.data()), VX_ICERR_OK);
    EXPECT_EQ(d.bitmap, untouched);
    ASSERT_EQ(d.decode(inst, 3), VX_ICERR_OK);
    EXPECT_EQ(d.wrong_bytes(3), 0);
}

// The tests below need no ffmpeg.
class LavcDriverApiTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(driver_proc(), nullptr) << dlerror(); }
};

TEST_F(LavcDriverApiTest, OpensDecompressorsOnly) {
    EXPECT_NE(Instance(VX_ICMODE_DECOMPRESS).id(), 0u);
    EXPECT_NE(Instance(0).id(), 0u);
    EXPECT_EQ(Instance(VX_ICMODE_COMPRESS).id(), 0u);
    VxIcOpen audio{sizeof(VxIcOpen), fourcc("audc"), 0, 0, VX_ICMODE_DECOMPRESS, 0,
                   nullptr,          nullptr,        0};
    EXPECT_EQ(driver_proc()(0, nullptr, VX_DRV_OPEN, 0, intptr_t(&audio)), 0);
    EXPECT_EQ(audio.dwError, VX_ICERR_UNSUPPORTED);

    Instance inst;
    EXPECT_EQ(inst.send(0x4000 + 60, nullptr), VX_ICERR_UNSUPPORTED);
    BITMAPINFOHEADER mjpg = rgb_format(64, 48, 24);
    mjpg.biCompression = fourcc("MJPG");
    std::vector<uint8_t> frame(16);
    std::vector<uint8_t> out(64 * 48 * 3);
    EXPECT_EQ(inst.decompress(&mjpg, frame, out.data()), VX_ICERR_ERROR) << "no BEGIN";
    // An id never handed out, or already closed, is refused.
    uintptr_t closed = 0;
    {
        Instance gone;
        closed = gone.id();
    }
    EXPECT_EQ(driver_proc()(closed, nullptr, VX_ICM_DECOMPRESS_QUERY, intptr_t(&mjpg), 0),
              VX_ICERR_BADHANDLE);
    EXPECT_EQ(driver_proc()(closed, nullptr, VX_DRV_CLOSE, 0, 0), 0);
}

TEST_F(LavcDriverApiTest, QueryAndGetFormatCheckSizesAndCodes) {
    Instance inst;
    BITMAPINFOHEADER good = rgb_format(176, 144, 24);
    good.biCompression = fourcc("MJPG");
    EXPECT_EQ(inst.send(VX_ICM_DECOMPRESS_QUERY, &good), VX_ICERR_OK);

    auto refused = [&](auto change) {
        BITMAPINFOHEADER b = good;
        change(b);
        return inst.send(VX_ICM_DECOMPRESS_QUERY, &b) == VX_ICERR_BADFORMAT &&
               inst.send(VX_ICM_DECOMPRESS_GET_FORMAT, &b) == VX_ICERR_BADFORMAT;
    };
    EXPECT_TRUE(refused([](auto& b) { b.biCompression = fourcc("QQQQ"); }));
    EXPECT_TRUE(refused([](auto& b) { b.biCompression = 0; }));  // uncompressed
    EXPECT_TRUE(refused([](auto& b) { b.biWidth = 0; }));
    EXPECT_TRUE(refused([](auto& b) { b.biWidth = 16385; }));
    EXPECT_TRUE(refused([](auto& b) { b.biHeight = 0; }));
    EXPECT_TRUE(refused([](auto& b) { b.biHeight = INT32_MIN; }));
    EXPECT_TRUE(refused([](auto& b) { b.biSize = 39; }));
    EXPECT_TRUE(refused([](auto& b) { b.biSize = 40 + (2u << 20); }));

    // Outputs: BI_RGB of 16, 24 or 32 bits, the input's size either way up.
    BITMAPINFOHEADER out = rgb_format(176, -144, 32);
    EXPECT_EQ(inst.send(VX_ICM_DECOMPRESS_QUERY, &good, &out), VX_ICERR_OK);
    for (auto change : {+[](BITMAPINFOHEADER& b) { b.biBitCount = 8; },
                        +[](BITMAPINFOHEADER& b) { b.biCompression = 3; },
                        +[](BITMAPINFOHEADER& b) { b.biWidth = 175; },
                        +[](BITMAPINFOHEADER& b) { b.biHeight = 143; },
                        +[](BITMAPINFOHEADER& b) { b.biSizeImage = 1000; }}) {
        BITMAPINFOHEADER b = out;
        change(b);
        EXPECT_EQ(inst.send(VX_ICM_DECOMPRESS_QUERY, &good, &b), VX_ICERR_BADFORMAT);
        EXPECT_EQ(inst.send(VX_ICM_DECOMPRESS_BEGIN, &good, &b), VX_ICERR_BADFORMAT);
    }

    EXPECT_EQ(inst.send(VX_ICM_DECOMPRESS_GET_FORMAT, &good), 40);
    BITMAPINFOHEADER proposed{};
    good.biWidth = 174;
    ASSERT_EQ(inst.send(VX_ICM_DECOMPRESS_GET_FORMAT, &good, &proposed), VX_ICERR_OK);
    EXPECT_EQ(proposed.biSize, 40u);
    EXPECT_EQ(proposed.biWidth, 174);
    EXPECT_EQ(proposed.biHeight, 144);
    EXPECT_EQ(proposed.biBitCount, 24);
    EXPECT_EQ(proposed.biCompression, 0u);
    EXPECT_EQ(proposed.biSizeImage, 524u * 144);
}

// An 8-bit run-length picture takes its colours from the table after the
// header: each line is two runs of four pixels.
TEST_F(LavcDriverApiTest, PalettisedFramesUseTheColourTable) {
    struct {
        BITMAPINFOHEADER header;
        uint8_t colours[4][4];
    } in{rgb_format(8, 4, 8), {{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}, {1, 2, 3, 0}}};
    in.header.biCompression = 1;  // BI_RLE8
    in.header.biClrUsed = 4;
    std::vector<uint8_t> frame;
    for (uint8_t line = 0; line < 4; ++line)
        frame.insert(frame.end(), {4, line, 4, uint8_t((line + 1) % 4), 0, 0});
    frame.insert(frame.end(), {0, 1});

    Instance inst;
    BITMAPINFOHEADER out = rgb_format(8, 4, 24);
    ASSERT_EQ(inst.send(VX_ICM_DECOMPRESS_BEGIN, &in.header, &out), VX_ICERR_OK);
    std::vector<uint8_t> bitmap(image_bytes(out));
    ASSERT_EQ(inst.decompress(&in.header, frame, bitmap.data()), VX_ICERR_OK);
    // The first coded line is the bottom row, the first in a bottom-up bitmap.
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            const uint8_t* want = in.colours[(y + (x >= 4)) % 4];
            const uint8_t* got = &bitmap[24 * y + 3 * x];
            EXPECT_TRUE(got[0] == want[0] && got[1] == want[1] && got[2] == want[2])
                << "pixel " << x << "," << y;
        }
}

}  // namespace
}  // namespace vxtest

#endif
