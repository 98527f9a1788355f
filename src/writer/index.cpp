// The in-memory index of the current segment and the indexes written from
// it: OpenDML standard indexes per stream, and "idx1" for the first segment.
#include <cstdlib>

#include "util/byte_io.h"
#include "writer/writer_internal.h"

namespace vx::writer {

namespace {

constexpr uint32_t kNotKey = 0x80000000u;
// Index chunks go out through a buffer of this size, so writing them needs no
// memory in proportion to the chunk count.
constexpr uint32_t kOutBuffer = 32768;

// Collects little-endian output and writes it in kOutBuffer pieces.
class IndexOut {
public:
    explicit IndexOut(FileWriter& out)
        : out_(out),
          buffer_(static_cast<uint8_t*>(std::malloc(kOutBuffer))),
          b_(buffer_, kOutBuffer) {}
    ~IndexOut() { std::free(buffer_); }
    IndexOut(const IndexOut&) = delete;
    IndexOut& operator=(const IndexOut&) = delete;

    bool ready() const { return buffer_ != nullptr; }
    // The writer with room for `bytes` more, after writing out what is
    // buffered when needed; null when that write fails.
    ByteWriter* room(uint32_t bytes) {
        if (b_.size() + bytes > kOutBuffer && !flush()) return nullptr;
        return &b_;
    }
    bool flush() {
        const bool ok = !b_.overflow() && (b_.size() == 0 || out_.write(buffer_, b_.size()));
        b_ = ByteWriter(buffer_, kOutBuffer);
        return ok;
    }

private:
    FileWriter& out_;
    uint8_t* buffer_;
    ByteWriter b_;
};

// One standard index chunk for the stream's entries of this segment.
VXRESULT write_stream_index(WriterImpl* wi, uint32_t number, AviWriterStream& s) {
    AviWriter* w = &wi->pub;
    const SegmentIndex& index = wi->index;
    uint32_t n = 0;
    uint64_t bytes = 0;
    for (uint32_t i = 0; i < index.count(); ++i) {
        const IndexEntry& x = index.at(i);
        if (index.kind(x.kind).ckid != s.chunkId) continue;
        ++n;
        bytes += x.length & ~kNotKey;
    }
    if (n == 0) return 0;
    if (s.superIndex == nullptr && w->superIndexSlots != 0) {
        s.superIndex = static_cast<AviSuperIndexEntry*>(
            std::calloc(w->superIndexSlots, sizeof(AviSuperIndexEntry)));
        if (s.superIndex == nullptr) return AVIERR_MEMORY;
    }
    if (s.superIndexUsed >= w->superIndexSlots) return 0;  // no slot left to point to it
    // n entries of 8 bytes in a chunk whose size is 32 bits.
    if (n > (UINT32_MAX - 40) / 8) return AVIERR_FILEWRITE;

    uint64_t at = 0;
    if (!wi->out.tell(&at)) return AVIERR_FILEREAD;
    IndexOut out(wi->out);
    if (!out.ready()) return AVIERR_MEMORY;
    AviSuperIndexEntry& e = s.superIndex[s.superIndexUsed];
    e.qwOffset = at;
    e.dwSize = 8 * n + 40;
    e.dwDuration =
        s.header.dwSampleSize != 0 ? static_cast<uint32_t>(bytes / s.header.dwSampleSize) : n;

    ByteWriter& b = *out.room(32);  // the empty buffer holds the header
    b.u32(fourcc("ix\0\0") | static_cast<uint32_t>(stream_prefix(number)) << 16);
    b.u32(8 * n + 32);
    b.u16(2);
    b.u8(0);
    b.u8(1);  // an index of chunks
    b.u32(n);
    b.u32(s.chunkId);
    b.u64(w->riffStart);
    b.u32(0);
    for (uint32_t i = 0; i < index.count(); ++i) {
        const IndexEntry& x = index.at(i);
        const IndexKind& k = index.kind(x.kind);
        if (k.ckid != s.chunkId) continue;
        ByteWriter* entry = out.room(8);
        if (entry == nullptr) return AVIERR_FILEWRITE;
        entry->u32(x.offset + 8);
        entry->u32((x.length & ~kNotKey) | ((k.flags & AVIIF_KEYFRAME) ? 0 : kNotKey));
    }
    ByteWriter* tail = out.room(8);
    if (tail == nullptr) return AVIERR_FILEWRITE;
    tail->zeros(8);
    if (!out.flush()) return AVIERR_FILEWRITE;
    ++s.superIndexUsed;
    return 0;
}

void publish(WriterImpl* wi) {
    AviWriter& p = wi->pub;
    p.entries = wi->index.blocks();
    p.entryCount = wi->index.count();
    const uint64_t capacity = wi->index.capacity();
    p.entryCapacity = capacity > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(capacity);
}

}  // namespace

bool add_entry(WriterImpl* wi, uint32_t ckid, uint32_t flags, uint32_t offset, uint32_t length) {
    const bool ok = wi->index.add(ckid, flags, offset, length);
    publish(wi);
    return ok;
}

void clear_entries(WriterImpl* wi) {
    wi->index.clear();
    publish(wi);
}

VXRESULT write_standard_indexes(WriterImpl* wi) {
    AviWriter* w = &wi->pub;
    for (uint32_t i = 0; i < w->mainHeader.dwStreams; ++i) {
        if (const VXRESULT rc = write_stream_index(wi, i, w->streams[i])) return rc;
    }
    return 0;
}

VXRESULT write_idx1(WriterImpl* wi) {
    AviWriter* w = &wi->pub;
    const SegmentIndex& index = wi->index;
    // Offsets in idx1 count from the "movi" list type.
    const auto base = static_cast<uint32_t>(w->moviChunk.position - w->riffStart + 8);
    if (index.count() > (UINT32_MAX - 8) / sizeof(AviIdx1Entry)) return AVIERR_FILEWRITE;
    IndexOut out(wi->out);
    if (!out.ready()) return AVIERR_MEMORY;
    ByteWriter& b = *out.room(8);  // the empty buffer holds the header
    b.u32(fourcc("idx1"));
    b.u32(index.count() * static_cast<uint32_t>(sizeof(AviIdx1Entry)));
    for (uint32_t i = 0; i < index.count(); ++i) {
        const IndexEntry& x = index.at(i);
        const IndexKind& k = index.kind(x.kind);
        ByteWriter* entry = out.room(16);
        if (entry == nullptr) return AVIERR_FILEWRITE;
        entry->u32(k.ckid);
        entry->u32(k.flags);
        entry->u32(x.offset - base);
        entry->u32(x.length);
    }
    return out.flush() ? 0 : AVIERR_FILEWRITE;
}

}  // namespace vx::writer
