// The installed-video-codec service (platform/video_codec.h) driven against
// the test codec "VXTS" (tests/support/test_codec). Linux: the codec manager
// finds the driver module through a temporary profile's [drivers32]. Windows:
// the system's codec manager, with the test codec installed as a function.
#include "platform/video_codec.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "unit/codec_env.h"

#ifdef _WIN32
#include <windows.h>
#include <vfw.h>
#else
#include <dlfcn.h>
#include <vxmedia/driver.h>
#endif

namespace {

namespace vp = vx::platform;

constexpr uint32_t kVxts = VX_TEST_CODEC_FOURCC;
constexpr uint32_t kZzzz = VX_MAKEFOURCC('Z', 'Z', 'Z', 'Z');
#ifdef _WIN32
constexpr intptr_t kBadFormat = ICERR_BADFORMAT;
constexpr intptr_t kError = ICERR_ERROR;
constexpr intptr_t kBadHandle = ICERR_BADHANDLE;
constexpr uint32_t kHurryUp = ICDECOMPRESS_HURRYUP;
constexpr uint32_t kModeCompress = ICMODE_COMPRESS;
constexpr uint32_t kModeQuery = ICMODE_QUERY;
#else
constexpr intptr_t kBadFormat = VX_ICERR_BADFORMAT;
constexpr intptr_t kError = VX_ICERR_ERROR;
constexpr intptr_t kBadHandle = VX_ICERR_BADHANDLE;
constexpr uint32_t kHurryUp = VX_ICDECOMPRESS_HURRYUP;
constexpr uint32_t kModeCompress = VX_ICMODE_COMPRESS;
constexpr uint32_t kModeQuery = VX_ICMODE_QUERY;
#endif

BITMAPINFOHEADER format(uint32_t compression, int32_t width, int32_t height, uint16_t bits,
                        uint32_t sizeImage) {
    BITMAPINFOHEADER f;
    std::memset(&f, 0, sizeof f);
    f.biSize = sizeof f;
    f.biWidth = width;
    f.biHeight = height;
    f.biPlanes = 1;
    f.biBitCount = bits;
    f.biCompression = compression;
    f.biSizeImage = sizeImage;
    return f;
}

uint32_t stride(int32_t width, int bits) { return (static_cast<uint32_t>(width) * (bits / 8) + 3u) & ~3u; }

// Every pixel (B,G,R) and, for 32 bits, a 0 fourth byte; the row padding
// still `pad`.
::testing::AssertionResult pixels_are(const std::vector<unsigned char>& image, int32_t width, int32_t height,
                                      int bits, unsigned b, unsigned g, unsigned r, unsigned char pad) {
    const uint32_t rowBytes = stride(width, bits);
    const int pixelBytes = bits / 8;
    for (int32_t y = 0; y < height; ++y) {
        const unsigned char* row = image.data() + static_cast<std::size_t>(y) * rowBytes;
        for (int32_t x = 0; x < width; ++x) {
            const unsigned char* p = row + x * pixelBytes;
            if (p[0] != b || p[1] != g || p[2] != r || (pixelBytes == 4 && p[3] != 0))
                return ::testing::AssertionFailure()
                       << "pixel (" << x << "," << y << ") is " << unsigned(p[0]) << "," << unsigned(p[1]) << ","
                       << unsigned(p[2]);
        }
        for (uint32_t i = static_cast<uint32_t>(width * pixelBytes); i < rowBytes; ++i) {
            if (row[i] != pad) return ::testing::AssertionFailure() << "padding of row " << y << " written";
        }
    }
    return ::testing::AssertionSuccess();
}

// Codec handles closed at the end of a test, whatever happens in it.
struct Codec {
    vp::CodecInstance h = nullptr;
    explicit Codec(vp::CodecInstance c) : h(c) {}
    ~Codec() { vp::codec_close(h); }
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;
    vp::CodecInstance release() {
        auto c = h;
        h = nullptr;
        return c;
    }
};

#ifdef _WIN32
constexpr const char* kProfile = nullptr;
#else
// Modules that do not load and keys of other types come before the codec.
constexpr const char* kProfile =
    "[drivers32]\nvidc.NONE=/nonexistent.so\nmsacm.VXTS=/nonexistent-too.so\n"
    "vidc.VXTS=" VX_TEST_CODEC_PATH "\n";
#endif

class VideoCodecTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(env_.ready()); }

    VxTestCodecCounts counts() const { return env_.counts(); }

    static vp::CodecInstance locate(uint32_t compression, uint32_t handler = 0) {
        const BITMAPINFOHEADER in = format(compression, 3, 2, 24, 4);
        return vp::codec_locate(vp::kCodecTypeVideo, handler, &in, nullptr, vp::kCodecModeDecompress);
    }

    vxtest::TestCodecEnv env_{kProfile};
};

