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

// Compares each decoded bitmap with ffmpeg's frame: `pixelBytes` per pixel,
// the first `compared` of them checked, the rest must be `filler`.
struct Layout {
    uint16_t bits;
    bool topDown;
    const char* ffmpegFormat;
};

void decode_and_compare(Clip& c, const Layout& l) {
    ASSERT_FALSE(c.frames.empty()) << "no frames read from " << c.path;
    BITMAPINFOHEADER* in = c.header();
    const int w = in->biWidth, h = std::abs(in->biHeight);
    BITMAPINFOHEADER out = rgb_format(w, l.topDown ? -h : h, l.bits);
    const std::size_t pixel = l.bits / 8, row = image_bytes(out) / h, plain = w * pixel;
    const std::vector<uint8_t> want = reference(c, l.ffmpegFormat);
    ASSERT_EQ(want.size(), plain * h * c.frames.size()) << "ffmpeg's frame count differs";

    Instance inst;
    ASSERT_EQ(inst.send(VX_ICM_DECOMPRESS_QUERY, in, &out), VX_ICERR_OK);
    ASSERT_EQ(inst.send(VX_ICM_DECOMPRESS_BEGIN, in, &out), VX_ICERR_OK);
    std::vector<uint8_t> bitmap(image_bytes(out));
    for (std::size_t f = 0; f < c.frames.size(); ++f) {
        ASSERT_EQ(inst.decompress(in, c.frames[f], bitmap.data()), VX_ICERR_OK) << "frame " << f;
        int wrongBytes = 0;
        for (int y = 0; y < h; ++y) {
            const uint8_t* got = bitmap.data() + row * (l.topDown ? y : h - 1 - y);
            const uint8_t* ref = want.data() + plain * (h * f + y);
            for (std::size_t x = 0; x < plain; ++x) {
                const bool filler = pixel == 4 && x % 4 == 3;
                wrongBytes += got[x] != (filler ? 0xFF : ref[x]);
            }
        }
        EXPECT_EQ(wrongBytes, 0) << "frame " << f;
    }
    EXPECT_EQ(inst.send(VX_ICM_DECOMPRESS_END, nullptr), VX_ICERR_OK);
}

class LavcCodecTest : public LavcDriverTest, public ::testing::WithParamInterface<CodecCase> {};

TEST_P(LavcCodecTest, FramesEqualFfmpegBgr24) {
    decode_and_compare(clip(GetParam()), {24, false, "bgr24"});
}
INSTANTIATE_TEST_SUITE_P(Codecs, LavcCodecTest, ::testing::ValuesIn(kCodecs),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LavcDriverTest, OtherOutputLayoutsEqualFfmpeg) {
    Clip& c = clip(kCodecs[7]);
    decode_and_compare(c, {32, false, "bgr0"});
    decode_and_compare(c, {24, true, "bgr24"});
    decode_and_compare(c, {16, false, "rgb555le"});
}

}  // namespace
}  // namespace vxtest

#endif
