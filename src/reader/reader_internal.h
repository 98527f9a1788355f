// Pieces of the reader shared between opening, index loading and sample reads.
#pragma once

#include <vxmedia/avireader.h>

#include <cstdint>

#include "reader/host_file.h"
#include "util/byte_io.h"
#include "util/riff_walker.h"

namespace vx::reader {

using RiffWalker = BasicRiffWalker<HostFile>;

inline bool is_video_type(uint32_t fcc) { return fcc == fourcc("vids") || fcc == fourcc("iavs"); }
inline bool is_audio_type(uint32_t fcc) { return fcc == fourcc("auds"); }

inline ByteReader format_reader(const AviStreamRecord& s) {
    return ByteReader(s.format, s.formatSize);
}

// Loads an "indx" chunk (super index or inline standard index) into `target`.
// Returns 0 or the recorded error; on failure `target` is empty.
VXRESULT load_odml_index(AviReader* reader, RiffWalker& walker, const RiffChunk& indx,
                         const AviStreamRecord& stream, AviStreamIndex* target);

// Loads "idx1" after the movie list, or rebuilds an index by walking the
// movie list when there is no usable "idx1". Returns 0 or a recorded error.
VXRESULT load_classic_index(AviReader* reader, RiffWalker& walker, const RiffChunk& movi,
                            const RiffChunk& form);

void clear_index(AviStreamIndex* index);

// Frees everything the reader owns except the reader itself.
void release_contents(AviReader* reader);

}  // namespace vx::reader
