#include "writer/segment_index.h"

#include <cstdlib>

namespace vx::writer {

namespace {

uint32_t hash_pair(uint32_t ckid, uint32_t flags) {
    uint32_t h = ckid * 0x9E3779B1u ^ (flags + 0x7F4A7C15u) * 0x85EBCA77u;
    return h ^ (h >> 15);
}

}  // namespace

bool SegmentIndex::grow() {
    if (blockCount_ == blockSlots_) {
        // The table itself is small: 4 bytes a block of 2048 entries.
        const uint32_t slots = blockSlots_ == 0 ? 16 : blockSlots_ * 2;
        void* grown = std::realloc(blocks_, static_cast<size_t>(slots) * sizeof(IndexEntry*));
        if (grown == nullptr) return false;
        blocks_ = static_cast<IndexEntry**>(grown);
        blockSlots_ = slots;
    }
    auto* block = static_cast<IndexEntry*>(std::malloc(kBlockEntries * sizeof(IndexEntry)));
    if (block == nullptr) return false;
    blocks_[blockCount_++] = block;
    return true;
}

bool SegmentIndex::grow_kinds() {
    const uint32_t slots = kindSlots_ == 0 ? 8 : kindSlots_ * 2;
    if (slots > (UINT32_MAX >> 2)) return false;
    void* grown = std::realloc(kinds_, static_cast<size_t>(slots) * sizeof(IndexKind));
    if (grown == nullptr) return false;
    kinds_ = static_cast<IndexKind*>(grown);
    kindSlots_ = slots;

    const uint32_t size = slots * 2;
    auto* hash = static_cast<uint32_t*>(std::calloc(size, sizeof(uint32_t)));
    if (hash == nullptr) return false;
    for (uint32_t k = 0; k < kindCount_; ++k) {
        uint32_t at = hash_pair(kinds_[k].ckid, kinds_[k].flags) & (size - 1);
        while (hash[at] != 0) at = (at + 1) & (size - 1);
        hash[at] = k + 1;
    }
    std::free(hash_);
    hash_ = hash;
    hashSize_ = size;
    return true;
}

uint32_t SegmentIndex::kind_of(uint32_t ckid, uint32_t flags) {
    if (lastKind_ < kindCount_ && kinds_[lastKind_].ckid == ckid &&
        kinds_[lastKind_].flags == flags)
        return lastKind_;
    if (hashSize_ != 0) {
        uint32_t at = hash_pair(ckid, flags) & (hashSize_ - 1);
        for (; hash_[at] != 0; at = (at + 1) & (hashSize_ - 1)) {
            const uint32_t k = hash_[at] - 1;
            if (kinds_[k].ckid == ckid && kinds_[k].flags == flags) return lastKind_ = k;
        }
    }
    if (kindCount_ == kindSlots_ && !grow_kinds()) return UINT32_MAX;
    const uint32_t k = kindCount_++;
    kinds_[k] = {ckid, flags};
    uint32_t at = hash_pair(ckid, flags) & (hashSize_ - 1);
    while (hash_[at] != 0) at = (at + 1) & (hashSize_ - 1);
    hash_[at] = k + 1;
    return lastKind_ = k;
}

bool SegmentIndex::add(uint32_t ckid, uint32_t flags, uint32_t offset, uint32_t length) {
    if (count_ == UINT32_MAX) return false;
    if (count_ == capacity() && !grow()) return false;
    const uint32_t kind = kind_of(ckid, flags);
    if (kind == UINT32_MAX) return false;
    at(count_++) = {offset, length, kind};
    return true;
}

void SegmentIndex::release() {
    for (uint32_t i = 0; i < blockCount_; ++i) std::free(blocks_[i]);
    std::free(blocks_);
    std::free(kinds_);
    std::free(hash_);
    *this = SegmentIndex{};
}

}  // namespace vx::writer
