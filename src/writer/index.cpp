// The in-memory index of the current segment and the indexes written from
// it: OpenDML standard indexes per stream, and "idx1" for the first segment.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "writer/list_builder.h"
#include "writer/writer_internal.h"

namespace vx::writer {

namespace {

constexpr uint32_t kNotKey = 0x80000000u;

// One standard index chunk for the stream's entries of this segment.
VXRESULT write_stream_index(WriterImpl* wi, uint32_t number, AviWriterStream& s) {
    AviWriter* w = &wi->pub;
    uint32_t n = 0;
    uint64_t bytes = 0;
    for (uint32_t i = 0; i < w->entryCount; ++i) {
        if (w->entries[i].ckid != s.chunkId) continue;
        ++n;
        bytes += w->entries[i].dwChunkLength & ~kNotKey;
    }
    if (n == 0) return 0;
    if (s.superIndex == nullptr && w->superIndexSlots != 0) {
        s.superIndex = static_cast<AviSuperIndexEntry*>(
            std::calloc(w->superIndexSlots, sizeof(AviSuperIndexEntry)));
        if (s.superIndex == nullptr) return AVIERR_MEMORY;
    }
    if (s.superIndexUsed >= w->superIndexSlots) return 0;  // no slot left to point to it

    uint64_t at = 0;
    if (!wi->out.tell(&at)) return AVIERR_FILEREAD;
    AviSuperIndexEntry& e = s.superIndex[s.superIndexUsed];
    e.qwOffset = at;
    e.dwSize = 8 * n + 40;
    e.dwDuration =
        s.header.dwSampleSize != 0 ? static_cast<uint32_t>(bytes / s.header.dwSampleSize) : n;

    const char* hex = "0123456789ABCDEF";
    std::vector<uint8_t> out(e.dwSize);
    ListBuilder b(out.data());
    const uint8_t id[4] = {'i', 'x', static_cast<uint8_t>(hex[(number >> 4) & 0xF]),
                           static_cast<uint8_t>(hex[number & 0xF])};
    b.bytes(id, 4);
    b.u32(8 * n + 32);
    b.u16(2);
    b.u8(0);
    b.u8(1);  // an index of chunks
    b.u32(n);
    b.u32(s.chunkId);
    b.u64(w->riffStart);
    b.u32(0);
    for (uint32_t i = 0; i < w->entryCount; ++i) {
        const AviIdx1Entry& x = w->entries[i];
        if (x.ckid != s.chunkId) continue;
        b.u32(x.dwChunkOffset + 8);
        b.u32((x.dwChunkLength & ~kNotKey) | ((x.dwFlags & AVIIF_KEYFRAME) ? 0 : kNotKey));
    }
    b.zeros(8);
    if (!wi->out.write(out.data(), static_cast<uint32_t>(out.size()))) return AVIERR_FILEWRITE;
    ++s.superIndexUsed;
    return 0;
}

}  // namespace

bool add_entry(AviWriter* w, uint32_t ckid, uint32_t flags, uint32_t offset, uint32_t length) {
    if (w->entryCount == w->entryCapacity) {
        // Doubling keeps the cost per chunk constant in long files.
        if (w->entryCapacity > UINT32_MAX / 2 / sizeof(AviIdx1Entry)) return false;
        const uint32_t capacity =
            w->entryCapacity == 0 ? kFirstEntryCapacity : w->entryCapacity * 2;
        void* grown =
            std::realloc(w->entries, static_cast<size_t>(capacity) * sizeof(AviIdx1Entry));
        if (grown == nullptr) return false;
        w->entries = static_cast<AviIdx1Entry*>(grown);
        w->entryCapacity = capacity;
    }
    w->entries[w->entryCount++] = {ckid, flags, offset, length};
    return true;
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
    // Offsets in idx1 count from the "movi" list type.
    const auto base = static_cast<uint32_t>(w->moviChunk.position - w->riffStart + 8);
    for (uint32_t i = 0; i < w->entryCount; ++i) w->entries[i].dwChunkOffset -= base;
    if (w->entryCount > UINT32_MAX / sizeof(AviIdx1Entry)) return AVIERR_FILEWRITE;
    const uint32_t bytes = w->entryCount * static_cast<uint32_t>(sizeof(AviIdx1Entry));
    uint8_t header[8];
    const uint32_t id = fourcc("idx1");
    for (int i = 0; i < 4; ++i) {
        header[i] = static_cast<uint8_t>(id >> (8 * i));
        header[4 + i] = static_cast<uint8_t>(bytes >> (8 * i));
    }
    if (!wi->out.write(header, sizeof header)) return AVIERR_FILEWRITE;
    if (!wi->out.write(w->entries, bytes)) return AVIERR_FILEWRITE;
    return 0;
}

}  // namespace vx::writer
