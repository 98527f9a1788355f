// avifileClose: the last segment's indexes, the final header values and the
// header list written into the space reserved for it.
#include <cmath>
#include <cstdlib>

#include "platform/file.h"
#include "util/host.h"
#include "writer/writer_internal.h"

namespace vx::writer {

namespace {

// Audio-first files count milliseconds. Out-of-range results keep their low
// 32 bits, as a 64-bit integer would.
uint32_t audio_total_frames(uint32_t length, uint32_t rate, uint32_t scale) {
    if (rate == 0) return 0;
    const double v = std::trunc(static_cast<double>(length) * 1000.0 / rate * scale);
    if (v < 9.0e18) return static_cast<uint32_t>(static_cast<uint64_t>(v));
    return static_cast<uint32_t>(std::fmod(v, 4294967296.0));
}

void complete_headers(AviWriter* w, uint32_t videoFrames, uint32_t audioLength) {
    MainAVIHeader& m = w->mainHeader;
    if (m.dwStreams == 0) return;
    AVIStreamHeader& first = w->streams[0].header;
    if (first.dwRate != 0) {
        const int64_t us = static_cast<int64_t>(static_cast<int32_t>(first.dwScale)) * 1000000 /
                           static_cast<int64_t>(first.dwRate);
        m.dwMicroSecPerFrame = static_cast<uint32_t>(us);
    } else {
        m.dwMicroSecPerFrame = 0;
    }
    if (first.fccType == fourcc("vids")) {
        m.dwTotalFrames = videoFrames;
        first.dwLength = videoFrames;
        if (m.dwStreams > 1 && w->streams[1].header.fccType == fourcc("auds"))
            w->streams[1].header.dwLength = audioLength;
    } else if (first.fccType == fourcc("auds")) {
        m.dwMicroSecPerFrame = 1000;
        first.dwLength = audioLength;
        m.dwTotalFrames = audio_total_frames(audioLength, first.dwRate, first.dwScale);
    }
    for (AviWriterStream* s = w->streams; s != w->streamsEnd; ++s) {
        if (s->maxChunkSize > s->header.dwSuggestedBufferSize)
            s->header.dwSuggestedBufferSize = s->maxChunkSize;
    }
}

// Writes the header list; false on any failure.
bool rewrite_header(WriterImpl* wi, uint32_t dmlhFrames) {
    uint8_t* list = nullptr;
    uint32_t size = 0;
    if (!build_header_list(&wi->pub, dmlhFrames, &list, &size)) return false;
    const bool ok = wi->out.write_at(0, list, size);
    std::free(list);
    return ok;
}

void release(WriterImpl* wi) {
    AviWriter* w = &wi->pub;
    if (w->file != INVALID_HANDLE_VALUE) (void)platform::close_checked(w->file);
    for (AviWriterStream* s = w->streams; s != w->streamsEnd; ++s) {
        std::free(s->format);
        std::free(s->superIndex);
    }
    wi->index.release();
    std::free(wi);
}

}  // namespace

}  // namespace vx::writer

using namespace vx;
using namespace vx::writer;

VXAPI VXRESULT VXCALL avifileClose(AviWriter* writer, uint32_t videoFrames, uint32_t audioLength) {
    if (writer == nullptr) return AVIERR_BADPARAM;
    WriterImpl* wi = impl(writer);
    AviWriter* w = writer;
    wi->pending = nullptr;

    // A file closed before its first chunk still gets its (empty) movie list
    // and index, so that it is a complete file.
    if (w->headerReserve == 0 && start_first_segment(wi, 0) != 0) {
        release(wi);
        return AVIERR_FILEWRITE;
    }
    if (const VXRESULT rc = end_segment(wi, false)) {
        const VXRESULT result = record(rc, site::easy::kClose);
        release(wi);
        return result;
    }

    complete_headers(w, videoFrames, audioLength);
    w->mainHeader.dwFlags |= AVIF_HASINDEX;
    const uint32_t total = w->mainHeader.dwTotalFrames;
    if (w->mainHeader.dwStreams > 0 && w->streams[0].superIndexUsed > 0)
        w->mainHeader.dwTotalFrames = w->streams[0].superIndex[0].dwDuration;

    bool ok = rewrite_header(wi, total);
    ok = ok && platform::flush_file(w->file);
    const bool closed = platform::close_checked(w->file);
    w->file = INVALID_HANDLE_VALUE;
    release(wi);
    return ok && closed ? 0 : AVIERR_FILEWRITE;
}
