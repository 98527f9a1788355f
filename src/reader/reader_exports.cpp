// The exported reader functions: argument checks and the mapping of caller
// numbers onto streams; the work is done in the reader's modules.
#include <cstdlib>
#include <cstring>

#include "reader/block_cache.h"
#include "reader/reader_internal.h"
#include "reader/sample_read.h"
#include "util/host.h"

namespace vx::reader {
VXRESULT open(AviReader** outReader, HANDLE fileRef, const char* fileName);
}

using namespace vx;
using namespace vx::reader;

namespace {

const AVIStreamHeader* stream_header(const AviReader* r, int32_t stream) {
    if (stream < 0 || static_cast<uint32_t>(stream) >= r->mainHeader.dwStreams) return nullptr;
    return &r->streams[stream].header;
}

}  // namespace

VXAPI VXRESULT VXCALL aviOpen(AviReader** outReader, HANDLE fileRef, const char* fileName) {
    return reader::open(outReader, fileRef, fileName);
}

VXAPI VXRESULT VXCALL aviSetFileRef(AviReader* reader, HANDLE fileRef) {
    if (reader == nullptr) return record(AVIERR_BADPARAM, site::vfw::kSetFileRefArgs);
    const HANDLE old = reader->fileRef;
    reader->fileRef = fileRef;
    // Blocks keyed by the old value would be found again if the host reused
    // that value for another file.
    if (old != fileRef) cache::forget_handle(old);
    return 0;
}

VXAPI VXRESULT VXCALL aviClose(AviReader* reader) {
    if (reader == nullptr) return record(AVIERR_BADPARAM, site::vfw::kCloseArgs);
    cache::release_reader(reader);
    release_contents(reader);
    reader->fileRef = INVALID_HANDLE_VALUE;
    std::free(reader);
    return 0;
}

VXAPI uint32_t VXCALL aviGetStreamCount(AviReader* reader) {
    return reader ? reader->mainHeader.dwStreams : 0;
}

VXAPI MainAVIHeader* VXCALL aviGetAVIHeader(AviReader* reader) {
    return reader ? &reader->mainHeader : nullptr;
}

VXAPI AviStreamRecord* VXCALL aviGetAVIStream(AviReader* reader, uint32_t stream) {
    if (reader == nullptr || reader->streams == nullptr || stream >= reader->mainHeader.dwStreams)
        return nullptr;
    return &reader->streams[stream];
}

VXAPI VXRESULT VXCALL aviReadFrame(AviReader* reader, int32_t frame, void* buffer, uint32_t* size,
                                   uint32_t* flags) {
    if (reader == nullptr || size == nullptr) return record(AVIERR_BADPARAM, site::vfw::kFrameRead);
    const AVIStreamHeader* h = stream_header(reader, reader->videoStream);
    if (h == nullptr) return record(AVIERR_FILEREAD, site::vfw::kFrameRead);
    return read_frame_at(reader, static_cast<int64_t>(frame) + h->dwStart, buffer, size, flags,
                         site::vfw::kFrameRead);
}

VXAPI VXRESULT VXCALL aviReadFramePtr(AviReader* reader, int32_t frame, unsigned char** data,
                                      uint32_t* size, uint32_t* flags, int32_t noCopy) {
    if (data != nullptr) *data = nullptr;
    if (reader == nullptr || size == nullptr)
        return record(AVIERR_BADPARAM, site::vfw::kFramePointer);
    const AVIStreamHeader* h = stream_header(reader, reader->videoStream);
    const AviStreamIndex& index = reader->videoIndex;
    if (data == nullptr) {
        if (h == nullptr) return record(AVIERR_FILEREAD, site::vfw::kFrameRead);
        return read_frame_at(reader, static_cast<int64_t>(frame) + h->dwStart, nullptr, size, flags,
                             site::vfw::kFrameRead);
    }
    if (h == nullptr || index.count == 0 || index.entries == nullptr)
        return record(AVIERR_FILEREAD, site::vfw::kFramePointer);
    int64_t p = static_cast<int64_t>(frame) + h->dwStart;
    const int64_t lastSample = static_cast<int64_t>(h->dwStart) + h->dwLength - 1;
    if (p > lastSample) p = lastSample;
    if (p >= static_cast<int64_t>(index.count)) p = index.count - 1;
    if (p < 0) p = 0;
    const AviIndexEntry& e = index.entries[p];
    *size = e.size;
    if (flags != nullptr) *flags = e.flags;
    if (cache::read_pointer(reader, data, e.size, e.offset, noCopy != 0) != 0) {
        *data = nullptr;
        return record(AVIERR_FILEREAD, site::vfw::kFramePointer);
    }
    return 0;
}

VXAPI VXRESULT VXCALL aviReadFramePtrRelease(void* data) {
    if (data != nullptr) cache::release_pointer(data);
    return 0;
}

