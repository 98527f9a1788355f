// The in-memory index of the current segment. A chunk costs 12 bytes: its
// offset, its length and the number of its (id, flags) pair, which is kept
// once however many chunks share it (a stream has one id and a few flag
// values). Entries live in blocks that never move, so growing the index
// copies nothing and leaves at most one block of slack.
//
// The object is valid zero-filled (the writer is allocated with calloc) and
// owns plain allocations that release() frees.
#pragma once

#include <cstdint>

namespace vx::writer {

struct IndexEntry {
    uint32_t offset;  // from the segment's RIFF header
    uint32_t length;
    uint32_t kind;  // number of the (id, flags) pair
};

struct IndexKind {
    uint32_t ckid;
    uint32_t flags;
};

class SegmentIndex {
public:
    static constexpr uint32_t kBlockEntries = 2048;

    // False when memory runs out or the count would pass 32 bits.
    bool add(uint32_t ckid, uint32_t flags, uint32_t offset, uint32_t length);
    // Forgets the entries and keeps the blocks for the next segment.
    void clear() { count_ = 0; }
    void release();
    // Adds one block of room; the writer takes the first one at open.
    bool grow();

    uint32_t count() const { return count_; }
    uint64_t capacity() const { return uint64_t{blockCount_} * kBlockEntries; }
    // The block table, for the writer record's `entries`.
    void* blocks() const { return blocks_; }

    IndexEntry& at(uint32_t i) { return blocks_[i / kBlockEntries][i % kBlockEntries]; }
    const IndexEntry& at(uint32_t i) const { return blocks_[i / kBlockEntries][i % kBlockEntries]; }
    const IndexKind& kind(uint32_t k) const { return kinds_[k]; }
    uint32_t kind_count() const { return kindCount_; }

private:
    // The pair's number, adding it when new; UINT32_MAX when memory runs out.
    uint32_t kind_of(uint32_t ckid, uint32_t flags);
    bool grow_kinds();

    IndexEntry** blocks_;
    uint32_t blockCount_;
    uint32_t blockSlots_;
    uint32_t count_;

    IndexKind* kinds_;
    uint32_t kindCount_;
    uint32_t kindSlots_;
    // Open addressing over kinds_: 0 is an empty slot, else kind number + 1.
    uint32_t* hash_;
    uint32_t hashSize_;  // a power of two, at least twice kindSlots_
    uint32_t lastKind_;  // most chunks repeat the pair of the one before
};

}  // namespace vx::writer
