// Bitmap row arithmetic and run-length expansion into bottom-up DIBs.
#include <algorithm>
#include <cstdlib>

#include "host_internal.h"

namespace {

// Writes pixels of an 8- or 4-bit bottom-up image, silently dropping any
// that fall outside it: run-length data comes from files and may lie.
class RleCanvas {
public:
    RleCanvas(uint8_t* pixels, int64_t width, int64_t height, int64_t stride, bool fourBit)
        : pixels_(pixels), width_(width), height_(height), stride_(stride), fourBit_(fourBit) {}

    bool Done() const { return y_ >= height_; }
    void NextLine() {
        x_ = 0;
        ++y_;
    }
    void Move(int64_t dx, int64_t dy) {
        x_ += dx;
        y_ += dy;
    }
    void Put(uint8_t value) {
        if (x_ < width_ && y_ < height_) {
            uint8_t* row = pixels_ + y_ * stride_;
            if (!fourBit_) {
                row[x_] = value;
            } else {
                uint8_t& pair = row[x_ / 2];
                pair = (x_ & 1) ? static_cast<uint8_t>((pair & 0xF0) | (value & 0x0F))
                                : static_cast<uint8_t>((pair & 0x0F) | (value << 4));
            }
        }
        ++x_;
    }

private:
    uint8_t* pixels_;
    int64_t width_;
    int64_t height_;
    int64_t stride_;
    bool fourBit_;
    // Both only grow, by at most 255 per source byte pair, so they cannot overflow.
    int64_t x_ = 0;
    int64_t y_ = 0;
};

}  // namespace

VXHOSTAPI int32_t VXCALL CalcRowBytes(int32_t width, int32_t depth) {
    if (width < 0 || depth <= 0 || depth > 64) return 0;
    const int64_t bytes = ((static_cast<int64_t>(width) * depth + 31) / 32) * 4;
    return bytes > INT32_MAX ? 0 : static_cast<int32_t>(bytes);
}

VXHOSTAPI void* VXCALL ppixTopLine(void* pixels, int32_t rowStride, int32_t height) {
    if (height <= 0) return pixels;
    // Integer arithmetic: the result is only an address, and a stride the
    // caller chose negative must not trip pointer-overflow rules.
    const int64_t offset = static_cast<int64_t>(height - 1) * rowStride;
    return reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(pixels) +
                                   static_cast<uintptr_t>(offset));
}

VXHOSTAPI void VXCALL PlayRle(const BITMAPINFOHEADER* header, void* destination,
                              const void* source) {
    if (!header || !destination || !source) return;
    const bool fourBit = header->biCompression == 2;
    if (header->biCompression != 1 && !fourBit) return;
    const int64_t width = header->biWidth;
    const int64_t height = std::llabs(static_cast<int64_t>(header->biHeight));
    if (width <= 0 || height == 0) return;
    const int32_t stride = CalcRowBytes(header->biWidth, fourBit ? 4 : 8);
    if (stride <= 0) return;

    const auto* src = static_cast<const uint8_t*>(source);
    const size_t size = header->biSizeImage;
    size_t pos = 0;
    RleCanvas canvas(static_cast<uint8_t*>(destination), width, height, stride, fourBit);

    while (!canvas.Done() && size - pos >= 2) {
        const uint8_t count = src[pos];
        const uint8_t code = src[pos + 1];
        pos += 2;
        if (count > 0) {
            // Encoded run; in 4-bit data the two nibbles alternate.
            for (int i = 0; i < count; ++i) {
                canvas.Put(fourBit ? ((i & 1) ? (code & 0x0F) : (code >> 4)) : code);
            }
            continue;
        }
        if (code == 0) {
            canvas.NextLine();
        } else if (code == 1) {
            return;
        } else if (code == 2) {
            if (size - pos < 2) return;
            canvas.Move(src[pos], src[pos + 1]);
            pos += 2;
        } else {
            // Absolute run of `code` pixels, padded to a 16-bit boundary.
            const size_t dataBytes = fourBit ? (code + 1u) / 2u : code;
            const size_t available = std::min(dataBytes, size - pos);
            for (size_t i = 0; i < code; ++i) {
                const size_t byteIndex = fourBit ? i / 2 : i;
                if (byteIndex >= available) return;  // source cut short
                const uint8_t byte = src[pos + byteIndex];
                canvas.Put(fourBit ? ((i & 1) ? (byte & 0x0F) : (byte >> 4)) : byte);
            }
            const size_t padded = dataBytes + (dataBytes & 1u);
            if (size - pos < padded) return;
            pos += padded;
        }
    }
}
