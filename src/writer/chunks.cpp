// Data chunks and interleave records: naming, the segment budget, and the
// chunk headers rewritten once the data is known.
#include "util/host.h"
#include "writer/writer_internal.h"

namespace vx::writer {

namespace {

// Two upper-case hex digits of the stream number, then the two type
// characters; a type that is not two printable characters becomes "xx".
uint32_t chunk_id(uint32_t stream, uint32_t type) {
    uint32_t t = type & 0xFFFF;
    if (((t >> 8) & 0xFF) < 0x20) t = 'x' | ('x' << 8);
    return stream_prefix(stream) | t << 16;
}

// What the segment must still hold for a chunk budgeted at `r` bytes.
uint64_t chunk_need(AviWriter* w, uint32_t stream, uint64_t r) {
    uint64_t need = r + kChunkOverhead;
    AviWriterStream& s = w->streams[stream];
    if (--s.indexCountdown < 0) {
        need += kChunkOverhead;  // another index header
        s.indexCountdown = kIndexCountdown;
    }
    if (interleaved(w) && w->recordChunk.fccType == 0) {
        // Room for the record and for the other streams' chunks in it.
        need += kRecordOverhead;
        for (uint32_t i = 0; i < w->mainHeader.dwStreams; ++i)
            if (i != stream) need += 2ull * w->streams[i].maxChunkSize;
    }
    return need;
}

VXRESULT open_record(WriterImpl* wi) {
    AviWriter* w = &wi->pub;
    if (!begin_list(wi, &w->recordChunk, fourcc("LIST"), fourcc("rec "))) {
        w->recordChunk.fccType = 0;
        return AVIERR_FILEWRITE;
    }
    w->recordEntry = w->entryCount;
    w->segmentLeft = charge(w->segmentLeft, kRecordOverhead);
    const auto offset = static_cast<uint32_t>(w->recordChunk.position - w->riffStart);
    if (!add_entry(wi, fourcc("rec "), AVIIF_LIST, offset, 4)) return AVIERR_MEMORY;
    return 0;
}

}  // namespace

bool begin_list(WriterImpl* wi, AviChunkInfo* chunk, uint32_t id, uint32_t type) {
    chunk->ckid = id;
    chunk->cksize = 4;
    chunk->fccType = type;
    chunk->position = wi->out.position();
    uint8_t header[12];
    put32(header, id);
    put32(header + 4, 4);
    put32(header + 8, type);
    return wi->out.write(header, sizeof header);
}

bool complete_chunk(WriterImpl* wi, AviChunkInfo* chunk, uint64_t headerSize) {
    uint64_t end = 0;
    if (!wi->out.tell(&end) || end < chunk->position + 8) return false;
    chunk->cksize = static_cast<uint32_t>(end - chunk->position - 8);
    // A chunk whose size was known when it was begun needs no second visit.
    if (chunk->cksize == headerSize) return (chunk->cksize & 1) == 0 || wi->out.pad();
    uint8_t header[8];
    put32(header, chunk->ckid);
    put32(header + 4, chunk->cksize);
    if (!wi->out.write_at(chunk->position, header, sizeof header)) return false;
    if (!wi->out.seek(end)) return false;
    // A real zero, so the pad byte never depends on what the disk held.
    return (chunk->cksize & 1) == 0 || wi->out.pad();
}

VXRESULT end_record(WriterImpl* wi) {
    AviWriter* w = &wi->pub;
    if (w->recordChunk.fccType == 0) return 0;
    w->recordChunk.fccType = 0;
    if (!complete_chunk(wi, &w->recordChunk))
        return record(AVIERR_FILEWRITE, site::easy::kRecordEnd);
    if (w->recordEntry < wi->index.count())
        wi->index.at(w->recordEntry).length = w->recordChunk.cksize;
    return 0;
}

}  // namespace vx::writer

using namespace vx;
using namespace vx::writer;

