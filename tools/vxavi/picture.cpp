#include "picture.h"

#include "formats/colour_table.h"
#include "util/byte_io.h"

namespace vxavi {

namespace {

// Sides past this are no picture the frame decoder makes.
constexpr int32_t kMaxSide = 65536;

}  // namespace

std::optional<Picture> Picture::of(const PictureFormat& format, const void* pixels,
                                   std::string* why) {
    const BITMAPINFOHEADER& f = format.header;
    const uint32_t bits = f.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) {
        *why = "a " + std::to_string(bits) + "-bit picture is not shown";
        return std::nullopt;
    }
    if (f.biCompression != 0) {
        *why = "a picture of compression " + std::to_string(f.biCompression) + " is not shown";
        return std::nullopt;
    }
    // LONG on Windows.
    const auto width = static_cast<int32_t>(f.biWidth), height = static_cast<int32_t>(f.biHeight);
    if (width <= 0 || height == 0 || width > kMaxSide || height > kMaxSide || height < -kMaxSide) {
        *why = "a picture of " + std::to_string(width) + "x" + std::to_string(height) +
               " pixels is not shown";
        return std::nullopt;
    }
    const uint64_t stride = row_bytes(static_cast<uint32_t>(width), bits);
    const uint64_t rows = height < 0 ? uint64_t{0} - static_cast<int64_t>(height) : height;
    // The decoder sizes its pictures by the header; a smaller stated size
    // would mean rows that are not there.
    if (stride * rows > INT32_MAX || (f.biSizeImage != 0 && stride * rows > f.biSizeImage) ||
        pixels == nullptr) {
        *why = "the picture is smaller than its header says";
        return std::nullopt;
    }
    Picture p;
    p.format_ = &format;
    p.pixels_ = static_cast<const uint8_t*>(pixels);
    p.width_ = width;
    p.rows_ = static_cast<int32_t>(rows);
    p.topDown_ = height < 0;
    p.bits_ = bits;
    p.stride_ = static_cast<std::size_t>(stride);
    p.colours_ = vx::table_entries(f);
    return p;
}

void Picture::bgr_row(int32_t stored, uint8_t* out) const {
    const uint8_t* in = stored_row(stored);
    const auto n = static_cast<std::size_t>(width_);
    switch (bits_) {
        case 24:
            for (std::size_t x = 0; x < 3 * n; ++x) out[x] = in[x];
            return;
        case 32:
            for (std::size_t x = 0; x < n; ++x)
                for (std::size_t k = 0; k < 3; ++k) out[3 * x + k] = in[4 * x + k];
            return;
        case 16:
            for (std::size_t x = 0; x < n; ++x) {
                const unsigned v = vx::le16(in + 2 * x);
                for (unsigned k = 0; k < 3; ++k) {
                    const unsigned c = (v >> (5 * k)) & 31;
                    out[3 * x + k] = static_cast<uint8_t>(c << 3 | c >> 2);
                }
            }
            return;
        default:
            break;
    }
    // Palettised: the first pixel in a byte's top bits.
    const uint8_t* entries = table();
    const unsigned mask = (1u << bits_) - 1;
    for (std::size_t x = 0; x < n; ++x) {
        const std::size_t bit = x * bits_;
        const unsigned index = (in[bit / 8] >> (8 - bits_ - bit % 8)) & mask;
        for (std::size_t k = 0; k < 3; ++k)
            out[3 * x + k] = index < colours_ ? entries[4 * index + k] : 0;
    }
}

}  // namespace vxavi