VXAPI VXRESULT VXCALL aviReadData(AviReader* reader, int32_t stream, uint32_t start,
                                  uint32_t count, void* buffer, uint32_t* size, uint32_t* flags,
                                  uint32_t* chunkId) {
    if (reader == nullptr || size == nullptr)
        return record(AVIERR_BADPARAM, site::vfw::kDataStream);
    int32_t s = stream;
    if (stream == 0)
        s = reader->videoStream;
    else if (stream == 1)
        s = reader->audioStream;
    const AVIStreamHeader* h = stream_header(reader, s);
    // Only the video and the audio stream have an index to read by.
    if (h == nullptr || (s != reader->videoStream && s != reader->audioStream))
        return record(AVIERR_BADPARAM, site::vfw::kDataStream);
    if (start < h->dwStart) return record(AVIERR_BADPARAM, site::vfw::kDataBeforeStart);
    if (static_cast<uint64_t>(start) + count > static_cast<uint64_t>(h->dwStart) + h->dwLength)
        return record(AVIERR_BADPARAM, site::vfw::kDataPastEnd);
    if (count == 0) {
        *size = 0;
        return 0;
    }
    const bool audio = s == reader->audioStream && s != reader->videoStream;
    const AviStreamIndex& index = audio ? reader->audioIndex : reader->videoIndex;
    SampleRequest req{&index, h, start, count, buffer, *size, false};
    SampleResult result;
    if (VXRESULT err = read_samples(reader, req,
                                    {site::vfw::kDataNotIndexed, site::vfw::kDataVariable,
                                     site::vfw::kDataBuffer, site::vfw::kDataRead},
                                    &result))
        return err;
    *size = result.bytes;
    if (flags != nullptr) *flags = result.flags;
    if (chunkId != nullptr) *chunkId = index.chunkId;
    return 0;
}

VXAPI VXRESULT VXCALL aviReadAudSamples(AviReader* reader, uint32_t start, uint32_t* count,
                                        void* buffer, uint32_t* size) {
    if (reader == nullptr || count == nullptr || size == nullptr)
        return record(AVIERR_BADPARAM, site::vfw::kAudioSamples);
    const AVIStreamHeader* h = stream_header(reader, reader->audioStream);
    if (h == nullptr) return record(AVIERR_INTERNAL, site::vfw::kAudioSamples);
    const uint32_t d = h->dwSampleSize;
    if (d == 0) return 1;
    const uint64_t end = static_cast<uint64_t>(h->dwStart) + h->dwLength;
    uint64_t n = *size / d;
    if (start >= end) {
        n = 0;
    } else if (start + n > end) {
        n = end - start;
    }
    *count = static_cast<uint32_t>(n);
    *size = static_cast<uint32_t>(n * d);
    if (n == 0) return 0;
    SampleRequest req{&reader->audioIndex, h, start, *count, buffer, *size, true};
    SampleResult result;
    return read_samples(reader, req,
                        {site::vfw::kAudioSamples, site::vfw::kAudioVariable,
                         site::vfw::kAudioBuffer, site::vfw::kAudioRead},
                        &result);
}

VXAPI VXRESULT VXCALL aviFindKeyFrame(AviReader* reader, uint32_t* position) {
    if (reader == nullptr || position == nullptr)
        return record(AVIERR_BADPARAM, site::vfw::kKeyFrame);
    if (reader->indexFlags == 0) return 0;
    const AVIStreamHeader* h = stream_header(reader, reader->videoStream);
    const AviStreamIndex& index = reader->videoIndex;
    if (h == nullptr || index.count == 0 || index.entries == nullptr)
        return record(AVIERR_BADPARAM, site::vfw::kKeyFrame);
    if (*position < h->dwStart) return record(AVIERR_BADPARAM, site::vfw::kKeyFrameBeforeStart);
    int64_t p = *position;
    const int64_t end = static_cast<int64_t>(h->dwStart) + h->dwLength;
    if (p >= end) p = end - 1;
    if (p >= static_cast<int64_t>(index.count)) p = index.count - 1;
    if (p < 0) p = 0;
    while (p > 0 && !(index.entries[p].flags & AVIIF_KEYFRAME)) --p;
    *position = static_cast<uint32_t>(p);
    return 0;
}

VXAPI VXRESULT VXCALL aviGetVideoFrameData(AviReader* reader, AviFrameInfo* info, uint32_t* size) {
    if (reader == nullptr || (info == nullptr && size == nullptr))
        return record(AVIERR_BADPARAM, site::vfw::kFrameDataArgs);
    const AviStreamIndex& index = reader->videoIndex;
    if (info == nullptr) {
        *size = index.count * static_cast<uint32_t>(sizeof(AviFrameInfo));
        return 0;
    }
    for (uint32_t i = 0; i < index.count; ++i) {
        info[i].flags = (index.entries[i].flags & AVIIF_KEYFRAME) ? 0x80000001u : 1u;
        info[i].size = index.entries[i].size;
    }
    return 0;
}

VXAPI VXRESULT VXCALL aviGetStreamSummary(AviReader* reader, int32_t stream,
                                          AviStreamSummary* summary) {
    if (summary != nullptr) std::memset(summary, 0, sizeof *summary);
    if (reader == nullptr || summary == nullptr || stream < 0)
        return record(AVIERR_BADPARAM, site::vfw::kSummary);
    const AviStreamIndex* index = nullptr;
    if (stream == reader->videoStream)
        index = &reader->videoIndex;
    else if (stream == reader->audioStream)
        index = &reader->audioIndex;
    else
        return record(AVIERR_BADPARAM, site::vfw::kSummary);
    uint64_t total = 0;
    summary->entries = index->count;
    for (uint32_t i = 0; i < index->count; ++i) {
        const AviIndexEntry& e = index->entries[i];
        total += e.size;
        if (e.size == 0)
            ++summary->emptyEntries;
        else if (e.flags != 0)
            ++summary->keyEntries;
        else
            ++summary->deltaEntries;
    }
    summary->totalBytesLow = static_cast<uint32_t>(total);
    summary->totalBytesHigh = static_cast<uint32_t>(total >> 32);
    return 0;
}
