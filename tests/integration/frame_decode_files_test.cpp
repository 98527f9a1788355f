// Frames of files that ffmpeg writes, decoded end to end: the reader, the
// frame decoder, the codec manager and the libavcodec driver module installed
// through the profile, against ffmpeg's own conversion to BGR.
#ifdef VX_LAVC_DRIVER_PATH

#include <VexaInfo.h>
#include <gtest/gtest.h>
#include <vxmedia/vxmedia.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

#include "media_files.h"
#include "test_support.h"

namespace vxtest {
namespace {

struct Codec {
    const char* name;
    const char* args;  // ffmpeg's output options
};
void PrintTo(const Codec& c, std::ostream* os) { *os << c.name; }

class FrameDecodeFilesTest : public ::testing::TestWithParam<Codec> {
protected:
    void SetUp() override {
        if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not on PATH";
        const char* old = std::getenv("VXMEDIA_PROFILE");
        if (old != nullptr) saved_ = old, hadProfile_ = true;
        std::ofstream(dir_.file("profile.ini"))
            << "[drivers32]\nvidc.lavc=" VX_LAVC_DRIVER_PATH "\n";
        setenv("VXMEDIA_PROFILE", dir_.file("profile.ini").c_str(), 1);
    }
    void TearDown() override {
        if (hadProfile_)
            setenv("VXMEDIA_PROFILE", saved_.c_str(), 1);
        else
            unsetenv("VXMEDIA_PROFILE");
    }

    TempDir dir_;
    std::string saved_;
    bool hadProfile_ = false;
};

// Every frame in order, backwards and at random equals ffmpeg's picture at
// the same position, row for row (ours bottom-up, 32 bits): codecs that
// reorder pictures included.
TEST_P(FrameDecodeFilesTest, FramesEqualFfmpegInAnyOrder) {
    const std::string avi = dir_.file("clip.avi"), raw = dir_.file("clip.bgr");
    constexpr int kFrames = 24, kWidth = 176, kHeight = 144;
    run_command(std::string("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=176x144:rate=25 "
                            "-frames:v 24 -g 10 ") +
                GetParam().args + " " + shell_quote(avi));
    run_command("ffmpeg -v error -nostdin -y -i " + shell_quote(avi) +
                " -fps_mode passthrough -f rawvideo -pix_fmt bgr24 " + shell_quote(raw));
    std::ifstream in(raw, std::ios::binary);
    const std::vector<char> want{std::istreambuf_iterator<char>(in), {}};
    ASSERT_EQ(want.size(), size_t{kWidth} * 3 * kHeight * kFrames);

    OpenedAvi file(avi, true);
    ASSERT_TRUE(file.ok());
    AviFrameDecoder* decoder = nullptr;
    ASSERT_EQ(aviGetFrameInit(file.reader(), &decoder), 0);
    union {
        BITMAPINFOHEADER header;
        uint8_t room[40 + 1024];
    } format{};
    std::vector<int> order;
    for (int f = 0; f < kFrames; ++f) order.push_back(f);
    for (int f = kFrames - 1; f >= 0; --f) order.push_back(f);
    std::mt19937 random(12);
    for (int n = 0; n < kFrames; ++n) order.push_back(static_cast<int>(random() % kFrames));
    order.push_back(order.back());
    for (int f : order) {
        void* pixels = nullptr;
        int16_t owned = -1;
        ASSERT_EQ(aviGetFrame(decoder, f, &format.header, &pixels, &owned), 0) << f;
        ASSERT_EQ(format.header.biBitCount, 32);
        ASSERT_EQ(format.header.biWidth, kWidth);
        int wrong = 0;
        for (int y = 0; y < kHeight; ++y) {
            const auto* got =
                static_cast<const uint8_t*>(pixels) + size_t{kWidth} * 4 * (kHeight - 1 - y);
            const char* ref = want.data() + size_t{kWidth} * 3 * (size_t{kHeight} * f + y);
            for (int x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c)
                    wrong += got[4 * x + c] != static_cast<uint8_t>(ref[3 * x + c]);
        }
        EXPECT_EQ(wrong, 0) << "frame " << f;
        if (owned == 1) VxDisposeData(pixels);
    }
    EXPECT_EQ(VxHostErrorCount(), 0u) << first_logged_site();
    aviGetFrameTerm(decoder);

    // vxavi decode lists the same pictures in the same order, by the CRC-32
    // of their colour bytes, and nothing on standard error.
    const CommandResult listed =
        run_command(std::string("VXMEDIA_PROFILE=") + shell_quote(dir_.file("profile.ini")) + " " +
                    VXAVI_PATH + " decode " + shell_quote(avi));
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.err, "");
    std::string crcs;
    for (int f = 0; f < kFrames; ++f) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x\n",
                      crc32_bitwise(want.data() + size_t{kWidth} * 3 * kHeight * f,
                                    size_t{kWidth} * 3 * kHeight));
        crcs += crc;
    }
    std::string listedCrcs;
    for (std::size_t at = listed.out.find('\n'); at != std::string::npos && at + 1 < listed.out.size();
         at = listed.out.find('\n', at + 1)) {
        const std::size_t eol = listed.out.find('\n', at + 1);
        if (eol == std::string::npos || eol < at + 10) break;
        listedCrcs += listed.out.substr(eol - 8, 9);
    }
    EXPECT_EQ(listedCrcs, crcs);
}

INSTANTIATE_TEST_SUITE_P(Codecs, FrameDecodeFilesTest,
                         ::testing::Values(Codec{"mjpeg", "-c:v mjpeg -q:v 3"},
                                           Codec{"mpeg4", "-c:v mpeg4 -bf 0 -q:v 4"},
                                           Codec{"cinepak", "-c:v cinepak"},
                                           Codec{"mpeg4_bframes", "-c:v mpeg4 -bf 2 -q:v 4"},
                                           Codec{"h264", "-c:v libx264 -bf 3 -preset fast"},
                                           Codec{"mpeg2", "-c:v mpeg2video -bf 2 -q:v 4"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vxtest

#endif
