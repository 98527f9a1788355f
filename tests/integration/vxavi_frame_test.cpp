// vxavi frame and vxavi decode on pictures of each depth the frame decoder
// hands out: compressed streams through the libavcodec driver module, and
// palettised raw streams from ffmpeg or built here (1 and 4 bits, a short
// colour table). The pixels of the BMP files, as ffmpeg reads them, and the
// CRCs of decode must equal ffmpeg's own decoding of the AVI file.
#ifdef VX_LAVC_DRIVER_PATH

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "driver_profile.h"
#include "media_files.h"
#include "support/riff_builder.h"

namespace vxtest {
namespace {

constexpr int kFrames = 14;

struct FrameCase {
    const char* name;
    const char* ffmpegArgs;  // the output options of a file ffmpeg makes; null: built here
    uint16_t builtBits;      // the depth of a file built here
    uint32_t builtColours;   // and the entries of its colour table
    uint16_t decodedBits;    // the depth of the pictures aviGetFrame gives
    std::vector<int> frames;
};
void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

// An uncompressed palettised stream of 37x21 pixels (rows that end inside a
// byte, padded rows) whose indexes change with the frame and run past a
// short colour table.
Bytes palettised_avi(uint16_t bits, uint32_t colours) {
    constexpr int kWidth = 37, kHeight = 21;
    const std::size_t stride = ((kWidth * bits + 31) / 32) * 4;
    BITMAPINFOHEADER bi = bitmap_info(kWidth, kHeight, bits);
    bi.biSizeImage = static_cast<uint32_t>(stride * kHeight);
    bi.biClrUsed = colours;
    StreamLayout video = video_stream(kFrames);
    video.format = as_bytes(bi);
    for (uint32_t i = 0; i < colours; ++i)
        video.format.insert(video.format.end(),
                            {static_cast<uint8_t>(i * 37 + 3), static_cast<uint8_t>(250 - i * 11),
                             static_cast<uint8_t>(i * 91), 0});
    AviLayout layout;
    layout.streams = {video};
    for (int f = 0; f < kFrames; ++f) {
        Bytes pixels(stride * kHeight, 0);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const unsigned index = (x * 3 + y * 5 + f * 7) % 16 & ((1u << bits) - 1);
                const std::size_t bit = static_cast<std::size_t>(x) * bits;
                pixels[stride * y + bit / 8] |= static_cast<uint8_t>(index << (8 - bits - bit % 8));
            }
        layout.samples.push_back({0, pixels});
    }
    return layout.build().bytes;
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

class VxaviFrameTest : public DriverProfileTest, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(VxaviFrameTest, PicturesEqualFfmpegs) {
    const FrameCase& c = GetParam();
    const std::string avi = dir_.file("clip.avi"), bmp = dir_.file("frame.bmp");
    if (c.ffmpegArgs != nullptr) {
        run_command(
            "ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=96x72:rate=5 -frames:v " +
            std::to_string(kFrames) + " " + c.ffmpegArgs + " " + shell_quote(avi));
    } else {
        write_file(avi, palettised_avi(c.builtBits, c.builtColours));
    }

    // decode lists ffmpeg's pictures by their CRCs, frame after frame.
    const std::string all = ffmpeg_bgr(avi, "-fps_mode passthrough");
    ASSERT_EQ(all.size() % kFrames, 0u);
    const std::size_t picture = all.size() / kFrames;
    const CommandResult listed = vxavi("decode " + shell_quote(avi));
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    std::istringstream lines(listed.out);
    std::string line;
    std::getline(lines, line);  // the head
    for (int f = 0; f < kFrames; ++f) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x", crc32_bitwise(all.data() + picture * f, picture));
        ASSERT_TRUE(std::getline(lines, line)) << "frame " << f;
        EXPECT_EQ(line.substr(line.size() - 8), crc) << "frame " << f;
    }

    // frame writes the picture as decoded, and converted when asked.
    for (const int n : c.frames) {
        const std::string want = ffmpeg_bgr(
            avi, "-vf " + shell_quote("select=eq(n\\," + std::to_string(n) + ")") + " -frames:v 1");
        ASSERT_EQ(want.size(), picture);
        for (const int bits : {0, 24, 32}) {
            if (bits != 0 && n != c.frames.front()) continue;
            SCOPED_TRACE("frame " + std::to_string(n) + ", --bits " + std::to_string(bits));
            const std::string option = bits != 0 ? " --bits " + std::to_string(bits) : "";
            const CommandResult run = vxavi("frame " + shell_quote(avi) + " " + std::to_string(n) +
                                            " " + shell_quote(bmp) + option);
            ASSERT_EQ(run.exitCode, 0) << run.err;
            const std::vector<unsigned char> head = read_range(bmp, 0, 54);
            ASSERT_EQ(head.size(), 54u);
            EXPECT_EQ(head[0] << 8 | head[1], 'B' << 8 | 'M');
            EXPECT_EQ(head[28], bits != 0 ? bits : c.decodedBits);
            EXPECT_TRUE(ffmpeg_bgr(bmp, "") == want);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Depths, VxaviFrameTest,
    ::testing::Values(FrameCase{"mjpeg", "-c:v mjpeg -q:v 3", 0, 0, 32, {0, 5, 13}},
                      // Frames decoded out of order: N must be the N-th picture shown.
                      FrameCase{"mpeg4_bframes", "-c:v mpeg4 -bf 2 -g 12", 0, 0, 32, {2, 7, 12}},
                      FrameCase{"pal8", "-c:v rawvideo -pix_fmt pal8", 0, 0, 8, {0, 6, 13}},
                      FrameCase{"rgb555", "-c:v rawvideo -pix_fmt rgb555le", 0, 0, 16, {4}},
                      FrameCase{"bgr24", "-c:v rawvideo -pix_fmt bgr24", 0, 0, 24, {11}},
                      FrameCase{"raw4", nullptr, 4, 16, 4, {1, 9}},
                      FrameCase{"raw1", nullptr, 1, 2, 1, {0, 4}},
                      // Indexes past the six colours are black.
                      FrameCase{"raw8_short_table", nullptr, 8, 6, 8, {3}}),
    [](const auto& info) { return std::string(info.param.name); });

// A frame that is not there or an output that cannot be written fails with
// one line, and the input is never written over.
TEST(VxaviFrameRefusalTest, MissingFramesAndBadOutputsFailCleanly) {
    TempDir dir;
    const std::string avi = dir.file("clip.avi");
    const Bytes bytes = palettised_avi(8, 256);
    write_file(avi, bytes);
    const struct {
        std::string frameAndOutput;
        int exitCode;
        std::string says;
    } cases[] = {
        {"14 " + shell_quote(dir.file("a.bmp")), 1, "has 14 video frames: there is no frame 14"},
        {"0 " + shell_quote(avi), 2, "cannot write a frame of " + avi + " over itself"},
        {"0 " + shell_quote(dir.file("no/a.bmp")), 1, "cannot create " + dir.file("no/a.bmp")},
    };
    for (const auto& c : cases) {
        const CommandResult run = run_command(shell_quote(VXAVI_PATH) + " frame " +
                                              shell_quote(avi) + " " + c.frameAndOutput);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.frameAndOutput;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    }
    EXPECT_TRUE(read_range(avi, 0, 1u << 20) == bytes);
    EXPECT_FALSE(std::filesystem::exists(dir.file("a.bmp")));
}

}  // namespace
}  // namespace vxtest

#endif
