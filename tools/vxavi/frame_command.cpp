// vxavi frame: one frame decoded through the library's frame decoder and
// written as a BMP file, in the depth the decoder gave it (palettised
// pictures with their colour table) or converted to 24 or 32 bits.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "commands.h"
#include "util/byte_io.h"
#include "video_decoder.h"

namespace vxavi {

namespace {

constexpr uint32_t kFileHeader = 14;
constexpr uint32_t kInfoHeader = 40;

// The layout of the file: the picture's own, or `bits` deep without a table.
struct BmpLayout {
    uint32_t bits = 0;
    uint32_t colours = 0;  // table entries written
    uint64_t stride = 0;
    uint64_t pixelBytes = 0;
    uint64_t offset = 0;  // of the pixels
    uint64_t total = 0;
};

BmpLayout layout_of(const Picture& p, uint32_t bits) {
    BmpLayout l;
    l.bits = bits != 0 ? bits : p.bits();
    l.colours = bits != 0 ? 0 : p.colours();
    l.stride = row_bytes(static_cast<uint32_t>(p.width()), l.bits);
    l.pixelBytes = l.stride * static_cast<uint64_t>(p.rows());
    l.offset = kFileHeader + kInfoHeader + uint64_t{l.colours} * 4;
    l.total = l.offset + l.pixelBytes;
    return l;
}

// The two headers and the colour table. Depth, width and height (with its
// sign: the rows keep their order) and the rest of the decoder's header as
// it was; the counts of colours only as far as the table written holds.
std::vector<uint8_t> bmp_headers(const Picture& p, const BmpLayout& l) {
    const BITMAPINFOHEADER& f = p.header();
    const bool table = l.colours != 0;
    const uint32_t used = table && f.biClrUsed != 0 ? l.colours : 0;
    const uint32_t important = table && f.biClrImportant <= l.colours ? f.biClrImportant : 0;
    std::vector<uint8_t> out(static_cast<std::size_t>(l.offset));
    vx::ByteWriter w(out.data(), out.size());
    w.u16(0x4D42);  // "BM"
    w.u32(static_cast<uint32_t>(l.total));
    w.u32(0);
    w.u32(static_cast<uint32_t>(l.offset));
    w.u32(kInfoHeader);
    w.u32(static_cast<uint32_t>(f.biWidth));
    w.u32(static_cast<uint32_t>(f.biHeight));
    w.u16(1);
    w.u16(static_cast<uint16_t>(l.bits));
    w.u32(0);  // BI_RGB
    w.u32(static_cast<uint32_t>(l.pixelBytes));
    w.u32(static_cast<uint32_t>(f.biXPelsPerMeter));
    w.u32(static_cast<uint32_t>(f.biYPelsPerMeter));
    w.u32(used);
    w.u32(important);
    w.bytes(p.table(), std::size_t{l.colours} * 4);
    return out;
}

// False when a write fails.
bool write_pixels(std::FILE* out, const Picture& p, const BmpLayout& l) {
    if (l.colours != 0 || l.bits == p.bits())
        return std::fwrite(p.stored_row(0), 1, static_cast<std::size_t>(l.pixelBytes), out) ==
               l.pixelBytes;
    const auto width = static_cast<std::size_t>(p.width());
    std::vector<uint8_t> bgr(width * 3), row(static_cast<std::size_t>(l.stride), 0);
    const std::size_t pixel = l.bits / 8;
    for (int32_t s = 0; s < p.rows(); ++s) {
        p.bgr_row(s, bgr.data());
        for (std::size_t x = 0; x < width; ++x) {
            for (std::size_t k = 0; k < 3; ++k) row[pixel * x + k] = bgr[3 * x + k];
            if (pixel == 4) row[4 * x + 3] = 255;  // opaque for readers that take it as alpha
        }
        if (std::fwrite(row.data(), 1, row.size(), out) != row.size()) return false;
    }
    return true;
}

}  // namespace

int run_frame(const Options& options) {
    if (writes_over_input(options, "cannot write a frame of " + options.path + " over itself"))
        return kExitUsage;
    const std::unique_ptr<AviFile> avi = AviFile::open(options.path);
    if (!avi) return kExitFileError;
    const std::unique_ptr<VideoDecoder> video = VideoDecoder::open(*avi, options.path);
    if (!video) return kExitFileError;
    if (options.frame >= video->frames()) {
        print_error(options.path + " has " + std::to_string(video->frames()) +
                    " video frames: there is no frame " + std::to_string(options.frame));
        return kExitFileError;
    }
    const Picture* picture = video->decode(options.frame);
    if (picture == nullptr) return kExitFileError;

    const BmpLayout layout = layout_of(*picture, options.bits);
    if (layout.total > UINT32_MAX) {
        print_error("frame " + std::to_string(options.frame) + " of " + options.path +
                    " is too large for a BMP file");
        return kExitFileError;
    }
    const std::vector<uint8_t> headers = bmp_headers(*picture, layout);
    std::FILE* out = std::fopen(options.output.c_str(), "wb");
    if (out == nullptr) {
        print_error("cannot create " + options.output + ": " + std::strerror(errno));
        return kExitFileError;
    }
    bool written = std::fwrite(headers.data(), 1, headers.size(), out) == headers.size() &&
                   write_pixels(out, *picture, layout);
    written = std::fclose(out) == 0 && written;
    if (!written) {
        print_error("cannot write " + options.output);
        std::remove(options.output.c_str());
        return kExitFileError;
    }
    return kExitOk;
}

}  // namespace vxavi
