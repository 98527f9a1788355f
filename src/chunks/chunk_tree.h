// The flat map of an existing AVI file's chunks: every chunk of its RIFF
// forms and their lists, in file order, a list's record before its members.
// The walk reads chunk headers only and never descends into "movi".
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vx::chunks {

class ChunkFile;

struct ChunkRecord {
    // Plain chunk: its data. RIFF or LIST: just after the type. "movi": just
    // after the whole list.
    uint64_t position = 0;
    FOURCC ckid = 0;        // "RIFF", "LIST", "movi" or the chunk's id
    uint32_t size = 0;      // plain: size field; RIFF/LIST: size field - 4; movi: size field
    FOURCC parentType = 0;  // type of the enclosing form or list; 0 for RIFF
    // End of the enclosing form or list, cut to the end of the file: the
    // chunk may only be rewritten when it lies inside this.
    uint64_t parentEnd = 0;

    // The record's bytes [position, position + size) lie inside its parent.
    bool inside_parent() const { return position <= parentEnd && size <= parentEnd - position; }
};

enum class BuildResult { kOk, kNoMemory };

class ChunkTree {
public:
    // Walks the file from its start. A file that does not start with a RIFF
    // form gives an empty map. kNoMemory leaves no partial map behind.
    BuildResult build(HANDLE file);

    bool empty() const { return records_.empty(); }
    std::size_t count() const { return records_.size(); }
    const ChunkRecord& operator[](std::size_t i) const { return records_[i]; }
    ChunkRecord& operator[](std::size_t i) { return records_[i]; }

    // The first record from `from` whose id and container type match (0
    // matches anything); count() when there is none.
    std::size_t find(FOURCC ckid, FOURCC parentType, std::size_t from = 0) const;
    const ChunkRecord* lookup(FOURCC ckid, FOURCC parentType) const {
        const std::size_t i = find(ckid, parentType);
        return i < count() ? &records_[i] : nullptr;
    }

    void erase(std::size_t i) { records_.erase(records_.begin() + static_cast<std::ptrdiff_t>(i)); }
    bool add(const ChunkRecord& r);

    uint64_t fileEnd = 0;
    uint64_t lastRiffPosition = 0;  // header of the last RIFF form
    uint32_t lastRiffSize = 0;      // its size field
    // The walk of the last form reached its end exactly: bytes added there
    // will be found by the next walk.
    bool lastRiffWalked = false;
    std::size_t cursor = 0;  // next record for vfwGetNextChunk

    // Tests: the map fails as if memory ran out once it would hold more
    // than `limit` records (0: no limit).
    static void set_record_limit_for_testing(std::size_t limit);

private:
    // `*complete`: the walk ended exactly at `end`.
    bool walk(const ChunkFile& file, FOURCC type, uint64_t begin, uint64_t end, int depth,
              bool* complete);

    std::vector<ChunkRecord> records_;
};

}  // namespace vx::chunks