TEST_F(VideoCodecTest, LocatesTheTestCodecForItsFormatAndClosesIt) {
    Codec codec(locate(kVxts));
    ASSERT_NE(codec.h, nullptr);
    VxTestCodecCounts c = counts();
    EXPECT_GE(c.opens, 1u);
    EXPECT_GE(c.queries, 1u);
    EXPECT_EQ(c.opens, c.closes + 1);
    vp::codec_close(codec.release());
    c = counts();
    EXPECT_EQ(c.closes, c.opens);
}

// Installed codecs are listed in order, opened by handler code and describe
// themselves.
TEST_F(VideoCodecTest, InstalledCodecsAreListedOpenedByHandlerAndDescribed) {
    std::vector<uint32_t> listed;
    uint32_t handler = 0;
    for (uint32_t i = 0; i < 256 && vp::codec_info(vp::kCodecTypeVideo, i, &handler); ++i)
        listed.push_back(handler);
#ifdef _WIN32
    EXPECT_FALSE(listed.empty()) << "the system's own codecs";
    const uint32_t asked = kVxts;
#else
    EXPECT_EQ(listed, (std::vector<uint32_t>{VX_MAKEFOURCC('N', 'O', 'N', 'E'), kVxts}));
    const uint32_t asked = VX_MAKEFOURCC('v', 'x', 't', 's');  // either case
#endif
    Codec codec(vp::codec_open(vp::kCodecTypeVideo, asked, kModeQuery));
    ASSERT_NE(codec.h, nullptr);
    VxIcInfo info;
    ASSERT_TRUE(vp::codec_get_info(codec.h, &info));
    EXPECT_EQ(info.fccHandler, kVxts);
    std::string description;
    for (const uint16_t c : info.szDescription) {
        if (c == 0) break;
        description += static_cast<char>(c);
    }
    EXPECT_EQ(description, "VxMedia test codec");
    EXPECT_EQ(vp::codec_open(vp::kCodecTypeVideo, kZzzz, kModeQuery), nullptr);
}

TEST_F(VideoCodecTest, NoCodecForAnotherCompression) {
    EXPECT_EQ(locate(kZzzz), nullptr);
#ifndef _WIN32
    // Every installed codec is asked (on Windows, Wine's ICLocate never asks
    // codecs installed as functions unless their handler is named).
    EXPECT_EQ(counts().opens, 1u);
#endif
    // With the handler named first: opened, asked and closed again.
    EXPECT_EQ(locate(kZzzz, kVxts), nullptr);
    const VxTestCodecCounts c = counts();
    EXPECT_GE(c.opens, 1u);
    EXPECT_GE(c.queries, 1u);
    EXPECT_EQ(c.closes, c.opens);
    // Nor for an output it cannot give.
    const BITMAPINFOHEADER in = format(kVxts, 3, 2, 24, 4);
    const BITMAPINFOHEADER out16 = format(0, 3, 2, 16, 0);
    EXPECT_EQ(vp::codec_locate(vp::kCodecTypeVideo, 0, &in, &out16, vp::kCodecModeDecompress), nullptr);
    EXPECT_EQ(counts().closes, counts().opens);
}

TEST_F(VideoCodecTest, LocatesWithTheHandlerFirst) {
    Codec codec(locate(kVxts, kVxts));
    ASSERT_NE(codec.h, nullptr);
    EXPECT_EQ(counts().opens, 1u);
    EXPECT_EQ(counts().refusals, 0u);
    // With an output format it accepts.
    const BITMAPINFOHEADER in = format(kVxts, 3, -2, 8, 4);
    const BITMAPINFOHEADER out = format(0, 3, 2, 32, 0);
    Codec second(vp::codec_locate(vp::kCodecTypeVideo, kVxts, &in, &out, vp::kCodecModeDecompress));
    EXPECT_NE(second.h, nullptr);
}

TEST_F(VideoCodecTest, CompressionIsRefusedByTheDecompressOnlyCodec) {
    const BITMAPINFOHEADER in = format(kVxts, 3, 2, 24, 4);
    EXPECT_EQ(vp::codec_locate(vp::kCodecTypeVideo, kVxts, &in, nullptr, kModeCompress), nullptr);
    EXPECT_EQ(counts().opens, 0u);
    EXPECT_EQ(counts().closes, 0u);
}

