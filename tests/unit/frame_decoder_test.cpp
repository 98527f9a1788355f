// Decoded frames through aviGetFrame: back to the key frame and forward, the
// picture kept between calls of a delta-coded stream, blocks handed to the
// caller otherwise, and uncompressed frames handed out as read.
#include <VexaInfo.h>
#include <gtest/gtest.h>
#include <vxmedia/vxmedia.h>

#include <cstring>
#include <string>
#include <vector>

#include "codecs/held_frames.h"
#include "support/reader_fixture.h"
#include "support/test_files.h"
#include "unit/codec_env.h"

namespace {

using vxtest::host_log;
using vxtest::Log;
namespace site = vx::site;
using vxtest::vxts_frame;

constexpr int32_t kWidth = 4, kHeight = 2;
constexpr uint32_t kDc = 'd' | ('c' << 8);
constexpr uint32_t kDb = 'd' | ('b' << 8);

struct Frame {
    std::string bytes;
    bool key;
    uint32_t type = kDc;  // of the chunk: "00dc", or "00db" for a whole image
};

class FrameDecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(env_.ready());
        VxHostErrorClear();
        path_ = vxtest::make_temp_file("vxframes");
        ASSERT_FALSE(path_.empty());
    }
    void TearDown() override {
        if (decoder_ != nullptr) aviGetFrameTerm(decoder_);
        if (reader_ != nullptr) aviClose(reader_);
        if (file_ != INVALID_HANDLE_VALUE) vxtest::close_file(file_);
        vxtest::remove_file(path_);
        decoder_ = nullptr;
        reader_ = nullptr;
        file_ = INVALID_HANDLE_VALUE;
    }

    // Writes a one-stream file with the writer and opens it with the reader.
    void open(const std::vector<Frame>& frames, uint32_t compression = VX_TEST_CODEC_FOURCC,
              uint32_t handler = VX_TEST_CODEC_FOURCC, uint16_t bits = 24,
              const std::vector<uint32_t>& palette = {}, int32_t width = kWidth,
              bool countColours = true) {
        MainAVIHeader m{};
        m.dwTotalFrames = static_cast<uint32_t>(frames.size());
        AviWriter* w = nullptr;
        ASSERT_EQ(avifileOpen(&w, path_.c_str(), &m), 0);
        AVIStreamHeader h{};
        h.fccType = VX_MAKEFOURCC('v', 'i', 'd', 's');
        h.fccHandler = handler;
        h.dwScale = 1;
        h.dwRate = 25;
        BITMAPINFOHEADER f{};
        f.biSize = sizeof f;
        f.biWidth = width;
        f.biHeight = kHeight;
        f.biPlanes = 1;
        f.biBitCount = bits;
        f.biCompression = compression;
        f.biClrUsed = countColours ? static_cast<uint32_t>(palette.size()) : 0;
        f.biClrImportant = codecDelay_;  // pictures the test codec holds back
        std::vector<uint8_t> stored(sizeof f + 4 * palette.size());
        std::memcpy(stored.data(), &f, sizeof f);
        if (!palette.empty())
            std::memcpy(stored.data() + sizeof f, palette.data(), 4 * palette.size());
        int32_t stream = -1;
        ASSERT_EQ(
            avifileAddStream(w, &stream, &h, stored.data(), static_cast<uint32_t>(stored.size())),
            0);
        for (const Frame& x : frames)
            ASSERT_EQ(avifileWrite(w, stream, x.bytes.data(), static_cast<uint32_t>(x.bytes.size()),
                                   x.type, x.key ? AVIIF_KEYFRAME : 0),
                      0);
        ASSERT_EQ(avifileClose(w, static_cast<uint32_t>(frames.size()), 0), 0);
        file_ = vxtest::open_file(path_, vxtest::Access::kRead);
        ASSERT_EQ(aviOpen(&reader_, file_, nullptr), 0);
    }

    struct Got {
        VXRESULT rc;
        const uint8_t* pixels;
        int16_t owned;
        uint32_t first;  // B,G,R of the first pixel
    };
    Got get(int32_t frame) {
        Got g{};
        void* pixels = nullptr;
        g.rc = aviGetFrame(decoder_, frame, &format_.header, &pixels, &g.owned);
        g.pixels = static_cast<const uint8_t*>(pixels);
        if (g.rc == 0 && g.pixels != nullptr)
            g.first = g.pixels[0] | g.pixels[1] << 8 | g.pixels[2] << 16;
        return g;
    }
    uint32_t decodes() const { return env_.counts().decompresses; }

    vxtest::TestCodecEnv env_;
    uint32_t codecDelay_ = 0;
    std::string path_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    AviReader* reader_ = nullptr;
    AviFrameDecoder* decoder_ = nullptr;
    union {
        BITMAPINFOHEADER header;
        uint8_t room[40 + 1024];
    } format_{};
};

