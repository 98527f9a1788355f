// File access of the chunk exports: positional reads and writes through the
// host's file calls, and the mapping of host results to export results.
#pragma once

#include <VexaInfo.h>

#include <cstdint>

#include "util/byte_io.h"

namespace vx::chunks {

using vx::put32;

inline bool no_file(HANDLE file) { return file == INVALID_HANDLE_VALUE || file == nullptr; }

// The host calls take the position as a signed 64-bit value.
inline bool position_ok(uint64_t position, uint64_t count) {
    return position <= static_cast<uint64_t>(INT64_MAX) - count;
}

inline int32_t read_at(HANDLE file, void* buffer, uint32_t count, uint64_t position) {
    if (!position_ok(position, count)) return VXHOST_PARAMERR;
    const int64_t at = static_cast<int64_t>(position);
    return VxPRead(file, buffer, count, &at);
}

inline int32_t write_at(HANDLE file, const void* buffer, uint32_t count, uint64_t position) {
    if (!position_ok(position, count)) return VXHOST_PARAMERR;
    const int64_t at = static_cast<int64_t>(position);
    return VxPWrite(file, buffer, count, &at);
}

// The file's length, or false when it cannot be found.
bool file_end(HANDLE file, uint64_t* end);

// The open file up to `end` as a RIFF walker's source.
class ChunkFile {
public:
    ChunkFile(HANDLE file, uint64_t end) : file_(file), end_(end) {}
    uint64_t size() const { return end_; }
    bool read(uint64_t position, void* buffer, uint32_t count) const {
        return position <= end_ && count <= end_ - position &&
               read_at(file_, buffer, count, position) == 0;
    }

private:
    HANDLE file_;
    uint64_t end_;
};

// Setters return 16-bit results: a host failure keeps its low 16 bits, but
// never reads as success when those bits happen to be 0.
inline int32_t setter_result(int32_t hostResult) {
    if (hostResult == 0) return 0;
    const auto low = static_cast<int16_t>(static_cast<uint32_t>(hostResult) & 0xFFFFu);
    return low == 0 ? 1 : low;
}

}  // namespace vx::chunks
