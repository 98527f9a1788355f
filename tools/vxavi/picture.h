// A picture from the library's frame decoder, read as rows of blue, green
// and red bytes whatever its depth: the one conversion behind the CRCs of
// vxavi decode and the converted pictures of vxavi frame.
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace vxavi {

// What aviGetFrame fills in: the header and, up to 8 bits, the colour table.
// Bytes of a stored row of `width` pixels of `bits` each, padded to 4 bytes.
constexpr uint64_t row_bytes(uint32_t width, uint32_t bits) {
    return ((uint64_t{width} * bits + 31) & ~uint64_t{31}) / 8;
}

union PictureFormat {
    BITMAPINFOHEADER header;
    uint8_t bytes[sizeof(BITMAPINFOHEADER) + 256 * 4];
};

class Picture {
public:
    // The picture `format` describes over `pixels`, when it is one the tool
    // shows: uncompressed, 1, 4, 8, 16 (5-5-5), 24 or 32 bits; else nullopt
    // with `*why` set. `pixels` must hold the rows the header describes,
    // which the frame decoder's pictures do; a header whose biSizeImage says
    // fewer bytes is refused.
    static std::optional<Picture> of(const PictureFormat& format, const void* pixels,
                                     std::string* why);

    int32_t width() const { return width_; }
    int32_t rows() const { return rows_; }
    uint32_t bits() const { return bits_; }
    // Bytes from one stored row to the next (rows are padded to 4 bytes).
    std::size_t stride() const { return stride_; }
    // Entries of the colour table (0 above 8 bits), at most 256.
    uint32_t colours() const { return colours_; }
    const BITMAPINFOHEADER& header() const { return format_->header; }
    const uint8_t* table() const { return format_->bytes + sizeof(BITMAPINFOHEADER); }
    // Row `stored` in the order of the pixels in memory (bottom row first
    // unless the height is negative).
    const uint8_t* stored_row(int32_t stored) const {
        return pixels_ + stride_ * static_cast<std::size_t>(stored);
    }
    // The memory row that holds row `y` counted from the top.
    int32_t stored_index(int32_t y) const { return topDown_ ? y : rows_ - 1 - y; }

    // Blue, green and red of each pixel of stored row `stored`: width() * 3
    // bytes at `out`. 16-bit parts are widened to 8 bits by repeating their
    // top bits; an index past the colour table gives black.
    void bgr_row(int32_t stored, uint8_t* out) const;

private:
    Picture() = default;

    const PictureFormat* format_ = nullptr;
    const uint8_t* pixels_ = nullptr;
    int32_t width_ = 0, rows_ = 0;
    bool topDown_ = false;
    uint32_t bits_ = 0;
    std::size_t stride_ = 0;
    uint32_t colours_ = 0;
};

}  // namespace vxavi
