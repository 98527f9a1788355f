// Decompressor objects over the test codec: codecs opened on demand, begun
// decompression reused, and the process-wide bound on open codecs.
#include "codecs/decompressor.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "codecs/codec_cache.h"
#include "unit/codec_env.h"

namespace {

using vx::codecs::CodecCache;
using vx::codecs::VfwDecompressor;
using vxtest::vxts_frame;

BITMAPINFOHEADER vxts_format(int32_t width = 5, int32_t height = 3) {
    BITMAPINFOHEADER f{};
    f.biSize = sizeof f;
    f.biWidth = width;
    f.biHeight = height;
    f.biPlanes = 1;
    f.biBitCount = 24;
    f.biCompression = VX_TEST_CODEC_FOURCC;
    return f;
}

std::unique_ptr<VfwDecompressor> make(const BITMAPINFOHEADER& f) {
    return std::unique_ptr<VfwDecompressor>(VfwDecompressor::create(&f, sizeof f));
}

class DecompressorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(env_.ready()); }

    // Decodes one test-codec frame into a 32-bit image; the first pixel.
    static uint32_t decode(VfwDecompressor& d, const std::string& frame, int32_t width = 5,
                           int32_t height = 3) {
        std::vector<uint8_t> image(static_cast<size_t>(width) * 4 * std::abs(height), 0xEE);
        if (d.decompress(frame.data(), static_cast<uint32_t>(frame.size()), 0, width, height, 0,
                         image.data()) != VfwDecompressor::Result::kPicture)
            return 0xFFFFFFFF;
        return image[0] | image[1] << 8 | image[2] << 16 | static_cast<uint32_t>(image[3]) << 24;
    }

    vxtest::TestCodecEnv env_;
};

TEST_F(DecompressorTest, MadeOnlyForFormatsACodecTakes) {
    BITMAPINFOHEADER rgb = vxts_format();
    rgb.biCompression = 0;
    EXPECT_EQ(make(rgb), nullptr);
    EXPECT_EQ(env_.counts().opens + env_.counts().refusals, 0u) << "no codec asked";

    BITMAPINFOHEADER other = vxts_format();
    other.biCompression = VX_MAKEFOURCC('Z', 'Z', 'Z', 'Z');
    EXPECT_EQ(make(other), nullptr);

    auto d = make(vxts_format());
    ASSERT_NE(d, nullptr);
    EXPECT_TRUE(d->can_output_32());
    EXPECT_FALSE(d->is_open()) << "starts closed";
    EXPECT_EQ(env_.counts().opens, env_.counts().closes);

    // A stored format shorter than its header makes nothing.
    const BITMAPINFOHEADER f = vxts_format();
    EXPECT_EQ(VfwDecompressor::create(&f, sizeof f - 1), nullptr);
}

TEST_F(DecompressorTest, OutputFormatIsRaisedTo32Bits) {
    auto d = make(vxts_format(5, 3));
    ASSERT_NE(d, nullptr);
    std::vector<uint8_t> room(40 + 1024);
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(room.data());
    ASSERT_TRUE(d->get_output_format(out));
    EXPECT_EQ(out->biBitCount, 32) << "the codec proposed 24";
    EXPECT_EQ(out->biSizeImage, 5u * 4 * 3);
    EXPECT_EQ(out->biWidth, 5);
    EXPECT_TRUE(d->is_open());
}

TEST_F(DecompressorTest, BegunDecompressionIsReusedUntilTheSizeChanges) {
    auto d = make(vxts_format(5, 3));
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(decode(*d, vxts_frame('K', 10, 20, 30)), 0x001E140Au);
    EXPECT_EQ(decode(*d, vxts_frame('K', 1, 2, 3)), 0x00030201u);
    EXPECT_EQ(env_.counts().begins, 1u);
    EXPECT_EQ(env_.counts().ends, 0u);
    EXPECT_EQ(decode(*d, vxts_frame('K', 1, 2, 3), 5, -3), 0x00030201u) << "top-down";
    EXPECT_EQ(env_.counts().begins, 2u);
    EXPECT_EQ(env_.counts().ends, 1u);
    // The codec learns each frame's length: a short frame is refused.
    EXPECT_EQ(decode(*d, "K", 5, -3), 0xFFFFFFFFu);
    d.reset();
    EXPECT_EQ(env_.counts().ends, 2u);
    EXPECT_EQ(env_.counts().closes, env_.counts().opens);
}

TEST_F(DecompressorTest, TheCacheKeeps69CodecsOpenAndReopensEvictedOnes) {
    std::vector<std::unique_ptr<VfwDecompressor>> all;
    for (int i = 0; i < 70; ++i) {
        all.push_back(make(vxts_format()));
        ASSERT_NE(all.back(), nullptr);
        ASSERT_EQ(decode(*all.back(), vxts_frame('K', 1, 1, 1)), 0x00010101u) << i;
    }
    EXPECT_EQ(CodecCache::size(), CodecCache::kLimit);
    EXPECT_FALSE(all[0]->is_open()) << "the least recently used codec was closed";
    EXPECT_TRUE(all[1]->is_open());
    EXPECT_EQ(env_.counts().ends, 1u) << "its decompression was ended first";

    // Using it again reopens a codec and begins anew; that evicts the next one.
    EXPECT_EQ(decode(*all[0], vxts_frame('K', 4, 5, 6)), 0x00060504u);
    EXPECT_TRUE(all[0]->is_open());
    EXPECT_FALSE(all[1]->is_open());
    EXPECT_EQ(CodecCache::size(), CodecCache::kLimit);

    all.clear();
    EXPECT_EQ(CodecCache::size(), 0u);
    EXPECT_EQ(env_.counts().closes, env_.counts().opens);
}

}  // namespace
