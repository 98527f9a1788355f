// Enter / find / leave over the chunks of a RIFF file, with 64-bit positions,
// reading through the host's positioned reads. Every chunk's extent is
// bounded by the file size; a walk never leaves its parent.
#pragma once

#include <cstdint>

#include "reader/host_file.h"

namespace vx {

struct RiffChunk {
    uint32_t id = 0;
    uint32_t size = 0;      // declared data size, type word included for lists
    uint32_t listType = 0;  // form or list type of "RIFF"/"LIST", else 0
    uint64_t headerPos = 0;
    uint64_t end = 0;  // end of the data, bounded by the file size

    uint64_t dataPos() const { return headerPos + 8; }
    uint64_t declaredEnd() const { return headerPos + 8 + size; }
    bool isList() const { return listType != 0; }
    // Bytes of data (from dataPos) that the file really holds.
    uint64_t available() const { return end - dataPos(); }
    bool truncated() const { return end < declaredEnd(); }
};

class RiffWalker {
public:
    explicit RiffWalker(const HostFile& file) : file_(file) {}

    uint64_t position() const { return pos_; }
    void seek(uint64_t position) { pos_ = position; }
    const HostFile& file() const { return file_; }

    // Enters the chunk at the current position when its header lies before
    // `limit` (a list is entered past its type word). False at the end.
    bool enter(uint64_t limit, RiffChunk* out);
    // Enters chunks in turn, leaving those that do not match, until one with
    // `id` (and `listType`, when non-zero) is entered.
    bool find(uint64_t limit, uint32_t id, uint32_t listType, RiffChunk* out);
    // Moves past the chunk's data, rounded up to an even length.
    void leave(const RiffChunk& chunk);

    // Reads `count` bytes of the chunk's data from `offset`; false when they
    // are not all in the file.
    bool read(const RiffChunk& chunk, uint64_t offset, void* buffer, uint32_t count) const;

private:
    const HostFile& file_;
    uint64_t pos_ = 0;
};

bool is_list_id(uint32_t id);

}  // namespace vx
