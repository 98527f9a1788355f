#include "avi_gen.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace vxbench {

namespace {

constexpr uint32_t kFlagHasIndex = 0x10;  // main header: the file has idx1
constexpr uint32_t kFlagKeyFrame = 0x10;  // idx1 entry: key frame
constexpr uint32_t kOdmlHeaderSize = 24;  // both OpenDML index headers
constexpr uint32_t kSuperEntrySize = 16;  // offset (8), size (4), duration (4)
constexpr std::size_t kBufferSize = 4u << 20;

// Sequential output through a large buffer. Chunk sizes, and anything else
// known only later, are patched in with positioned writes once the buffer has
// been flushed.
class RiffOut {
public:
    ~RiffOut() {
        if (fd_ >= 0) ::close(fd_);
    }

    bool open(const std::string& path) {
        fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        buffer_.reserve(kBufferSize);
        return fd_ >= 0;
    }

    uint64_t pos() const { return pos_; }

    void bytes(const void* p, std::size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        while (n > 0) {
            const std::size_t room = kBufferSize - buffer_.size();
            const std::size_t take = std::min(room, n);
            buffer_.insert(buffer_.end(), b, b + take);
            b += take;
            n -= take;
            pos_ += take;
            if (buffer_.size() == kBufferSize) flush();
        }
    }
    void fill(unsigned char value, std::size_t n) {
        while (n > 0) {
            const std::size_t take = std::min(kBufferSize - buffer_.size(), n);
            buffer_.resize(buffer_.size() + take, value);
            n -= take;
            pos_ += take;
            if (buffer_.size() == kBufferSize) flush();
        }
    }
    void u16(uint16_t v) {
        const unsigned char b[2] = {static_cast<unsigned char>(v),
                                    static_cast<unsigned char>(v >> 8)};
        bytes(b, 2);
    }
    void u32(uint32_t v) {
        unsigned char b[4];
        put32(b, v);
        bytes(b, 4);
    }
    void u64(uint64_t v) {
        u32(static_cast<uint32_t>(v));
        u32(static_cast<uint32_t>(v >> 32));
    }
    void id(const char* fcc) { bytes(fcc, 4); }

    // Starts a chunk (or a list, with its type); returns its header position.
    uint64_t begin(const char* fcc, const char* listType = nullptr) {
        const uint64_t at = pos_;
        id(fcc);
        u32(0);
        if (listType != nullptr) id(listType);
        return at;
    }
    // A chunk whose size is known up front: no patch needed (a million
    // patches would cost more than the data).
    void chunk_header(const char* fcc, uint32_t size) {
        id(fcc);
        u32(size);
    }
    void pad(uint64_t size) {
        if (size & 1) fill(0, 1);
    }
    // Ends the chunk begun at `at`: its size is patched and odd data padded.
    void end(uint64_t at) {
        const uint64_t size = pos_ - at - 8;
        patch32(at + 4, static_cast<uint32_t>(size));
        if (size & 1) fill(0, 1);
    }

    void patch32(uint64_t at, uint32_t v) {
        unsigned char b[4];
        put32(b, v);
        patch(at, b, 4);
    }
    void patch(uint64_t at, const void* p, std::size_t n) {
        const auto* b = static_cast<const unsigned char*>(p);
        patches_.push_back({at, std::vector<unsigned char>(b, b + n)});
    }

    bool close() {
        flush();
        for (const Patch& p : patches_) {
            if (::pwrite(fd_, p.data.data(), p.data.size(), static_cast<off_t>(p.at)) !=
                static_cast<ssize_t>(p.data.size()))
                ok_ = false;
        }
        if (::close(fd_) != 0) ok_ = false;
        fd_ = -1;
        return ok_;
    }

    static void put32(unsigned char* b, uint32_t v) {
        for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
    }

private:
    struct Patch {
        uint64_t at;
        std::vector<unsigned char> data;
    };