// Key frame 0 (blue 10), +1 per frame, key frame 15 (blue 100), 20 frames.
std::vector<Frame> delta_run() {
    std::vector<Frame> frames;
    for (int i = 0; i < 20; ++i) {
        if (i == 0 || i == 15)
            frames.push_back({vxts_frame('K', i == 0 ? 10 : 100, 7, 9), true});
        else
            frames.push_back({vxts_frame('D', 1, 0, 0), false});
    }
    return frames;
}

TEST_F(FrameDecoderTest, DeltaFramesDecodeForwardFromTheKeyFrameOnce) {
    open(delta_run());
    ASSERT_EQ(aviGetFrameInit(reader_, &decoder_), 0);

    Got g = get(10);
    ASSERT_EQ(g.rc, 0);
    EXPECT_EQ(g.first, 0x090714u) << "10 + 10 deltas";
    EXPECT_EQ(g.owned, 0);
    EXPECT_EQ(decodes(), 11u) << "frames 0 to 10";
    EXPECT_EQ(format_.header.biBitCount, 32);
    EXPECT_EQ(format_.header.biSizeImage, uint32_t{kWidth} * 4 * kHeight);

    const uint8_t* held = get(12).pixels;
    EXPECT_EQ(decodes(), 13u) << "only 11 and 12";
    g = get(12);
    EXPECT_EQ(g.pixels, held);
    EXPECT_EQ(g.first, 0x090716u);
    EXPECT_EQ(decodes(), 13u) << "the same frame again decodes nothing";

    EXPECT_EQ(get(5).first, 0x09070Fu);
    EXPECT_EQ(decodes(), 19u) << "back to frame 0 and on to 5";
    EXPECT_EQ(get(17).first, 0x090766u) << "from the key frame at 15";
    EXPECT_EQ(get(500).first, 0x090768u) << "past the end: the last frame";
    EXPECT_EQ(get(-3).first, 0x09070Au) << "before the start: the first frame";
    EXPECT_TRUE(host_log().empty());

    // A header that claims more frames than the index holds ends at the
    // index's last frame, decoded once from its key frame.
    reader_->streams[reader_->videoStream].header.dwLength = 4000000000u;
    const uint32_t before = decodes();
    EXPECT_EQ(get(2000000000).first, 0x090768u);
    EXPECT_EQ(decodes() - before, 5u);
}

// A codec that holds pictures back still gives every frame its own picture,
// in any order; in order, each frame is fed once and the end is drained.
// Codecs that do not say what they hold are followed by their answers.
TEST_F(FrameDecoderTest, ReorderingCodecsGiveEachFrameItsOwnPicture) {
    for (const uint32_t delay : {1u, 3u, 0x101u, 0x103u}) {
        SCOPED_TRACE(delay);
        TearDown();
        SetUp();
        codecDelay_ = delay;
        open(delta_run());
        ASSERT_EQ(aviGetFrameInit(reader_, &decoder_), 0);
        const uint32_t before = decodes();
        auto blue = [](int f) {
            return 0x090700u + static_cast<uint32_t>(f < 15 ? 10 + f : 85 + f);
        };
        for (int f = 0; f < 20; ++f) {
            const Got g = get(f);
            ASSERT_EQ(g.rc, 0);
            EXPECT_EQ(g.owned, 0);
            EXPECT_EQ(g.first, blue(f)) << "frame " << f;
        }
        EXPECT_EQ(decodes() - before, 20 + (delay & 0xFF))
            << "every frame once, then the held ones";
        for (const int f : {19, 18, 3, 16, 14, 14, 0, 15, 7})
            EXPECT_EQ(get(f).first, blue(f)) << "frame " << f;
        EXPECT_TRUE(host_log().empty());
    }
}

// A codec that cannot give 32 bits decodes to the depth it proposed, which
// the format handed out says, whatever depth the stored format names.
TEST_F(FrameDecoderTest, PicturesHaveTheDepthTheCodecProposed) {
    codecDelay_ = 0x200;
    open({{vxts_frame('K', 1, 2, 3), true}}, VX_TEST_CODEC_FOURCC, VX_TEST_CODEC_FOURCC, 8);
    ASSERT_EQ(aviGetFrameInit(reader_, &decoder_), 0);
    const Got g = get(0);
    ASSERT_EQ(g.rc, 0);
    EXPECT_EQ(format_.header.biBitCount, 24);
    EXPECT_EQ(g.first, 0x030201u);
    EXPECT_EQ(g.pixels[3], 1) << "the second pixel starts at byte 3";
    EXPECT_TRUE(host_log().empty());
    if (g.owned == 1) VxDisposeData(const_cast<uint8_t*>(g.pixels));
}