TEST_F(VideoCodecTest, GetFormatQueryBeginDecompressEnd) {
    Codec codec(locate(kVxts));
    ASSERT_NE(codec.h, nullptr);
    constexpr int32_t w = 3, h = 2;
    BITMAPINFOHEADER in = format(kVxts, w, h, 24, 4);
    const auto pin = reinterpret_cast<intptr_t>(&in);

    EXPECT_EQ(vp::codec_send(codec.h, vp::kIcmDecompressGetFormat, pin, 0), 40);
    BITMAPINFOHEADER out;
    std::memset(&out, 0xCC, sizeof out);
    ASSERT_EQ(vp::codec_send(codec.h, vp::kIcmDecompressGetFormat, pin, reinterpret_cast<intptr_t>(&out)),
              vp::kIcErrOk);
    EXPECT_EQ(out.biSize, 40u);
    EXPECT_EQ(out.biWidth, w);
    EXPECT_EQ(out.biHeight, h);
    EXPECT_EQ(out.biPlanes, 1);
    EXPECT_EQ(out.biBitCount, 24);
    EXPECT_EQ(out.biCompression, 0u);
    EXPECT_EQ(out.biSizeImage, 12u * 2u);
    EXPECT_EQ(out.biClrUsed, 0u);
    const auto pout = reinterpret_cast<intptr_t>(&out);

    EXPECT_EQ(vp::codec_send(codec.h, vp::kIcmDecompressQuery, pin, pout), vp::kIcErrOk);
    EXPECT_EQ(vp::codec_send(codec.h, vp::kIcmDecompressQuery, pin, 0), vp::kIcErrOk);
    BITMAPINFOHEADER wrong = out;
    wrong.biWidth = 4;
    EXPECT_EQ(vp::codec_send(codec.h, vp::kIcmDecompressQuery, pin, reinterpret_cast<intptr_t>(&wrong)),
              kBadFormat);
    BITMAPINFOHEADER other = in;
    other.biCompression = kZzzz;
    EXPECT_EQ(vp::codec_send(codec.h, vp::kIcmDecompressQuery, reinterpret_cast<intptr_t>(&other), 0),
              kBadFormat);
    EXPECT_EQ(vp::codec_send(codec.h, vp::kIcmDecompressGetFormat, reinterpret_cast<intptr_t>(&other), 0),
              kBadFormat);

    std::vector<unsigned char> image(out.biSizeImage, 0xEE);
    const unsigned char key[4] = {'K', 10, 20, 250};
    // Not begun yet.
    EXPECT_EQ(vp::codec_decompress(codec.h, 0, &in, key, &out, image.data()), kError);
    ASSERT_EQ(vp::codec_send(codec.h, vp::kIcmDecompressBegin, pin, pout), vp::kIcErrOk);
    ASSERT_EQ(vp::codec_decompress(codec.h, 0, &in, key, &out, image.data()), vp::kIcErrOk);
    EXPECT_TRUE(pixels_are(image, w, h, 24, 10, 20, 250, 0xEE));
    const unsigned char delta[4] = {'D', 1, 255, 10};
    ASSERT_EQ(vp::codec_decompress(codec.h, 0, &in, delta, &out, image.data()), vp::kIcErrOk);
    EXPECT_TRUE(pixels_are(image, w, h, 24, 11, 19, 4, 0xEE));
    // Hurried frames are applied all the same.
    ASSERT_EQ(vp::codec_decompress(codec.h, kHurryUp, &in, delta, &out, image.data()), vp::kIcErrOk);
    EXPECT_TRUE(pixels_are(image, w, h, 24, 12, 18, 14, 0xEE));

    // Short frames and unknown frame types change nothing.
    in.biSizeImage = 3;
    EXPECT_EQ(vp::codec_decompress(codec.h, 0, &in, key, &out, image.data()), kBadFormat);
    in.biSizeImage = 4;
    const unsigned char bogus[4] = {'X', 1, 1, 1};
    EXPECT_EQ(vp::codec_decompress(codec.h, 0, &in, bogus, &out, image.data()), kBadFormat);
    EXPECT_TRUE(pixels_are(image, w, h, 24, 12, 18, 14, 0xEE));

    EXPECT_EQ(vp::codec_send(codec.h, vp::kIcmDecompressEnd, 0, 0), vp::kIcErrOk);
    EXPECT_EQ(vp::codec_decompress(codec.h, 0, &in, key, &out, image.data()), kError);

    const VxTestCodecCounts c = counts();
    EXPECT_EQ(c.getFormats, 3u);
    EXPECT_EQ(c.begins, 1u);
    EXPECT_EQ(c.ends, 1u);
    EXPECT_EQ(c.decompresses, 7u);
}

