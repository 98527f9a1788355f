// Reading the data of a mapped chunk: small fixed-size reads only, never past
// the chunk's own size.
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstdint>

#include "chunks/chunk_tree.h"

namespace vx::chunks {

// The chunk's text, up to its first NUL or its end, cut to `field` - 1
// characters, into `out` (`field` bytes, NUL-terminated). False when the
// chunk could not be read; `out` is then empty.
bool read_text(HANDLE file, const ChunkRecord& r, char* out, uint32_t field);

// Overwrites the chunk's data from its start with `count` bytes of `data`
// (cut to the chunk's size), when the chunk lies inside its parent.
int32_t overwrite(HANDLE file, const ChunkRecord& r, const void* data, uint32_t count);

}  // namespace vx::chunks