VXAPI VXRESULT VXCALL avifileBeginWrite2(AviWriter* writer, int32_t stream, const void* data,
                                         uint32_t size, uint32_t budget, uint32_t type,
                                         uint32_t flags, AviChunkInfo* chunk) {
    (void)data;
    (void)flags;
    if (writer == nullptr || chunk == nullptr ||
        static_cast<uint32_t>(stream) >= writer->mainHeader.dwStreams)
        return record(AVIERR_BADPARAM, site::easy::kBadStream);
    WriterImpl* wi = impl(writer);
    wi->pending = nullptr;
    const auto n = static_cast<uint32_t>(stream);
    AviWriterStream& s = writer->streams[n];

    uint64_t r = budget;
    if (size != budget && budget < s.maxChunkSize) r = s.maxChunkSize;
    if (writer->headerReserve == 0) {
        // The first chunk with the worst case of its overheads.
        const uint64_t first = r + 2 * kChunkOverhead + kRecordOverhead;
        if (const VXRESULT rc = start_first_segment(wi, first))
            return record(rc, site::easy::kFirstSegment);
    }
    if (size == 0 && (type & 0xFFFF) == ('w' | ('b' << 8))) return 0;

    const uint64_t need = chunk_need(writer, n, r);
    if (need > writer->segmentLeft) {
        if (const VXRESULT rc = start_extension(wi, need))
            return record(rc, site::easy::kExtension);
    }
    if (interleaved(writer) && writer->recordChunk.fccType == 0) {
        if (const VXRESULT rc = open_record(wi)) return rc;
    }
    s.chunkId = chunk_id(n, type);
    chunk->ckid = s.chunkId;
    chunk->cksize = 0;
    chunk->fccType = 0;
    chunk->position = wi->out.position();
    // A size known up front goes into the header now, so that a chunk
    // written whole needs no rewrite of its header when it ends.
    uint8_t header[8];
    put32(header, chunk->ckid);
    put32(header + 4, size);
    if (!wi->out.write(header, sizeof header))
        return record(AVIERR_FILEWRITE, site::easy::kChunkHeader);
    writer->segmentLeft = charge(writer->segmentLeft, need - r);
    wi->pending = chunk;
    wi->pendingHeaderSize = size;
    return 0;
}

VXAPI VXRESULT VXCALL avifileContinueWrite(AviWriter* writer, const void* data, uint32_t count,
                                           AviChunkInfo* chunk) {
    (void)chunk;  // the chunk begun is the one continued
    if (writer == nullptr) return AVIERR_BADPARAM;
    WriterImpl* wi = impl(writer);
    if (wi->pending == nullptr || count == 0) return 0;
    writer->segmentLeft = charge(writer->segmentLeft, count);
    if (!wi->out.write(data, count)) return record(AVIERR_FILEWRITE, site::easy::kChunkData);
    wi->pending->cksize += count;
    return 0;
}

VXAPI VXRESULT VXCALL avifileEndWrite(AviWriter* writer, int32_t stream, uint32_t flags,
                                      AviChunkInfo* chunk) {
    (void)chunk;
    if (writer == nullptr || static_cast<uint32_t>(stream) >= writer->mainHeader.dwStreams)
        return record(AVIERR_BADPARAM, site::easy::kBadStream);
    WriterImpl* wi = impl(writer);
    AviChunkInfo* c = wi->pending;
    if (c == nullptr) return 0;
    wi->pending = nullptr;
    if (!complete_chunk(wi, c, wi->pendingHeaderSize))
        return record(AVIERR_FILEWRITE, site::easy::kChunkEnd);

    AviWriterStream& s = writer->streams[stream];
    if ((flags & AVIIF_NO_TIME) == 0)
        s.header.dwLength += s.header.dwSampleSize != 0 ? c->cksize / s.header.dwSampleSize : 1;
    const auto offset = static_cast<uint32_t>(c->position - writer->riffStart);
    if (!add_entry(wi, c->ckid, flags, offset, c->cksize))
        return record(AVIERR_MEMORY, site::easy::kIndexGrow);
    if (c->cksize > s.maxChunkSize) {
        s.maxChunkSize = c->cksize;
        if (c->cksize > writer->mainHeader.dwSuggestedBufferSize)
            writer->mainHeader.dwSuggestedBufferSize = c->cksize;
    }
    return 0;
}

VXAPI VXRESULT VXCALL avifileWrite(AviWriter* writer, int32_t stream, const void* data,
                                   uint32_t size, uint32_t type, uint32_t flags) {
    AviChunkInfo chunk{};
    if (const VXRESULT rc =
            avifileBeginWrite2(writer, stream, data, size, size, type, flags, &chunk))
        return rc;
    WriterImpl* wi = impl(writer);
    if (wi->pending != &chunk) return 0;  // an empty chunk that is not written
    const VXRESULT written = avifileContinueWrite(writer, data, size, &chunk);
    // Ended even after a failed write, so the file stays consistent.
    const VXRESULT ended = avifileEndWrite(writer, stream, flags, &chunk);
    return written != 0 ? written : ended;
}

VXAPI VXRESULT VXCALL avifileEndRecord(AviWriter* writer) {
    if (writer == nullptr) return 0;
    return end_record(impl(writer));
}
