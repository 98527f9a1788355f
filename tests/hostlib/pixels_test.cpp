#include <VexaInfo.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint8_t kUntouched = 0xEE;

// Expands `data` (a buffer of exactly its size, so ASan catches any read
// beyond it) into an image of exact size pre-filled with kUntouched.
Bytes Expand(int32_t width, int32_t height, uint32_t compression, const Bytes& data) {
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = height;
    header.biCompression = compression;
    header.biBitCount = compression == 2 ? 4 : 8;
    header.biSizeImage = static_cast<uint32_t>(data.size());
    const int32_t stride = CalcRowBytes(width, header.biBitCount);
    Bytes image(static_cast<size_t>(stride) * static_cast<size_t>(height < 0 ? -height : height),
                kUntouched);
    const uint8_t none = 0;
    PlayRle(&header, image.data(), data.empty() ? &none : data.data());
    return image;
}

constexpr uint8_t E = kUntouched;

TEST(PlayRle8, RunsAbsoluteRunsAndLineEnds) {
    // Row 0: run of three 5s; row 1: absolute 1 2 3 with a pad byte.
    EXPECT_EQ(Expand(4, 2, 1, {3, 5, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1}),
              (Bytes{5, 5, 5, E, 1, 2, 3, E}));
    // Delta moves right 1 and up 1 before the run.
    EXPECT_EQ(Expand(4, 2, 1, {0, 2, 1, 1, 2, 4, 0, 1}), (Bytes{E, E, E, E, E, 4, 4, E}));
    // A negative height means the same size; data stays bottom-up.
    EXPECT_EQ(Expand(4, -2, 1, {0, 0, 1, 7}), (Bytes{E, E, E, E, 7, E, E, E}));
}

TEST(PlayRle8, HostileDataIsClippedToTheImage) {
    // A run longer than the row is cut at the row's end, not wrapped.
    EXPECT_EQ(Expand(4, 2, 1, {10, 7, 0, 1}), (Bytes{7, 7, 7, 7, E, E, E, E}));
    // Absolute run past the row end, then more data still decodes.
    EXPECT_EQ(Expand(2, 2, 1, {0, 4, 1, 2, 3, 4, 0, 0, 1, 9}), (Bytes{1, 2, E, E, 9, E, E, E}));
    // Deltas beyond the right edge and beyond the top.
    EXPECT_EQ(Expand(4, 2, 1, {0, 2, 200, 0, 1, 9, 0, 0, 0, 2, 0, 200, 1, 9}), Bytes(8, E));
    // More line ends than lines.
    EXPECT_EQ(Expand(4, 2, 1, {0, 0, 0, 0, 0, 0, 4, 1}), Bytes(8, E));
    // Width 3 leaves a padding byte per row that must never be written.
    EXPECT_EQ(Expand(3, 1, 1, {255, 6}), (Bytes{6, 6, 6, E}));
}

TEST(PlayRle8, TruncatedSourceStopsAtItsEnd) {
    // The absolute run promises six bytes but only two follow.
    EXPECT_EQ(Expand(4, 1, 1, {0, 6, 8, 9}), (Bytes{8, 9, E, E}));
    // A cut-off delta, a lone trailing byte, and no data at all.
    EXPECT_EQ(Expand(4, 1, 1, {1, 3, 0, 2, 1}), (Bytes{3, E, E, E}));
    EXPECT_EQ(Expand(4, 1, 1, {2, 3, 5}), (Bytes{3, 3, E, E}));
    EXPECT_EQ(Expand(4, 1, 1, {}), Bytes(4, E));
    // Missing pad byte after an odd absolute run: the pixels still land.
    EXPECT_EQ(Expand(4, 1, 1, {0, 3, 1, 2, 3}), (Bytes{1, 2, 3, E}));
}

TEST(PlayRle4, NibblesAlternateAndClipAtTheWidth) {
    // Width 5 at 4 bits: 3 bytes of pixels plus one padding byte per row.
    EXPECT_EQ(Expand(5, 1, 2, {5, 0x12, 0, 1}), (Bytes{0x12, 0x12, 0x1E, E}));
    EXPECT_EQ(Expand(5, 1, 2, {8, 0x34, 0, 1}), (Bytes{0x34, 0x34, 0x3E, E}));
    // Absolute run of three nibbles: two data bytes, already word aligned.
    EXPECT_EQ(Expand(5, 1, 2, {0, 3, 0xAB, 0xC0, 2, 0x77}), (Bytes{0xAB, 0xC7, 0x7E, E}));
    // Odd start after a delta writes the low nibble first.
    EXPECT_EQ(Expand(5, 1, 2, {0, 2, 1, 0, 2, 0x9F}), (Bytes{0xE9, 0xFE, E, E}));
    // Absolute run whose data is cut short.
    EXPECT_EQ(Expand(5, 1, 2, {0, 6, 0x56}), (Bytes{0x56, E, E, E}));
}

TEST(PlayRle, IgnoresWhatItCannotDecode) {
    EXPECT_EQ(Expand(4, 1, 0, {4, 1}), Bytes(4, E));  // not run-length data
    EXPECT_EQ(Expand(0, 1, 1, {4, 1}), Bytes());
    BITMAPINFOHEADER header{};
    header.biCompression = 1;
    header.biWidth = 4;
    header.biHeight = 1;
    header.biSizeImage = 2;
    uint8_t pixels[4] = {};
    const uint8_t data[2] = {4, 1};
    PlayRle(nullptr, pixels, data);
    PlayRle(&header, nullptr, data);
    PlayRle(&header, pixels, nullptr);
    EXPECT_EQ(pixels[0], 0);
}

TEST(RowArithmetic, CalcRowBytesRoundsToFourBytes) {
    EXPECT_EQ(CalcRowBytes(1, 1), 4);
    EXPECT_EQ(CalcRowBytes(33, 1), 8);
    EXPECT_EQ(CalcRowBytes(3, 24), 12);
    EXPECT_EQ(CalcRowBytes(641, 8), 644);
    EXPECT_EQ(CalcRowBytes(-1, 8), 0);
    EXPECT_EQ(CalcRowBytes(10, 0), 0);
    EXPECT_EQ(CalcRowBytes(10, 65), 0);
    EXPECT_EQ(CalcRowBytes(INT32_MAX, 32), 0);  // would not fit in 32 bits
    EXPECT_EQ(CalcRowBytes(536870911, 32), 2147483644);
    EXPECT_EQ(CalcRowBytes(536870912, 32), 0);
}

TEST(RowArithmetic, TopLineOfABottomUpImage) {
    uint8_t image[36];
    EXPECT_EQ(ppixTopLine(image, 12, 3), image + 24);
    EXPECT_EQ(ppixTopLine(image, 12, 0), image);
    EXPECT_EQ(ppixTopLine(image + 24, -12, 3), image);
    // Large images must not overflow 32-bit arithmetic.
    const auto base = reinterpret_cast<uintptr_t>(image);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(ppixTopLine(image, 65536, 65537)),
              base + uintptr_t{65536} * 65536);
}

}  // namespace
