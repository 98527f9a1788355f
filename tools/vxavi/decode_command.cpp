// vxavi decode: every frame of the video stream decoded through the library's
// frame decoder (installed codecs for compressed streams), with the picture's
// size and depth and the CRC-32 of its colour bytes: blue, green and red of
// each pixel, rows from the top, so that pictures from different codecs and
// platforms compare whatever their row padding or fourth byte.
#include <vxmedia/aviframes.h>
#include <vxmedia/vxutil.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "printing.h"
#include "reader_errors.h"
#include "util/byte_io.h"

namespace vxavi {

namespace {

// Blue, green and red of one pixel; 16-bit pixels are 5-5-5, each part
// widened to 8 bits by repeating its top bits.
void colours(const uint8_t* in, std::size_t pixel, uint8_t* out) {
    if (pixel != 2) {
        for (int k = 0; k < 3; ++k) out[k] = in[k];
        return;
    }
    const unsigned v = vx::le16(in);
    for (int k = 0; k < 3; ++k) {
        const unsigned c = (v >> (5 * k)) & 31;
        out[k] = static_cast<uint8_t>(c << 3 | c >> 2);
    }
}

// The colour bytes of a 16-, 24- or 32-bit picture, top row first.
bool picture_crc(const BITMAPINFOHEADER& f, const uint8_t* pixels, uint32_t* crc) {
    if ((f.biBitCount != 16 && f.biBitCount != 24 && f.biBitCount != 32) || f.biCompression != 0 ||
        f.biWidth <= 0 || f.biHeight == 0 || f.biWidth > 65536 || std::abs(f.biHeight) > 65536)
        return false;
    const std::size_t pixel = f.biBitCount / 8;
    const std::size_t stride = (static_cast<std::size_t>(f.biWidth) * pixel + 3) & ~std::size_t{3};
    const int32_t rows = std::abs(f.biHeight);
    std::vector<uint8_t> row(static_cast<std::size_t>(f.biWidth) * 3);
    uint32_t c = 0;
    for (int32_t y = 0; y < rows; ++y) {
        const int32_t stored = f.biHeight > 0 ? rows - 1 - y : y;
        const uint8_t* in = pixels + stride * static_cast<std::size_t>(stored);
        for (int32_t x = 0; x < f.biWidth; ++x) colours(in + pixel * x, pixel, &row[3 * x]);
        c = static_cast<uint32_t>(crc32_z(c, row.data(), row.size()));
    }
    *crc = c;
    return true;
}

}  // namespace

int run_decode(const Options& options) {
    const std::unique_ptr<AviFile> avi = AviFile::open(options.path);
    if (!avi) return kExitFileError;
    AviReader* r = avi->reader();
    const AviStreamRecord* video =
        r->videoStream >= 0 ? aviGetAVIStream(r, static_cast<uint32_t>(r->videoStream)) : nullptr;
    AviFrameDecoder* decoder = nullptr;
    begin_reader_call();
    const VXRESULT init = aviGetFrameInit(r, &decoder);
    if (init == AVIERR_COMPRESSOR && video != nullptr && video->format != nullptr &&
        video->formatSize >= sizeof(BITMAPINFOHEADER)) {
        const uint32_t c = vx::ByteReader(video->format, video->formatSize).u32(16);
        std::string code;
        for (int i = 0; i < 4; ++i) {
            const char ch = static_cast<char>(c >> (8 * i));
            code += ch >= 0x20 && ch < 0x7F ? ch : '?';
        }
        print_error("cannot decode the video of " + options.path + ": no installed codec takes '" +
                    code + "'");
        return kExitFileError;
    }
    if (init != 0 || video == nullptr) {
        print_error(describe_failure(init != 0 ? init : AVIERR_BADPARAM, options.path,
                                     "cannot decode the video of"));
        return kExitFileError;
    }

    ListPrinter out(options.json, "   frame   width  height  bits  crc32\n");
    int status = kExitOk;
    union {
        BITMAPINFOHEADER header;
        uint8_t room[40 + 256 * 4];
    } format{};
    const uint32_t frames = video->header.dwLength;
    for (uint32_t done = 0; done < frames && done <= INT32_MAX && out.ok(); ++done) {
        void* pixels = nullptr;
        int16_t owned = 0;
        begin_reader_call();
        const VXRESULT rc =
            aviGetFrame(decoder, static_cast<int32_t>(done), &format.header, &pixels, &owned);
        if (rc != 0) {
            print_error(describe_failure(rc, options.path,
                                         "cannot decode frame " + std::to_string(done) + " of"));
            status = kExitFileError;
            break;
        }
        const BITMAPINFOHEADER& p = format.header;
        uint32_t crc = 0;
        const bool known = pixels != nullptr && picture_crc(p, static_cast<uint8_t*>(pixels), &crc);
        if (owned == 1) VxDisposeData(pixels);
        if (!known) {
            print_error("cannot decode frame " + std::to_string(done) + " of " + options.path +
                        " (a " + std::to_string(p.biBitCount) + "-bit picture is not shown)");
            status = kExitFileError;
            break;
        }
        char line[96];
        // LONG on Windows.
        const auto width = static_cast<int32_t>(p.biWidth),
                   height = static_cast<int32_t>(p.biHeight);
        std::snprintf(line, sizeof line, "%8u  %6d  %6d  %4u  %s\n", done, width, height,
                      static_cast<unsigned>(p.biBitCount), crc32_text(crc).c_str());
        out.row(line, [&](JsonWriter& j) {
            j.field("frame", done);
            j.field("width", width);
            j.field("height", height);
            j.field("bits", p.biBitCount);
            j.field("crc32", crc32_text(crc));
        });
    }
    aviGetFrameTerm(decoder);
    if (!out.end()) {
        print_error("cannot write the output");
        return kExitFileError;
    }
    return status;
}

}  // namespace vxavi