// Which frame a picture belongs to: the newest `held` frames fed still wait,
// those before the picture's are lost; no more than kMost wait.
TEST(HeldFramesTest, PicturesBelongToTheFrameBeforeTheHeldOnes) {
    vx::codecs::HeldFrames h{};
    for (const int32_t f : {7, 8, 9}) h.fed(f);
    EXPECT_EQ(h.picture(1), 8);
    EXPECT_EQ(h.oldest(), 9);
    h.fed(10);
    h.none(1);
    EXPECT_FALSE(h.waiting(9));
    EXPECT_EQ(h.picture(5), 10) << "holding more than waits: the oldest";
    EXPECT_EQ(h.picture(0), -1);
    for (int32_t f = 0; f < 40; ++f) h.fed(f);
    EXPECT_EQ(h.count(), vx::codecs::HeldFrames::kMost);
    EXPECT_EQ(h.oldest(), 8);
}

// With no frame to draw, a blank picture of the stream's size comes out.
TEST_F(FrameDecoderTest, StreamsWithoutAFrameGiveABlankPicture) {
    const std::string image(uint32_t{kWidth} * 3 * kHeight, '\x7F');
    for (const bool empty : {true, false}) {
        SCOPED_TRACE(empty ? "only empty frames" : "starts past its index");
        TearDown();
        SetUp();
        open({{empty ? "" : image, true}, {empty ? "" : image, true}}, 0,
             VX_MAKEFOURCC('D', 'I', 'B', ' '));
        if (!empty) reader_->streams[reader_->videoStream].header.dwStart = 5;
        ASSERT_EQ(aviGetFrameInit(reader_, &decoder_), 0);
        const Got g = get(1);
        ASSERT_EQ(g.rc, 0);
        ASSERT_NE(g.pixels, nullptr);
        EXPECT_EQ(g.owned, 1);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(g.pixels), image.size()),
                  std::string(image.size(), '\0'));
        VxDisposeData(const_cast<uint8_t*>(g.pixels));
    }
}

TEST_F(FrameDecoderTest, AnEmptyDeltaFrameShowsThePictureBefore) {
    open({{vxts_frame('K', 1, 2, 3), true},
          {vxts_frame('D', 5, 0, 0), false},
          {"", false},
          {vxts_frame('D', 5, 0, 0), false}});
    ASSERT_EQ(aviGetFrameInit(reader_, &decoder_), 0);
    EXPECT_EQ(get(2).first, 0x030206u);
    EXPECT_EQ(get(3).first, 0x03020Bu);
}

TEST_F(FrameDecoderTest, KeyFramesOnlyGiveTheCallerANewBlockEachTime) {
    open({{vxts_frame('K', 1, 0, 0), true}, {vxts_frame('K', 2, 0, 0), true}});
    ASSERT_EQ(aviGetFrameInit(reader_, &decoder_), 0);
    const Got a = get(1), b = get(1);
    ASSERT_EQ(a.rc, 0);
    EXPECT_EQ(a.owned, 1);
    EXPECT_EQ(b.owned, 1);
    EXPECT_NE(a.pixels, b.pixels);
    EXPECT_EQ(a.first, 2u);
    EXPECT_EQ(decodes(), 2u) << "nothing is kept, so the frame is decoded again";
    VxDisposeData(const_cast<uint8_t*>(a.pixels));
    VxDisposeData(const_cast<uint8_t*>(b.pixels));
}

TEST_F(FrameDecoderTest, UncompressedFramesAreHandedOutAsRead) {
    std::string image(uint32_t{kWidth} * 3 * kHeight, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i * 7);
    open({{image, true}, {image, true}}, 0, VX_MAKEFOURCC('D', 'I', 'B', ' '));
    ASSERT_EQ(aviGetFrameInit(reader_, &decoder_), 0);
    const Got g = get(1);
    ASSERT_EQ(g.rc, 0);
    EXPECT_EQ(g.owned, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g.pixels), image.size()), image);
    EXPECT_EQ(get(0).pixels, g.pixels) << "the read buffer itself";
    EXPECT_EQ(decodes(), 0u);
}

