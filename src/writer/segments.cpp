// RIFF segments: the first one behind the header space, AVIX extensions after
// it, and ending a segment with its indexes.
#include "util/host.h"
#include "writer/writer_internal.h"

namespace vx::writer {

namespace {

void reset_countdowns(AviWriter* w) {
    for (AviWriterStream* s = w->streams; s != w->streamsEnd; ++s)
        s->indexCountdown = kIndexCountdown;
}

uint64_t stream_overhead(const AviWriter* w) {
    return static_cast<uint64_t>(kStreamSegmentOverhead) * w->mainHeader.dwStreams;
}

VXRESULT end_segment_unrecorded(WriterImpl* wi, bool extensionFollows) {
    AviWriter* w = &wi->pub;
    if (w->recordChunk.fccType != 0) {
        if (const VXRESULT rc = end_record(wi)) return rc;
    }
    w->segmentLeft = 0;
    if (w->segmentClosed) return 0;
    w->segmentClosed = 1;
    if (extensionFollows || w->extensionCount > 0) {
        if (const VXRESULT rc = write_standard_indexes(wi)) return rc;
    }
    if (!complete_chunk(wi, &w->moviChunk)) return AVIERR_FILEWRITE;
    if (w->extensionCount == 0) {
        if (const VXRESULT rc = write_idx1(wi)) return rc;
        if (!wi->out.tell(&w->firstRiffEnd)) return AVIERR_FILEREAD;
    }
    if (!complete_chunk(wi, &w->riffChunk)) return AVIERR_FILEWRITE;
    clear_entries(wi);
    return 0;
}

}  // namespace

VXRESULT start_first_segment(WriterImpl* wi, uint64_t need) {
    AviWriter* w = &wi->pub;
    const uint32_t reserve = header_reserve(w, need);
    if (reserve == 0) return AVIERR_FILEWRITE;
    // The form type stays "JUNQ" until close has rewritten the header list,
    // so a file whose writer never closed is not taken for a finished one.
    // From position 0 also when an earlier attempt failed half-way.
    if (!wi->out.seek(0)) return AVIERR_FILEWRITE;
    if (!begin_list(wi, &w->riffChunk, fourcc("RIFF"), fourcc("JUNQ"))) return AVIERR_FILEWRITE;
    if (!wi->out.seek(reserve)) return AVIERR_FILEWRITE;
    reset_countdowns(w);
    if (!begin_list(wi, &w->moviChunk, fourcc("LIST"), fourcc("movi"))) return AVIERR_FILEWRITE;
    w->riffStart = 0;
    w->headerReserve = reserve;
    w->segmentLeft = charge(w->segmentSize, stream_overhead(w) + reserve + 20);
    w->sizeLeft = charge64(w->sizeLeft, w->segmentSize);
    w->segmentClosed = 0;
    return 0;
}

VXRESULT start_extension(WriterImpl* wi, uint64_t need) {
    AviWriter* w = &wi->pub;
    if (const VXRESULT rc = end_segment(wi, true)) return rc;
    if (static_cast<uint64_t>(w->extensionCount) + 1 >= w->segmentLimit) return AVIERR_USERABORT;
    const uint64_t fixed = stream_overhead(w) + 24;
    const uint64_t left = w->segmentSize > fixed ? w->segmentSize - fixed : 0;
    if (left < need) return AVIERR_USERABORT;
    w->segmentLeft = static_cast<uint32_t>(left);
    reset_countdowns(w);
    if (!begin_list(wi, &w->riffChunk, fourcc("RIFF"), fourcc("AVIX"))) return AVIERR_FILEWRITE;
    w->riffStart = w->riffChunk.position;
    if (!begin_list(wi, &w->moviChunk, fourcc("LIST"), fourcc("movi"))) return AVIERR_FILEWRITE;
    w->sizeLeft = charge64(charge64(w->maxFileSize, w->segmentSize), w->riffStart);
    ++w->extensionCount;
    w->segmentClosed = 0;
    return 0;
}

VXRESULT end_segment(WriterImpl* wi, bool extensionFollows) {
    const VXRESULT rc = end_segment_unrecorded(wi, extensionFollows);
    return rc == 0 ? 0 : record(rc, site::easy::kSegmentEnd);
}

}  // namespace vx::writer
