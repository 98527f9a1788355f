// Reading samples by number: the entry lookup and the chunk-by-chunk copy
// shared by raw data reads and audio sample reads.
#pragma once

#include <vxmedia/avireader.h>

#include <cstdint>

#include "util/error_sites.h"

namespace vx::reader {

// Report sites of one caller of read_samples.
struct SampleReadSites {
    const vx::ErrorSite& notFound;
    const vx::ErrorSite& unsupported;
    const vx::ErrorSite& tooSmall;
    const vx::ErrorSite& readFailed;
};

struct SampleRequest {
    const AviStreamIndex* index;
    const AVIStreamHeader* header;
    uint32_t start;
    uint32_t count;
    void* buffer;           // may be null: only the byte count is wanted
    uint32_t bufferSize;    // bytes the buffer holds
    bool useAudioCursor;    // continue from the reader's audio cursor
};

struct SampleResult {
    uint32_t bytes = 0;
    uint32_t flags = 0;  // of the entry holding `start`
};

// 0 or the recorded error. On failure after the byte count is known,
// `result->bytes` still holds it.
VXRESULT read_samples(AviReader* reader, const SampleRequest& req, const SampleReadSites& sites,
                      SampleResult* result);

// Whether the file holds the bytes of the video frame at an absolute index
// position (clamped to the index), before they size a buffer.
bool frame_in_file(const AviReader* reader, int64_t position);

// The frame read at an absolute video index position (clamped to the index).
VXRESULT read_frame_at(AviReader* reader, int64_t position, void* buffer, uint32_t* size,
                       uint32_t* flags, const vx::ErrorSite& site);

}  // namespace vx::reader