TEST_F(VideoCodecTest, ThirtyTwoBitOutputAndTopDownHeights) {
    Codec codec(locate(kVxts));
    ASSERT_NE(codec.h, nullptr);
    constexpr int32_t w = 5, h = 3;
    const BITMAPINFOHEADER in = format(kVxts, w, -h, 12, 4);
    const BITMAPINFOHEADER out = format(0, w, -h, 32, w * 4 * h);
    ASSERT_EQ(vp::codec_send(codec.h, vp::kIcmDecompressBegin, reinterpret_cast<intptr_t>(&in),
                             reinterpret_cast<intptr_t>(&out)),
              vp::kIcErrOk);
    std::vector<unsigned char> image(out.biSizeImage, 0x77);
    const unsigned char key[6] = {'K', 1, 2, 3, 9, 9};
    ASSERT_EQ(vp::codec_decompress(codec.h, 0, &in, key, &out, image.data()), vp::kIcErrOk);
    EXPECT_TRUE(pixels_are(image, w, h, 32, 1, 2, 3, 0));
    const unsigned char delta[4] = {'D', 255, 0, 1};
    ASSERT_EQ(vp::codec_decompress(codec.h, 0, &in, delta, &out, image.data()), vp::kIcErrOk);
    EXPECT_TRUE(pixels_are(image, w, h, 32, 0, 2, 4, 0));
    // An output other than the begun one.
    const BITMAPINFOHEADER out24 = format(0, w, h, 24, stride(w, 24) * h);
    EXPECT_EQ(vp::codec_decompress(codec.h, 0, &in, key, &out24, image.data()), kBadFormat);
    EXPECT_EQ(vp::codec_send(codec.h, vp::kIcmDecompressEnd, 0, 0), vp::kIcErrOk);
}

TEST_F(VideoCodecTest, TwoLocatesGiveIndependentInstances) {
    Codec a(locate(kVxts));
    Codec b(locate(kVxts));
    ASSERT_NE(a.h, nullptr);
    ASSERT_NE(b.h, nullptr);
    EXPECT_NE(a.h, b.h);
    EXPECT_EQ(counts().opens - counts().closes, 2u);

    constexpr int32_t w = 2, h = 2;
    const BITMAPINFOHEADER in = format(kVxts, w, h, 24, 4);
    const BITMAPINFOHEADER out24 = format(0, w, h, 24, stride(w, 24) * h);
    const BITMAPINFOHEADER out32 = format(0, w, h, 32, w * 4 * h);
    ASSERT_EQ(vp::codec_send(a.h, vp::kIcmDecompressBegin, reinterpret_cast<intptr_t>(&in),
                             reinterpret_cast<intptr_t>(&out24)),
              vp::kIcErrOk);
    ASSERT_EQ(vp::codec_send(b.h, vp::kIcmDecompressBegin, reinterpret_cast<intptr_t>(&in),
                             reinterpret_cast<intptr_t>(&out32)),
              vp::kIcErrOk);
    std::vector<unsigned char> imageA(out24.biSizeImage, 0x55), imageB(out32.biSizeImage, 0x55);
    const unsigned char keyA[4] = {'K', 1, 1, 1}, keyB[4] = {'K', 2, 2, 2};
    ASSERT_EQ(vp::codec_decompress(a.h, 0, &in, keyA, &out24, imageA.data()), vp::kIcErrOk);
    ASSERT_EQ(vp::codec_decompress(b.h, 0, &in, keyB, &out32, imageB.data()), vp::kIcErrOk);
    EXPECT_TRUE(pixels_are(imageA, w, h, 24, 1, 1, 1, 0x55));
    EXPECT_TRUE(pixels_are(imageB, w, h, 32, 2, 2, 2, 0));

    // Ending one leaves the other begun.
    EXPECT_EQ(vp::codec_send(a.h, vp::kIcmDecompressEnd, 0, 0), vp::kIcErrOk);
    EXPECT_EQ(vp::codec_decompress(a.h, 0, &in, keyA, &out24, imageA.data()), kError);
    const unsigned char deltaB[4] = {'D', 1, 2, 3};
    EXPECT_EQ(vp::codec_decompress(b.h, 0, &in, deltaB, &out32, imageB.data()), vp::kIcErrOk);
    EXPECT_TRUE(pixels_are(imageB, w, h, 32, 3, 4, 5, 0));

    const uint32_t closesBefore = counts().closes;
    vp::codec_close(a.release());
    EXPECT_EQ(counts().closes, closesBefore + 1);
    EXPECT_EQ(vp::codec_decompress(b.h, 0, &in, deltaB, &out32, imageB.data()), vp::kIcErrOk);
    EXPECT_TRUE(pixels_are(imageB, w, h, 32, 4, 6, 8, 0));
    vp::codec_close(b.release());
    EXPECT_EQ(counts().closes, closesBefore + 2);
    EXPECT_EQ(counts().opens, counts().closes);
}

