// vxavi decode: every frame of the video stream decoded through the library's
// frame decoder (installed codecs for compressed streams), with the picture's
// size and depth and the CRC-32 of its colour bytes: blue, green and red of
// each pixel, rows from the top, so that pictures from different codecs and
// platforms compare whatever their depth, row padding or fourth byte.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "printing.h"
#include "video_decoder.h"

namespace vxavi {

namespace {

uint32_t picture_crc(const Picture& p) {
    std::vector<uint8_t> row(static_cast<std::size_t>(p.width()) * 3);
    uint32_t c = 0;
    for (int32_t y = 0; y < p.rows(); ++y) {
        p.bgr_row(p.stored_index(y), row.data());
        c = static_cast<uint32_t>(crc32_z(c, row.data(), row.size()));
    }
    return c;
}

}  // namespace

int run_decode(const Options& options) {
    const std::unique_ptr<AviFile> avi = AviFile::open(options.path);
    if (!avi) return kExitFileError;
    const std::unique_ptr<VideoDecoder> video = VideoDecoder::open(*avi, options.path);
    if (!video) return kExitFileError;

    ListPrinter out(options.json, "   frame   width  height  bits  crc32\n");
    int status = kExitOk;
    for (uint32_t done = 0; done < video->frames() && done <= INT32_MAX && out.ok(); ++done) {
        const Picture* picture = video->decode(done);
        if (picture == nullptr) {
            status = kExitFileError;
            break;
        }
        const BITMAPINFOHEADER& p = picture->header();
        const uint32_t crc = picture_crc(*picture);
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
    if (!out.end()) {
        print_error("cannot write the output");
        return kExitFileError;
    }
    return status;
}

}  // namespace vxavi
