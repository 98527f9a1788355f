#include "chunks/chunk_text.h"

#include <algorithm>
#include <cstring>

#include "chunks/chunk_io.h"

namespace vx::chunks {

bool read_text(HANDLE file, const ChunkRecord& r, char* out, uint32_t field) {
    std::memset(out, 0, field);
    const uint32_t count = std::min(r.size, field - 1);
    if (count == 0) return true;
    if (read_at(file, out, count, r.position) != 0) {
        std::memset(out, 0, field);
        return false;
    }
    out[count] = '\0';
    return true;
}

int32_t overwrite(HANDLE file, const ChunkRecord& r, const void* data, uint32_t count) {
    if (!r.inside_parent()) return VXHOST_PARAMERR;
    count = std::min(count, r.size);
    return count == 0 ? 0 : write_at(file, data, count, r.position);
}

}  // namespace vx::chunks