    void flush() {
        const unsigned char* p = buffer_.data();
        std::size_t left = buffer_.size();
        while (ok_ && left > 0) {
            const ssize_t n = ::write(fd_, p, left);
            if (n <= 0) {
                ok_ = false;
                break;
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        buffer_.clear();
    }

    int fd_ = -1;
    bool ok_ = true;
    uint64_t pos_ = 0;
    std::vector<unsigned char> buffer_;
    std::vector<Patch> patches_;
};

constexpr uint32_t kWidth = 320;
constexpr uint32_t kHeight = 240;

void write_headers(RiffOut& out, const AviPlan& plan, uint32_t maxFrame, uint32_t groups,
                   uint64_t* indxAt) {
    const auto frames = static_cast<uint32_t>(plan.frameSizes.size());
    const bool odml = plan.index == IndexKind::kOpenDml;
    const uint64_t hdrl = out.begin("LIST", "hdrl");

    const uint64_t avih = out.begin("avih");
    out.u32(40000);  // 25 frames a second
    out.u32(0);
    out.u32(0);
    out.u32(odml ? 0 : kFlagHasIndex);
    out.u32(frames);
    out.u32(0);
    out.u32(1);  // streams
    out.u32(maxFrame);
    out.u32(kWidth);
    out.u32(kHeight);
    out.fill(0, 16);
    out.end(avih);

    const uint64_t strl = out.begin("LIST", "strl");
    const uint64_t strh = out.begin("strh");
    out.id("vids");
    out.id("MJPG");
    out.u32(0);   // flags
    out.u16(0);   // priority
    out.u16(0);   // language
    out.u32(0);   // initial frames
    out.u32(1);   // scale
    out.u32(25);  // rate
    out.u32(0);   // start
    out.u32(frames);
    out.u32(maxFrame);
    out.u32(0xFFFFFFFFu);  // quality: default
    out.u32(0);            // sample size: varies
    out.u16(0);
    out.u16(0);
    out.u16(static_cast<uint16_t>(kWidth));
    out.u16(static_cast<uint16_t>(kHeight));
    out.end(strh);

    const uint64_t strf = out.begin("strf");
    out.u32(40);
    out.u32(kWidth);
    out.u32(kHeight);
    out.u16(1);   // planes
    out.u16(24);  // bits per pixel
    out.id("MJPG");
    out.u32(kWidth * kHeight * 3);
    out.fill(0, 16);
    out.end(strf);

    if (odml) {
        // The super index; its entries are patched in once the standard
        // index chunks have been written.
        const uint64_t indx = out.begin("indx");
        out.u16(4);      // longs per entry
        out.fill(0, 1);  // sub type
        out.fill(0, 1);  // type: index of indexes
        out.u32(groups);
        out.id("00dc");
        out.fill(0, 12);
        out.fill(0, static_cast<std::size_t>(kSuperEntrySize) * groups);
        out.end(indx);
        *indxAt = indx;
    }
    out.end(strl);

    if (odml) {
        const uint64_t odmlList = out.begin("LIST", "odml");
        const uint64_t dmlh = out.begin("dmlh");
        out.u32(frames);
        out.fill(0, 244);
        out.end(dmlh);
        out.end(odmlList);
    }
    out.end(hdrl);
}

// One "ix00" standard index chunk for frames [first, last).
void write_standard_index(RiffOut& out, const AviLayout& layout, std::size_t first,
                          std::size_t last, uint64_t base) {
    const uint64_t ix = out.begin("ix00");
    out.u16(2);      // longs per entry
    out.fill(0, 1);  // sub type
    out.fill(1, 1);  // type: index of chunks
    out.u32(static_cast<uint32_t>(last - first));
    out.id("00dc");
    out.u64(base);
    out.u32(0);
    for (std::size_t i = first; i < last; ++i) {
        // Relative to the base, pointing at the data; bit 31 clear: key frame.
        out.u32(static_cast<uint32_t>(layout.frames[i].offset - base));
        out.u32(layout.frames[i].size);
    }
    out.end(ix);
}

}  // namespace

bool write_avi(const std::string& path, const AviPlan& plan, AviLayout* layout) {
    RiffOut out;
    if (!out.open(path)) return false;
    const bool odml = plan.index == IndexKind::kOpenDml;
    const std::size_t frames = plan.frameSizes.size();
    const uint32_t maxFrame =
        frames ? *std::max_element(plan.frameSizes.begin(), plan.frameSizes.end()) : 0;
    const uint32_t groups = odml ? std::max<uint32_t>(1, plan.standardIndexChunks) : 1;

    layout->frames.clear();
    layout->frames.reserve(frames);
    const uint64_t riff = out.begin("RIFF", "AVI ");
    uint64_t indxAt = 0;
    write_headers(out, plan, maxFrame, groups, &indxAt);

    const uint64_t movi = out.begin("LIST", "movi");
    const uint64_t moviWord = movi + 8;
    std::vector<unsigned char> superEntries;
    std::size_t groupStart = 0;
    for (uint32_t g = 0; g < groups; ++g) {
        const std::size_t groupEnd = frames * (g + 1ull) / groups;
        for (std::size_t i = groupStart; i < groupEnd; ++i) {
            const uint32_t size = plan.frameSizes[i];
            layout->frames.push_back({out.pos() + 8, size});
            out.chunk_header("00dc", size);
            out.fill(static_cast<unsigned char>(i), size);
            out.pad(size);
        }
        if (odml) {
            const uint64_t ix = out.pos();
            write_standard_index(out, *layout, groupStart, groupEnd, movi);
            unsigned char e[kSuperEntrySize];
            RiffOut::put32(e, static_cast<uint32_t>(ix));
            RiffOut::put32(e + 4, static_cast<uint32_t>(ix >> 32));
            RiffOut::put32(e + 8, static_cast<uint32_t>(out.pos() - ix));
            RiffOut::put32(e + 12, static_cast<uint32_t>(groupEnd - groupStart));  // duration
            superEntries.insert(superEntries.end(), e, e + kSuperEntrySize);
        }
        groupStart = groupEnd;
    }
    out.end(movi);

    if (!odml) {
        const uint64_t idx1 = out.begin("idx1");
        for (const FrameRange& f : layout->frames) {
            out.id("00dc");
            out.u32(kFlagKeyFrame);
            out.u32(static_cast<uint32_t>(f.offset - 8 - moviWord));  // from the "movi" word
            out.u32(f.size);
        }
        out.end(idx1);
    } else {
        out.patch(indxAt + 8 + kOdmlHeaderSize, superEntries.data(), superEntries.size());
    }
    out.end(riff);
    layout->fileSize = out.pos();
    return out.close();
}

}  // namespace vxbench
