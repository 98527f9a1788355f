#include "chunks/chunk_io.h"

namespace vx::chunks {

bool file_end(HANDLE file, uint64_t* end) {
    const int64_t zero = 0;
    int64_t at = 0;
    if (SetFilePointer64(file, &zero, &at, 2) != 0 || at < 0) return false;
    *end = static_cast<uint64_t>(at);
    return true;
}

}  // namespace vx::chunks
