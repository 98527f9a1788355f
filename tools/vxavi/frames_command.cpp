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

namespace {

struct Frame {
    uint32_t number;
    uint64_t offset;
    uint32_t size;
    bool key;
    uint32_t crc;
};

std::string crc_text(uint32_t crc) {
    char b[16];
    std::snprintf(b, sizeof b, "%08x", static_cast<unsigned>(crc));
    return b;
}

class Printer {
public:
    explicit Printer(bool json) : json_(json) {}

    void begin() {
        if (json_) {
            out_ = "[";
        } else {
            char b[96];
            std::snprintf(b, sizeof b, "%8s  %12s  %10s  %3s  %8s\n", "frame", "offset", "size",
                          "key", "crc32");
            out_ = b;
        }
    }

    void frame(const Frame& f) {
        if (json_) {
            out_ += f.number == 0 ? "\n" : ",\n";
            JsonWriter j(out_);
            j.begin_object();
            j.field("frame", f.number);
            j.field("offset", f.offset);
            j.field("size", f.size);
            j.field("key", f.key);
            j.field("crc32", crc_text(f.crc));
            j.end_object();
        } else {
            char b[96];
            std::snprintf(b, sizeof b, "%8u  %12llu  %10u  %3s  %s\n", f.number,
                          static_cast<unsigned long long>(f.offset), f.size, f.key ? "K" : "-",
                          crc_text(f.crc).c_str());
            out_ += b;
        }
        if (out_.size() > (1u << 16)) flush();
    }

    // Closes the list so that even a cut-short listing stays valid JSON.
    void end(bool any) {
        if (json_) out_ += any ? "\n]\n" : "]\n";
        flush();
    }

    bool ok() const { return ok_; }

private:
    void flush() {
        ok_ = write_stdout(out_) && ok_;
        out_.clear();
    }

    bool json_;
    bool ok_ = true;
    std::string out_;
};

}  // namespace

int run_frames(const Options& options) {
    const std::unique_ptr<AviFile> avi = AviFile::open(options.path);
    if (!avi) return kExitFileError;
    AviReader* r = avi->reader();
    const AviStreamIndex& index = r->videoIndex;
    const AviStreamRecord* video =
        r->videoStream >= 0 ? aviGetAVIStream(r, static_cast<uint32_t>(r->videoStream)) : nullptr;
    const int64_t start = video ? video->header.dwStart : 0;

    Printer out(options.json);
    out.begin();
    std::vector<unsigned char> buffer;
    int status = kExitOk;
    uint32_t done = 0;
    for (; video != nullptr && done < index.count; ++done) {
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
        out.frame({done, e.offset, size, (flags & AVIIF_KEYFRAME) != 0,
                   static_cast<uint32_t>(crc32_z(0, buffer.data(), size))});
    }
    out.end(done != 0);
    if (!out.ok()) {
        print_error("cannot write the output");
        return kExitFileError;
    }
    return status;
}

}  // namespace vxavi
