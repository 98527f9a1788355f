// Adding new bytes to an existing file: into the writer's filler behind the
// header list first, else into the padding in front of the movie list, else
// at the end of the last RIFF form, else in a new "AVIX" form once that form
// would pass 2 GiB.
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "chunks/chunk_tree.h"
#include "util/byte_io.h"

namespace vx::chunks {

// No room could be made: no filler fits and the file cannot be extended.
inline constexpr int32_t kNoRoom = 1;

// A new chunk or list: `head` (its header, `headSize` bytes) then `body`
// (`bodySize` bytes) and a zero pad byte when the total is odd.
struct NewChunk {
    const unsigned char* head = nullptr;
    uint32_t headSize = 0;
    const void* body = nullptr;
    uint32_t bodySize = 0;
};

// A new list of at most `Capacity` bytes, built in place: its header, then
// each (id, bytes) chunk; as_new() gives the list as header and body.
template <uint32_t Capacity>
class NewList {
public:
    explicit NewList(FOURCC type) : start_(b_.open_list(fourcc("LIST"), type)) {}
    void chunk(FOURCC id, const void* data, uint32_t size) { b_.chunk(id, data, size); }
    // Null when the chunks did not fit.
    std::optional<NewChunk> as_new() {
        b_.close_list(start_);
        if (b_.overflow()) return std::nullopt;
        return NewChunk{bytes_, 12, bytes_ + 12, static_cast<uint32_t>(b_.size() - 12)};
    }

private:
    unsigned char bytes_[Capacity] = {};
    ByteWriter b_{bytes_, Capacity};
    std::size_t start_;
};

// Where the chunks of one edit go, settled on a copy of the map before the
// first byte is written, so that an edit that has no room for one of its
// chunks writes none of them.
class RoomPlan {
public:
    // False when a chunk has no room (or the copy of the map could not be
    // made); nothing is written either way.
    bool make(const ChunkTree& tree, const NewChunk* chunks, std::size_t count);
    // Writes the planned chunks in order, each header last, so that a failure
    // part way leaves the old structure in force. Returns 0, kNoRoom, or the
    // failing host write's result; on success `tree` follows the file's new
    // layout.
    int32_t write(HANDLE file, ChunkTree& tree);

private:
    struct Placement {
        enum class Kind { kFiller, kGrowForm, kNewForm } kind = Kind::kFiller;
        uint64_t at = 0;  // the chunk's header; a new form's header for kNewForm
        uint64_t n = 0;   // the chunk's bytes, pad byte included
        // kFiller: the rest of a split filler keeps its id behind the chunk.
        bool split = false;
        FOURCC restId = 0;
        uint32_t restSize = 0;
        // kGrowForm: the last form's header and its new size field.
        uint64_t formAt = 0;
        uint32_t formSize = 0;
    };

    // Each takes `n` bytes from the map `t` as the write will; false when
    // there is no room.
    static bool take_filler(ChunkTree& t, FOURCC id, uint64_t n, Placement* p);
    static bool place(ChunkTree& t, uint64_t n, Placement* p);

    std::vector<NewChunk> chunks_;
    std::vector<Placement> placements_;
    ChunkTree after_;  // the map once every chunk is written
};

// Adds every chunk or, when one of them has no room, none (kNoRoom).
int32_t add_chunks(HANDLE file, ChunkTree& tree, const NewChunk* chunks, std::size_t count);

inline int32_t add_chunk(HANDLE file, ChunkTree& tree, const unsigned char* head, uint32_t headSize,
                         const void* body, uint32_t bodySize) {
    const NewChunk c{head, headSize, body, bodySize};
    return add_chunks(file, tree, &c, 1);
}

}  // namespace vx::chunks
