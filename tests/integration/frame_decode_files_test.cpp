// Frames of files that ffmpeg writes, decoded end to end: the reader, the
// frame decoder, the codec manager and the libavcodec driver module installed
// through the profile, against ffmpeg's own conversion to BGR.
#ifdef VX_LAVC_DRIVER_PATH

#include <VexaInfo.h>
#include <gtest/gtest.h>
#include <vxmedia/vxmedia.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

#include "driver_profile.h"
#include "media_files.h"
#include "test_support.h"

namespace vxtest {
namespace {

struct Codec {
    const char* name;
    const char* args;  // ffmpeg's output options
};
void PrintTo(const Codec& c, std::ostream* os) { *os << c.name; }

class FrameDecodeFilesTest : public DriverProfileTest,
                             public ::testing::WithParamInterface<Codec> {};

// Colour bytes of a 32-bit bottom-up picture that differ from frame `f` of
// ffmpeg's BGR output.
int wrong_bytes(const void* pixels, const std::string& want, int f, int width, int height) {
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

// Every frame in order, backwards and at random equals ffmpeg's picture at
// the same position, row for row (ours bottom-up, 32 bits): codecs that
// reorder pictures included.
TEST_P(FrameDecodeFilesTest, FramesEqualFfmpegInAnyOrder) {
    const std::string avi = dir_.file("clip.avi");
    constexpr int kFrames = 24, kWidth = 176, kHeight = 144;
    run_command(std::string("ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=176x144:rate=25 "
                            "-frames:v 24 -g 10 ") +
                GetParam().args + " " + shell_quote(avi));
    const std::string want = ffmpeg_bgr(avi);
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
        EXPECT_EQ(wrong_bytes(pixels, want, f, kWidth, kHeight), 0) << "frame " << f;
        if (owned == 1) VxDisposeData(pixels);
    }
    EXPECT_EQ(VxHostErrorCount(), 0u) << first_logged_site();
    aviGetFrameTerm(decoder);

    // vxavi decode lists the same pictures in the same order, by the CRC-32
    // of their colour bytes, and libav's lines (swscale's about MJPEG's
    // full-range formats) stay inside the driver.
    const CommandResult listed = vxavi("decode " + shell_quote(avi));
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
    std::string listedCrcs;  // the last column, after the heading
    for (std::size_t eol = listed.out.find('\n'); eol != std::string::npos;) {
        const std::size_t next = listed.out.find('\n', eol + 1);
        if (next == std::string::npos || next < eol + 10) break;
        listedCrcs += listed.out.substr(next - 8, 9);
        eol = next;
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

struct RunLength {
    const char* name;
    uint16_t bits;     // 4: BI_RLE4, 8: BI_RLE8
    uint32_t clrUsed;  // 0: all the depth addresses
};
void PrintTo(const RunLength& c, std::ostream* os) { *os << c.name; }

class RunLengthFilesTest : public DriverProfileTest,
                           public ::testing::WithParamInterface<RunLength> {};

// Run-length coded frames written by the library's writer: each row in runs
// of four pixels, the table's colours all different.
void write_run_length(const std::string& path, const RunLength& c, int width, int height,
                      int frames) {
    const uint32_t entries = c.clrUsed != 0 ? c.clrUsed : 1u << c.bits;
    std::vector<uint8_t> format(40 + 4 * entries);
    BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = c.bits;
    header.biCompression = c.bits == 4 ? 2 : 1;
    header.biClrUsed = c.clrUsed;
    std::memcpy(format.data(), &header, sizeof header);
    for (uint32_t i = 0; i < entries; ++i) {
        uint8_t* q = &format[40 + 4 * i];  // blue, green, red
        q[0] = static_cast<uint8_t>(i * 7);
        q[1] = static_cast<uint8_t>(255 - i * 3);
        q[2] = static_cast<uint8_t>(i * 29);
    }
    MainAVIHeader m{};
    m.dwTotalFrames = static_cast<uint32_t>(frames);
    AviWriter* w = nullptr;
    ASSERT_EQ(avifileOpen(&w, path.c_str(), &m), 0);
    AVIStreamHeader h{};
    h.fccType = VX_MAKEFOURCC('v', 'i', 'd', 's');
    h.fccHandler = VX_MAKEFOURCC('m', 'r', 'l', 'e');
    h.dwScale = 1;
    h.dwRate = 25;
    int32_t stream = -1;
    ASSERT_EQ(avifileAddStream(w, &stream, &h, format.data(), static_cast<uint32_t>(format.size())),
              0);
    for (int f = 0; f < frames; ++f) {
        std::vector<uint8_t> coded;
        for (int y = 0; y < height; ++y) {
            for (int run = 0; run < width / 4; ++run) {
                const uint32_t a = (run * 5 + y * 3 + f * 7) % entries, b = (a + 1) % entries;
                // Four pixels a b a b in one 4-bit run, a a b b in two 8-bit ones.
                if (c.bits == 4)
                    coded.insert(coded.end(), {4, static_cast<uint8_t>(a << 4 | b)});
                else
                    coded.insert(coded.end(),
                                 {2, static_cast<uint8_t>(a), 2, static_cast<uint8_t>(b)});
            }
            coded.insert(coded.end(), {0, static_cast<uint8_t>(y + 1 == height ? 1 : 0)});
        }
        ASSERT_EQ(avifileWrite(w, stream, coded.data(), static_cast<uint32_t>(coded.size()),
                               'd' | 'c' << 8, AVIIF_KEYFRAME),
                  0);
    }
    ASSERT_EQ(avifileClose(w, static_cast<uint32_t>(frames), 0), 0);
}

// Decoded through the driver, the pixels have the colours of the stored
// table, as ffmpeg's decoder of the same file gives them.
TEST_P(RunLengthFilesTest, ColoursComeFromTheStoredTable) {
    constexpr int kWidth = 16, kHeight = 6, kFrames = 3;
    const std::string avi = dir_.file("rle.avi");
    ASSERT_NO_FATAL_FAILURE(write_run_length(avi, GetParam(), kWidth, kHeight, kFrames));
    const std::string want = ffmpeg_bgr(avi);
    ASSERT_EQ(want.size(), size_t{kWidth} * 3 * kHeight * kFrames);

    VxHostErrorClear();
    OpenedAvi file(avi, true);
    ASSERT_TRUE(file.ok());
    AviFrameDecoder* decoder = nullptr;
    ASSERT_EQ(aviGetFrameInit(file.reader(), &decoder), 0);
    for (int f : {0, 1, 2, 0}) {
        BITMAPINFOHEADER format{};
        void* pixels = nullptr;
        int16_t owned = -1;
        ASSERT_EQ(aviGetFrame(decoder, f, &format, &pixels, &owned), 0) << f;
        ASSERT_EQ(format.biBitCount, 32);
        EXPECT_EQ(wrong_bytes(pixels, want, f, kWidth, kHeight), 0) << "frame " << f;
        if (owned == 1) VxDisposeData(pixels);
    }
    EXPECT_EQ(VxHostErrorCount(), 0u) << first_logged_site();
    aviGetFrameTerm(decoder);
}

INSTANTIATE_TEST_SUITE_P(Depths, RunLengthFilesTest,
                         ::testing::Values(RunLength{"rle4", 4, 0}, RunLength{"rle4_16", 4, 16},
                                           RunLength{"rle8", 8, 0}, RunLength{"rle8_40", 8, 40}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vxtest

#endif
