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

// The driver module installed through a profile of the test's own.
class DriverProfileTest : public ::testing::Test {
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

    // Runs vxavi with this profile.
    CommandResult vxavi(const std::string& args) const {
        return run_command("VXMEDIA_PROFILE=" + shell_quote(dir_.file("profile.ini")) + " " +
                           VXAVI_PATH + " " + args);
    }
    // ffmpeg's pictures of `avi` in BGR, top row first, frame after frame.
    std::vector<char> ffmpeg_bgr(const std::string& avi) const {
        const std::string raw = avi + ".bgr";
        run_command("ffmpeg -v error -nostdin -y -i " + shell_quote(avi) +
                    " -fps_mode passthrough -f rawvideo -pix_fmt bgr24 " + shell_quote(raw));
        std::ifstream in(raw, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    TempDir dir_;
    std::string saved_;
    bool hadProfile_ = false;
};

class FrameDecodeFilesTest : public DriverProfileTest,
                             public ::testing::WithParamInterface<Codec> {};

// Colour bytes of a 32-bit bottom-up picture that differ from frame `f` of
// ffmpeg's BGR output.
int wrong_bytes(const void* pixels, const std::vector<char>& want, int f, int width, int height) {
    int wrong = 0;
    for (int y = 0; y < height; ++y) {
        const auto* got =
            static_cast<const uint8_t*>(pixels) + size_t{4} * width * (height - 1 - y);
        const char* ref = want.data() + size_t{3} * width * (size_t{1} * height * f + y);
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                wrong += got[4 * x + c] != static_cast<uint8_t>(ref[3 * x + c]);
    }
    return wrong;
}

// Every frame in order, then out of order (back to key frames and forward),
// equals ffmpeg's picture, row for row (ours bottom-up, 32 bits).
TEST_P(FrameDecodeFilesTest, FramesEqualFfmpegInAnyOrder) {
    const std::string avi = dir_.file("clip.avi");
    constexpr int kFrames = 12, kWidth = 176, kHeight = 144;
    run_command(std::string("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=176x144:rate=25 "
                            "-frames:v 12 ") +
                GetParam().args + " " + shell_quote(avi));
    const std::vector<char> want = ffmpeg_bgr(avi);
    ASSERT_EQ(want.size(), size_t{kWidth} * 3 * kHeight * kFrames);

    OpenedAvi file(avi, true);
    ASSERT_TRUE(file.ok());
    AviFrameDecoder* decoder = nullptr;
    ASSERT_EQ(aviGetFrameInit(file.reader(), &decoder), 0);
    union {
        BITMAPINFOHEADER header;
        uint8_t room[40 + 1024];
    } format{};
    const int order[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 7, 3, 11, 0, 6, 6, 9};
    for (int f : order) {
        void* pixels = nullptr;
        int16_t owned = -1;
        ASSERT_EQ(aviGetFrame(decoder, f, &format.header, &pixels, &owned), 0) << f;
        ASSERT_EQ(format.header.biBitCount, 32);
        ASSERT_EQ(format.header.biWidth, kWidth);
        EXPECT_EQ(wrong_bytes(pixels, want, f, kWidth, kHeight), 0) << "frame " << f;
        if (owned == 1) VxDisposeData(pixels);
    }
    EXPECT_EQ(VxHostErrorCount(), 0u) << first_logged_site();
    aviGetFrameTerm(decoder);

    // vxavi decode lists the same pictures by the CRC-32 of their colour bytes,
    // and libav's lines (swscale's about MJPEG's full-range formats) stay
    // inside the driver.
    const CommandResult listed = vxavi("decode " + shell_quote(avi));
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.err, "");
    for (int f = 0; f < kFrames; ++f) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x",
                      crc32_bitwise(want.data() + size_t{kWidth} * 3 * kHeight * f,
                                    size_t{kWidth} * 3 * kHeight));
        EXPECT_NE(listed.out.find(crc), std::string::npos) << "frame " << f;
    }
}

INSTANTIATE_TEST_SUITE_P(Codecs, FrameDecodeFilesTest,
                         ::testing::Values(Codec{"mjpeg", "-c:v mjpeg -q:v 3"},
                                           Codec{"mpeg4", "-c:v mpeg4 -bf 0 -g 5 -q:v 4"},
                                           Codec{"cinepak", "-c:v cinepak"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A frame damaged on purpose makes ffmpeg's decoder complain on standard
// error; through the driver, vxavi's standard error stays empty.
TEST_F(DriverProfileTest, DamagedFramesLeaveStandardErrorEmpty) {
    const std::string avi = dir_.file("damaged.avi");
    run_command(
        "ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 6 "
        "-c:v mpeg4 -bf 0 -g 3 -q:v 4 " +
        shell_quote(avi));
    const std::vector<Packet> packets = ffprobe_packets(avi);
    ASSERT_GE(packets.size(), 3u);
    ASSERT_GT(packets[1].size, 8u);
    std::fstream file(avi, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(packets[1].pos + 4);
    std::mt19937 random(3);
    for (uint32_t i = 4; i < packets[1].size; ++i) file.put(static_cast<char>(random()));
    file.close();

    const CommandResult ffmpeg =
        run_command("ffmpeg -v warning -nostdin -i " + shell_quote(avi) + " -f null -");
    ASSERT_NE(ffmpeg.err, "") << "libav found nothing wrong with the damaged frame";
    const CommandResult listed = vxavi("decode " + shell_quote(avi));
    EXPECT_EQ(listed.exitCode, 0);
    EXPECT_EQ(listed.err, "");
}

}  // namespace
}  // namespace vxtest

#endif