TEST_F(FrameDecoderTest, RunLengthFramesAreExpandedIntoACallersBlock) {
    // 8x2 at 8 bits: a whole image is 16 bytes, so these 8 bytes are coded:
    // a run of 8 of colour 1, end of line, a run of 8 of colour 0, end.
    const std::string rle("\x08\x01\x00\x00\x08\x00\x00\x01", 8);
    open({{rle, true}, {rle, true}}, 0, VX_MAKEFOURCC('R', 'L', 'E', ' '), 8,
         {0x00112233, 0x00AABBCC}, 8);
    ASSERT_EQ(aviGetFrameInit(reader_, &decoder_), 0);
    const Got g = get(1);
    ASSERT_EQ(g.rc, 0);
    EXPECT_EQ(g.owned, 1) << "no picture is kept without delta frames";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(g.pixels), 16),
              std::string(8, '\x01') + std::string(8, '\x00'));
    EXPECT_EQ(format_.header.biClrUsed, 2u);
    uint32_t colour = 0;
    std::memcpy(&colour, format_.room + 40 + 4, 4);
    EXPECT_EQ(colour, 0x00AABBCCu) << "the colour table comes with the format";
    VxDisposeData(const_cast<uint8_t*>(g.pixels));
}

// A count of 0 means every colour the depth addresses: the stored table
// comes with the format as far as the file holds it, zero behind that.
TEST_F(FrameDecoderTest, AColourCountOf0HandsOutTheWholeStoredTable) {
    struct Case {
        uint16_t bits;
        uint32_t stored;  // entries in the file
    };
    for (const Case c : {Case{8, 256}, Case{4, 16}, Case{1, 2}, Case{4, 9}}) {
        SCOPED_TRACE(c.bits);
        std::vector<uint32_t> palette(c.stored);
        for (uint32_t i = 0; i < c.stored; ++i) palette[i] = 0x00010203u * (i + 1) ^ 0x00A05000u;
        const std::string image(uint32_t{kWidth} * kHeight, '\x01');  // rows of 4 bytes
        open({{image, true}}, 0, 0, c.bits, palette, kWidth, false);
        ASSERT_EQ(aviGetFrameInit(reader_, &decoder_), 0);
        format_ = {};
        ASSERT_EQ(get(0).rc, 0);
        EXPECT_EQ(format_.header.biClrUsed, 0u);
        std::vector<uint32_t> table(size_t{1} << c.bits);
        std::memcpy(table.data(), format_.room + 40, 4 * table.size());
        palette.resize(table.size(), 0);
        EXPECT_EQ(table, palette);
        TearDown();
        SetUp();
    }
}

// A run-length stream whose key frames are whole images ("00db") and whose
// delta frames are coded ("00dc"): a delta is drawn over its key picture.
TEST_F(FrameDecoderTest, RunLengthDeltasAreDrawnOverTheWholeKeyImage) {
    // 8x2 at 8 bits; the delta moves 3 pixels right and draws two of colour 9.
    std::string key(16, '\0');
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<char>(20 + i);
    const std::string delta("\x00\x02\x03\x00\x02\x09\x00\x01", 8);
    open({{key, true, kDb}, {delta, false}}, 0, VX_MAKEFOURCC('R', 'L', 'E', ' '), 8,
         {0x00112233, 0x00AABBCC}, 8);
    ASSERT_EQ(aviGetFrameInit(reader_, &decoder_), 0);
    std::string want = key;
    want[3] = want[4] = '\x09';
    // Frame 1 from nothing decoded, then after its key frame.
    for (const int32_t f : {1, 0, 1}) {
        const Got g = get(f);
        ASSERT_EQ(g.rc, 0);
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(g.pixels), 16), f == 0 ? key : want)
            << "frame " << f;
        if (g.owned == 1) VxDisposeData(const_cast<uint8_t*>(g.pixels));
    }
    EXPECT_TRUE(host_log().empty());
}

TEST_F(FrameDecoderTest, SetUpFailsWithoutACodecOrAVideoStream) {
    const uint32_t unknown = VX_MAKEFOURCC('Z', 'Z', 'Z', 'Z');
    open({{vxts_frame('K', 1, 0, 0), true}}, unknown, 0);
    decoder_ = reinterpret_cast<AviFrameDecoder*>(uintptr_t{8});
    EXPECT_EQ(aviGetFrameInit(reader_, &decoder_), AVIERR_COMPRESSOR);
    EXPECT_EQ(decoder_, nullptr);
    TearDown();
    SetUp();
    open({{vxts_frame('K', 1, 0, 0), true}}, unknown, unknown);
    EXPECT_EQ(aviGetFrameInit(reader_, &decoder_), AVIERR_COMPRESSOR);
    EXPECT_EQ(aviGetFrameInit(nullptr, &decoder_), AVIERR_BADPARAM);
    EXPECT_EQ(host_log(), (Log{{AVIERR_COMPRESSOR, site::codec::kNoCodec},
                               {AVIERR_BADPARAM, site::codec::kNoVideo}}));
}

}  // namespace
