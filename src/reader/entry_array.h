// A growable array of index entries in malloc'd memory, handed over to an
// AviStreamIndex (whose owner frees it with free()) once complete.
#pragma once

#include <cstdint>
#include <cstdlib>

#include <vxmedia/avireader.h>

namespace vx::reader {

class EntryArray {
public:
    EntryArray() = default;
    EntryArray(const EntryArray&) = delete;
    EntryArray& operator=(const EntryArray&) = delete;
    ~EntryArray() { std::free(data_); }

    uint64_t count() const { return count_; }
    uint64_t capacity() const { return capacity_; }

    // Room for at least `capacity` entries; false when out of memory.
    bool reserve(uint64_t capacity) {
        if (capacity <= capacity_) return true;
        if (capacity > SIZE_MAX / sizeof(AviIndexEntry)) return false;
        auto* grown = static_cast<AviIndexEntry*>(
            std::realloc(data_, static_cast<std::size_t>(capacity) * sizeof(AviIndexEntry)));
        if (grown == nullptr) return false;
        data_ = grown;
        capacity_ = capacity;
        return true;
    }
    // Room for `more` entries past the count, growing by half when needed so
    // that repeated appends stay linear.
    bool make_room(uint64_t more) {
        const uint64_t need = count_ + more;
        if (need <= capacity_) return true;
        const uint64_t grown = capacity_ + capacity_ / 2;
        return reserve(need + 10 > grown ? need + 10 : grown);
    }
    AviIndexEntry* tail() { return data_ + count_; }
    void grow_count(uint64_t n) { count_ += n; }
    void push(const AviIndexEntry& e) { data_[count_++] = e; }

    // Moves the entries into `index` (count must fit 32 bits).
    void hand_to(AviStreamIndex* index, uint32_t chunkId) {
        index->count = static_cast<uint32_t>(count_);
        index->chunkId = chunkId;
        index->entries = count_ ? data_ : nullptr;
        if (count_ == 0) std::free(data_);
        data_ = nullptr;
        count_ = capacity_ = 0;
    }

private:
    AviIndexEntry* data_ = nullptr;
    uint64_t count_ = 0;
    uint64_t capacity_ = 0;
};

}  // namespace vx::reader
