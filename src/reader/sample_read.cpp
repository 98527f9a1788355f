#include "reader/sample_read.h"

#include "reader/block_cache.h"
#include "reader/host_file.h"
#include "util/host.h"

namespace vx::reader {

namespace {

struct Cursor {
    uint64_t entry;
    uint64_t start;  // first sample of `entry`
};

uint64_t samples_in(const AviIndexEntry& e, uint32_t sampleSize) {
    return sampleSize ? e.size / sampleSize : 1;
}

// Walks from `from` to the entry whose sample range holds `sample`.
bool find_entry(const AviStreamIndex& index, uint32_t sampleSize, uint64_t sample, Cursor from,
                Cursor* found) {
    Cursor c = from;
    for (; c.entry < index.count; ++c.entry) {
        const uint64_t n = samples_in(index.entries[c.entry], sampleSize);
        if (sample >= c.start && sample - c.start < n) {
            *found = c;
            return true;
        }
        c.start += n;
    }
    return false;
}

Cursor audio_cursor_start(const AviReader* r, const AviStreamIndex& index, uint64_t sample,
                          uint32_t dwStart) {
    const Cursor origin{0, dwStart};
    if (r->audioCursorEntry < 0 || static_cast<uint64_t>(r->audioCursorEntry) >= index.count)
        return origin;
    const uint64_t cursorSample = static_cast<uint32_t>(r->audioCursorSample);
    if (sample < cursorSample) return origin;
    return {static_cast<uint64_t>(r->audioCursorEntry), cursorSample};
}

// The reader holds the cursor in 32 bits. An entry starting past 32-bit sample
// numbers (a stream starting just below them) is not kept: cut short, its start
// would place later reads in the wrong entry. The cursor kept before stays valid.
void keep_cursor(AviReader* r, const Cursor& c) {
    if (c.start > UINT32_MAX || c.entry > INT32_MAX) return;
    r->audioCursorEntry = static_cast<int32_t>(c.entry);
    r->audioCursorSample = static_cast<int32_t>(static_cast<uint32_t>(c.start));
}

}  // namespace

VXRESULT read_samples(AviReader* r, const SampleRequest& req, const SampleReadSites& sites,
                      SampleResult* result) {
    const AviStreamIndex& index = *req.index;
    const uint32_t d = req.header->dwSampleSize;
    const Cursor origin = req.useAudioCursor
                              ? audio_cursor_start(r, index, req.start, req.header->dwStart)
                              : Cursor{0, req.header->dwStart};
    Cursor at;
    if (index.entries == nullptr || !find_entry(index, d, req.start, origin, &at))
        return record(AVIERR_INTERNAL, sites.notFound);
    if (req.useAudioCursor) keep_cursor(r, at);

    uint64_t bytes;
    if (d != 0) {
        bytes = static_cast<uint64_t>(req.count) * d;
    } else {
        if (req.count > 1) return record(AVIERR_UNSUPPORTED, sites.unsupported);
        bytes = index.entries[at.entry].size;
    }
    result->flags = index.entries[at.entry].flags;
    if (req.buffer != nullptr && bytes > req.bufferSize)
        return record(AVIERR_BUFFERTOOSMALL, sites.tooSmall);
    if (bytes > UINT32_MAX) return record(AVIERR_BUFFERTOOSMALL, sites.tooSmall);
    result->bytes = static_cast<uint32_t>(bytes);
    if (req.buffer == nullptr || req.count == 0) return 0;

    auto* out = static_cast<unsigned char*>(req.buffer);
    uint64_t sample = req.start;
    uint64_t remaining = req.count;
    while (true) {
        const AviIndexEntry& e = index.entries[at.entry];
        const uint64_t n = samples_in(e, d);
        const uint64_t skip = sample - at.start;
        const uint64_t take = (n - skip < remaining) ? n - skip : remaining;
        const uint64_t len = d ? take * d : e.size;
        const int64_t pos = static_cast<int64_t>(e.offset + skip * d);
        if (len != 0 && VxPRead(r->fileRef, out, static_cast<uint32_t>(len), &pos) != 0)
            return record(AVIERR_FILEREAD, sites.readFailed);
        out += len;
        sample += take;
        remaining -= take;
        if (remaining == 0) break;
        // The next sample lies in a later entry: continue the walk from here.
        const Cursor next{at.entry + 1, at.start + n};
        if (!find_entry(index, d, sample, next, &at))
            return record(AVIERR_INTERNAL, sites.notFound);
        if (req.useAudioCursor) keep_cursor(r, at);
    }
    return 0;
}

namespace {

// The video index entry at `position`, clamped to the index; null when empty.
const AviIndexEntry* video_entry(const AviReader* r, int64_t position) {
    const AviStreamIndex& index = r->videoIndex;
    if (index.count == 0 || index.entries == nullptr) return nullptr;
    if (position >= static_cast<int64_t>(index.count)) position = index.count - 1;
    if (position < 0) position = 0;
    return &index.entries[position];
}

}  // namespace

bool frame_in_file(const AviReader* r, int64_t position) {
    const AviIndexEntry* e = video_entry(r, position);
    return e != nullptr && host_file_holds(r->fileRef, e->offset, e->size);
}

VXRESULT read_frame_at(AviReader* r, int64_t position, void* buffer, uint32_t* size,
                       uint32_t* flags, const ErrorSite& site) {
    const AviIndexEntry* entry = video_entry(r, position);
    if (entry == nullptr || size == nullptr) return record(AVIERR_FILEREAD, site);
    const AviIndexEntry& e = *entry;
    if (flags != nullptr) *flags = e.flags;
    if (buffer == nullptr) {
        *size = e.size;
        return 0;
    }
    if (*size < e.size) return record(AVIERR_FILEREAD, site);
    *size = e.size;
    if (e.size != 0 && cache::read_into(r, buffer, e.size, e.offset) != 0)
        return record(AVIERR_FILEREAD, site);
    return 0;
}

}  // namespace vx::reader