TEST_F(VideoCodecTest, NullInstance) {
    EXPECT_EQ(vp::codec_send(nullptr, vp::kIcmDecompressEnd, 0, 0), kBadHandle);
    const BITMAPINFOHEADER in = format(kVxts, 1, 1, 24, 4);
    const unsigned char key[4] = {'K', 1, 1, 1};
    unsigned char image[4] = {};
    EXPECT_EQ(vp::codec_decompress(nullptr, 0, &in, key, &in, image), kBadHandle);
    vp::codec_close(nullptr);
}

#ifndef _WIN32

TEST_F(VideoCodecTest, LinuxModulesLoadOnceAndAreReleasedWhenUnused) {
    // Release what earlier tests loaded; the test's own reference keeps the
    // module (and its counters) in memory.
    vp::codec_unload_modules();
    env_.reset();
    Codec a(locate(kVxts));
    Codec b(locate(kVxts, VX_MAKEFOURCC('v', 'x', 't', 's')));
    ASSERT_NE(a.h, nullptr);
    ASSERT_NE(b.h, nullptr);
    EXPECT_EQ(counts().loads, 1u);
    // Instances keep their module loaded.
    vp::codec_unload_modules();
    EXPECT_EQ(counts().frees, 0u);
    vp::codec_close(a.release());
    vp::codec_close(b.release());
    vp::codec_unload_modules();
    EXPECT_EQ(counts().frees, 1u);
    vp::codec_unload_modules();
    EXPECT_EQ(counts().frees, 1u);
    Codec c(locate(kVxts));
    EXPECT_NE(c.h, nullptr);
    EXPECT_EQ(counts().loads, 2u);
}

TEST_F(VideoCodecTest, LinuxSkipsModulesWithoutDriverProcAndOtherTypes) {
    // A library that loads but has no DriverProc: the C library itself.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&std::printf), &info), 0);
    ASSERT_NE(info.dli_fname, nullptr);
    env_.write_profile(std::string("[other]\nvidc.VXTS=/nonexistent.so\n[drivers32]\nvidc.LIBC=") +
                       info.dli_fname +
                       "\nvids.VXTS=" VX_TEST_CODEC_PATH "\nvidc.VXT=" VX_TEST_CODEC_PATH "\n");
    Codec codec(locate(kVxts));
    ASSERT_NE(codec.h, nullptr);
    EXPECT_EQ(counts().opens, 1u);
    // A short handler code is blank-padded, and its codec tried first.
    Codec padded(locate(kVxts, VX_MAKEFOURCC('V', 'X', 'T', ' ')));
    EXPECT_NE(padded.h, nullptr);

    env_.write_profile("[drivers32]\nvidc.LIBC=" + std::string(info.dli_fname) + "\n");
    EXPECT_EQ(locate(kVxts), nullptr);
    env_.write_profile("[drivers]\nvidc.VXTS=" VX_TEST_CODEC_PATH "\n");
    EXPECT_EQ(locate(kVxts), nullptr);
    std::remove(env_.profile().c_str());
    EXPECT_EQ(locate(kVxts), nullptr);
    EXPECT_EQ(counts().opens, 2u);
}

TEST_F(VideoCodecTest, LinuxOpenRecordAndRefusals) {
    // The manager asks only for modes it can locate.
    const BITMAPINFOHEADER in = format(kVxts, 3, 2, 24, 4);
    EXPECT_EQ(vp::codec_locate(vp::kCodecTypeVideo, kVxts, &in, nullptr, VX_ICMODE_QUERY), nullptr);
    EXPECT_EQ(counts().opens + counts().refusals, 0u);
    EXPECT_EQ(vp::codec_locate(vp::kCodecTypeVideo, kVxts, &in, nullptr, kModeCompress), nullptr);
    EXPECT_EQ(counts().refusals, 1u);
    // Fast decompression is decompression.
    Codec fast(vp::codec_locate(vp::kCodecTypeVideo, 0, &in, nullptr, VX_ICMODE_FASTDECOMPRESS));
    EXPECT_NE(fast.h, nullptr);
    // Another codec type: no "vidc." key serves it.
    EXPECT_EQ(vp::codec_locate(VX_MAKEFOURCC('v', 'i', 'd', 's'), 0, &in, nullptr, vp::kCodecModeDecompress),
              nullptr);
}

#endif

}  // namespace
