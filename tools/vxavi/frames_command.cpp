// vxavi frames: every video index entry with its position, size, key flag
// and the CRC-32 of the bytes the reader delivers for it.
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "printing.h"
#include "reader_errors.h"

namespace vxavi {

int run_frames(const Options& options) {
    const std::unique_ptr<AviFile> avi = AviFile::open(options.path);
    if (!avi) return kExitFileError;
    AviReader* r = avi->reader();
    const AviStreamIndex& index = r->videoIndex;
    const AviStreamRecord* video =
        r->videoStream >= 0 ? aviGetAVIStream(r, static_cast<uint32_t>(r->videoStream)) : nullptr;
    const int64_t start = video ? video->header.dwStart : 0;

    ListPrinter out(options.json, "   frame        offset        size  key     crc32\n");
    std::vector<unsigned char> buffer;
    int status = kExitOk;
    for (uint32_t done = 0; video != nullptr && done < index.count && out.ok(); ++done) {
        // aviReadFrame counts from the stream's start; entry p is frame p - start.
        const int64_t frame = static_cast<int64_t>(done) - start;
        if (frame < INT32_MIN || frame > INT32_MAX) {
            print_error("cannot read frame " + std::to_string(done) + " of " + options.path +
                        " (stream start " + std::to_string(start) + " out of range)");
            status = kExitFileError;
            break;
        }
        const AviIndexEntry& e = index.entries[done];
        // The size comes from the file: no buffer larger than the file itself.
        if (e.size > avi->file().size()) {
            print_error("cannot read frame " + std::to_string(done) + " of " + options.path +
                        " (index entry of " + std::to_string(e.size) +
                        " bytes is larger than the file)");
            status = kExitFileError;
            break;
        }
        buffer.resize(e.size ? e.size : 1);
        uint32_t size = static_cast<uint32_t>(buffer.size());
        uint32_t flags = 0;
        begin_reader_call();
        const VXRESULT result =
            aviReadFrame(r, static_cast<int32_t>(frame), buffer.data(), &size, &flags);
        if (result != 0) {
            print_error(describe_failure(result, options.path,
                                         "cannot read frame " + std::to_string(done) + " of"));
            status = kExitFileError;
            break;
        }
        const bool key = (flags & AVIIF_KEYFRAME) != 0;
        const std::string crc = crc32_text(static_cast<uint32_t>(crc32_z(0, buffer.data(), size)));
        char line[96];
        std::snprintf(line, sizeof line, "%8u  %12llu  %10u  %3s  %s\n", done,
                      static_cast<unsigned long long>(e.offset), size, key ? "K" : "-",
                      crc.c_str());
        out.row(line, [&](JsonWriter& j) {
            j.field("frame", done);
            j.field("offset", e.offset);
            j.field("size", size);
            j.field("key", key);
            j.field("crc32", crc);
        });
    }
    if (!out.end()) {
        print_error("cannot write the output");
        return kExitFileError;
    }
    return status;
}

}  // namespace vxavi
