// Adding new bytes to an existing file: into the writer's filler behind the
// header list first, else at the end of the last RIFF form, else in a new
// "AVIX" form once that form would pass 2 GiB.
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstdint>

#include "chunks/chunk_tree.h"

namespace vx::chunks {

// No room could be made: no filler fits and the file cannot be extended.
inline constexpr int32_t kNoRoom = 1;

// Writes a new chunk or list: `head` (its header, `headSize` bytes) then
// `body` (`bodySize` bytes) and a zero pad byte when the total is odd. The
// header is written last, so a failure part way leaves the old structure in
// force. Returns 0, kNoRoom, or the failing host write's result; updates the
// map to the file's new layout.
int32_t add_chunk(HANDLE file, ChunkTree& tree, const unsigned char* head, uint32_t headSize,
                  const void* body, uint32_t bodySize);

}  // namespace vx::chunks
