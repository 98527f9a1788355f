// OpenDML indexes: an "indx" super index that points at standard index
// chunks anywhere in the file (also in "AVIX" segments), or an "indx" that is
// itself a standard index.
#include <algorithm>
#include <cstdarg>
#include <cstdlib>
#include <memory>
#include <new>

#include "reader/entry_array.h"
#include "reader/reader_internal.h"
#include "util/failure_detail.h"
#include "util/host.h"

namespace vx::reader {

namespace {

constexpr uint32_t kHeaderSize = 24;
constexpr uint8_t kIndexOfIndexes = 0;
constexpr uint8_t kIndexOfChunks = 1;

struct IndexHeader {
    uint16_t longsPerEntry;
    uint8_t subType;
    uint8_t type;
    uint32_t entries;
    uint32_t chunkId;
    uint64_t base;
};

IndexHeader parse_header(const ByteReader& v) {
    return {v.u16(0), v.u8(2), v.u8(3), v.u32(4), v.u32(8), v.u64(12)};
}

bool standard_layout(const IndexHeader& h) {
    return (h.subType == 0 && h.longsPerEntry == 2) || (h.subType == 1 && h.longsPerEntry == 3);
}

uint64_t entries_bytes(const IndexHeader& h) {
    return kHeaderSize + 4ull * h.longsPerEntry * h.entries;
}

bool holds_entries(const IndexHeader& h, uint64_t size) { return entries_bytes(h) <= size; }

unsigned long long ull(uint64_t v) { return v; }

// Converts the entries of a standard index; returns true when one of them is
// not a key frame.
bool convert(const ByteReader& chunk, const IndexHeader& h, AviIndexEntry* out) {
    bool notKey = false;
    const std::size_t stride = 4u * h.longsPerEntry;
    for (uint32_t i = 0; i < h.entries; ++i) {
        const std::size_t at = kHeaderSize + stride * i;
        const uint32_t size = chunk.u32(at + 4);
        out[i].offset = h.base + chunk.u32(at);
        out[i].size = size & 0x7FFFFFFFu;
        out[i].flags = (size & 0x80000000u) ? 0u : AVIIF_KEYFRAME;
        notKey |= (size & 0x80000000u) != 0;
    }
    return notKey;
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char[], FreeDeleter>;

class OdmlLoader {
public:
    OdmlLoader(AviReader* reader, RiffWalker& walker, const AviStreamRecord& stream,
               AviStreamIndex* target)
        : reader_(reader), walker_(walker), file_(walker.file()), stream_(stream), target_(target) {}

    VXRESULT load(const RiffChunk& indx);
    // What failed, for the failure detail.
    const char* reason() const { return reason_.c_str(); }

private:
    [[gnu::format(printf, 3, 4)]] VXRESULT fault(VXRESULT code, const char* format, ...);

    VXRESULT load_standard(const ByteReader& chunk, const IndexHeader& h);
    VXRESULT load_super(const ByteReader& chunk, const IndexHeader& h);
    VXRESULT walk_super(const ByteReader& chunk, const IndexHeader& h, uint64_t durations);

    AviReader* reader_;
    RiffWalker& walker_;
    const HostFile& file_;
    const AviStreamRecord& stream_;
    AviStreamIndex* target_;
    FailureText reason_;
};

VXRESULT OdmlLoader::fault(VXRESULT code, const char* format, ...) {
    va_list args;
    va_start(args, format);
    reason_.set_v(format, args);
    va_end(args);
    return code;
}

VXRESULT OdmlLoader::load(const RiffChunk& indx) {
    if (indx.size < kHeaderSize)
        return fault(AVIERR_BADFORMAT, "indx of %u bytes, shorter than its %u-byte header",
                     unsigned{indx.size}, unsigned{kHeaderSize});
    // Sized from the file: check the bytes exist before allocating for them.
    if (!file_.holds(indx.dataPos(), indx.size))
        return fault(AVIERR_FILEREAD, "indx of %u bytes at %llu runs past the end of the file",
                     unsigned{indx.size}, ull(indx.dataPos()));
    Buffer data(static_cast<unsigned char*>(std::malloc(indx.size)));
    if (!data) return fault(AVIERR_MEMORY, "indx: no memory for %u bytes", unsigned{indx.size});
    if (!walker_.read(indx, 0, data.get(), indx.size))
        return fault(AVIERR_FILEREAD, "indx of %u bytes at %llu unreadable", unsigned{indx.size},
                     ull(indx.dataPos()));
    const ByteReader chunk(data.get(), indx.size);
    const IndexHeader h = parse_header(chunk);
    if (!holds_entries(h, indx.size))
        return fault(AVIERR_BADFORMAT, "indx: %u entries need %llu bytes, %u available",
                     unsigned{h.entries}, ull(entries_bytes(h)), unsigned{indx.size});
    if (h.type == kIndexOfChunks) return load_standard(chunk, h);
    if (h.type == kIndexOfIndexes) return load_super(chunk, h);
    return fault(AVIERR_BADFORMAT, "indx: index type %u unknown", unsigned{h.type});
}

VXRESULT OdmlLoader::load_standard(const ByteReader& chunk, const IndexHeader& h) {
    if (!standard_layout(h))
        return fault(AVIERR_BADFORMAT, "indx: standard index of sub-type %u with %u-long entries",
                     unsigned{h.subType}, unsigned{h.longsPerEntry});
    if (h.entries == 0) return 0;
    EntryArray entries;
    if (!entries.reserve(h.entries))
        return fault(AVIERR_MEMORY, "indx: no memory for %u entries", unsigned{h.entries});
    if (convert(chunk, h, entries.tail())) reader_->indexFlags |= AVI_INDEXFLAG_NOTKEY;
    entries.grow_count(h.entries);
    entries.hand_to(target_, h.chunkId);
    return 0;
}

VXRESULT OdmlLoader::load_super(const ByteReader& chunk, const IndexHeader& h) {
    if (h.subType > 1 || h.longsPerEntry != 4)
        return fault(AVIERR_BADFORMAT, "super index of sub-type %u with %u-long entries",
                     unsigned{h.subType}, unsigned{h.longsPerEntry});
    if (h.entries == 0) return 0;
    uint64_t durations = 0;
    for (uint32_t i = 0; i < h.entries; ++i) durations += chunk.u32(kHeaderSize + 16u * i + 12);
    if (durations == 0) return 0;

    // The positioned reads below move the host's file pointer; put it back.
    int64_t saved = 0;
    if (!file_.tell(&saved)) return fault(AVIERR_FILEREAD, "super index: file position unknown");
    const VXRESULT err = walk_super(chunk, h, durations);
    if (!file_.seek(saved) && err == 0)
        return fault(AVIERR_FILEREAD, "super index: file position not restored");
    return err;
}

VXRESULT OdmlLoader::walk_super(const ByteReader& chunk, const IndexHeader& super,
                                uint64_t durations) {
    EntryArray entries;
    Buffer scratch;
    uint32_t scratchSize = 0;
    bool first = true;
    bool notKey = false;
    // No file can index more chunks than it has 8-byte entries for.
    const uint64_t entryLimit = file_.size() / 8 + 10;

    for (uint32_t i = 0; i < super.entries; ++i) {
        const std::size_t at = kHeaderSize + 16u * i;
        const uint64_t offset = chunk.u64(at);
        const uint32_t size = chunk.u32(at + 8);
        if (offset == 0 || size <= 8) continue;
        if (size - 8 < kHeaderSize)
            return fault(AVIERR_BADFORMAT,
                         "super index entry %u: standard index of %u bytes, shorter than its "
                         "%u-byte header",
                         unsigned{i}, unsigned{size - 8}, unsigned{kHeaderSize});
        // A standard index that the file does not hold (a file cut short) is
        // skipped like an unused slot.
        if (!file_.holds(offset, size)) continue;
        const uint32_t bytes = size - 8;
        if (bytes > scratchSize) {
            scratch.reset(static_cast<unsigned char*>(std::malloc(bytes)));
            scratchSize = scratch ? bytes : 0;
            if (!scratch)
                return fault(AVIERR_MEMORY, "super index entry %u: no memory for %u bytes",
                             unsigned{i}, unsigned{bytes});
        }
        if (!file_.read(offset + 8, scratch.get(), bytes))
            return fault(AVIERR_FILEREAD, "super index entry %u: %u bytes at %llu unreadable",
                         unsigned{i}, unsigned{bytes}, ull(offset + 8));
        const ByteReader stdChunk(scratch.get(), bytes);
        const IndexHeader h = parse_header(stdChunk);
        if (!standard_layout(h))
            return fault(AVIERR_BADFORMAT,
                         "super index entry %u: standard index of sub-type %u with %u-long "
                         "entries",
                         unsigned{i}, unsigned{h.subType}, unsigned{h.longsPerEntry});
        if (!holds_entries(h, bytes))
            return fault(AVIERR_BADFORMAT,
                         "super index entry %u: %u entries need %llu bytes, %u available",
                         unsigned{i}, unsigned{h.entries}, ull(entries_bytes(h)), unsigned{bytes});
        const uint64_t n = h.entries;

        if (first) {
            uint64_t k = stream_.header.dwSampleSize == 0
                             ? std::max(durations, n + 10)
                             : static_cast<uint64_t>(super.entries) * n + 10;
            if (!entries.reserve(std::min(k, entryLimit)))
                return fault(AVIERR_MEMORY, "super index: no memory for %llu entries",
                             ull(std::min(k, entryLimit)));
            first = false;
        }
        // Super index entries may name the same standard index again and
        // again; more entries than the file has chunks for are not real.
        if (entries.count() + n > std::min<uint64_t>(entryLimit, UINT32_MAX))
            return fault(AVIERR_BADFORMAT,
                         "super index entry %u: %llu entries in all, more than the file has "
                         "room for",
                         unsigned{i}, ull(entries.count() + n));
        if (!entries.make_room(n))
            return fault(AVIERR_MEMORY, "super index entry %u: no memory for %llu more entries",
                         unsigned{i}, ull(n));
        notKey |= convert(stdChunk, h, entries.tail());
        entries.grow_count(n);
    }
    if (notKey) reader_->indexFlags |= AVI_INDEXFLAG_NOTKEY;
    entries.hand_to(target_, super.chunkId);
    return 0;
}

}  // namespace

VXRESULT load_odml_index(AviReader* reader, RiffWalker& walker, const RiffChunk& indx,
                         const AviStreamRecord& stream, AviStreamIndex* target) {
    // The first "indx" of each kind wins.
    if (target->count != 0) return 0;
    OdmlLoader loader(reader, walker, stream, target);
    const VXRESULT err = loader.load(indx);
    if (err == 0) return 0;
    clear_index(target);
    FailureText detail;
    detail.set("stream %u: %s", static_cast<unsigned>(&stream - reader->streams), loader.reason());
    return record(err, site::odml::kIndex, detail.c_str());
}

}  // namespace vx::reader
