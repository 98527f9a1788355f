// The one walk over RIFF chunks: enter / find / leave and a bounded
// visit of a list's children, with 64-bit positions. Every chunk's extent is
// bounded by the file's size, and a walk never leaves its parent.
//
// The walker reads through any source with
//   uint64_t size() const;
//   bool read(uint64_t position, void* buffer, uint32_t count) const;
// (the host's file for the library, the tool's input file, bytes in memory
// for tests and fuzzers), reading exactly `count` bytes or failing.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "util/byte_io.h"

namespace vx {

inline bool is_list_id(uint32_t id) { return id == fourcc("RIFF") || id == fourcc("LIST"); }

struct RiffChunk {
    uint32_t id = 0;
    uint32_t size = 0;      // declared data size, type word included for lists
    uint32_t listType = 0;  // form or list type of "RIFF"/"LIST", else 0
    bool typed = false;     // a "RIFF"/"LIST" whose type word was read
    uint64_t headerPos = 0;
    uint64_t end = 0;  // end of the data, bounded by the file size

    uint64_t dataPos() const { return headerPos + 8; }
    // Where a list's members start.
    uint64_t membersPos() const { return dataPos() + (typed ? 4 : 0); }
    uint64_t declaredEnd() const { return headerPos + 8 + size; }
    // The next chunk's header: past the data, rounded up to an even length.
    uint64_t next() const { return declaredEnd() + (size & 1u); }
    bool isList() const { return listType != 0; }
    // Bytes of data (from dataPos) that the file really holds.
    uint64_t available() const { return end - dataPos(); }
    bool truncated() const { return end < declaredEnd(); }
};

// Bytes in memory as a walker's source.
class MemorySource {
public:
    MemorySource(const void* data, std::size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(data ? size : 0) {}
    uint64_t size() const { return size_; }
    bool read(uint64_t position, void* buffer, uint32_t count) const {
        if (position > size_ || count > size_ - position) return false;
        if (count != 0) std::memcpy(buffer, data_ + position, count);
        return true;
    }

private:
    const unsigned char* data_;
    std::size_t size_;
};

template <class Source>
class BasicRiffWalker {
public:
    explicit BasicRiffWalker(const Source& source) : src_(source) {}

    uint64_t position() const { return pos_; }
    void seek(uint64_t position) { pos_ = position; }
    const Source& file() const { return src_; }

    // The chunk whose header starts at `position`, when that header lies
    // before `limit` and in the file. A list too small for its type word
    // reads as a plain chunk.
    bool at(uint64_t position, uint64_t limit, RiffChunk* out) const {
        limit = std::min<uint64_t>(limit, src_.size());
        unsigned char h[12];
        if (position > limit || limit - position < 8 || !src_.read(position, h, 8)) return false;
        RiffChunk c;
        c.id = le32(h);
        c.size = le32(h + 4);
        c.headerPos = position;
        c.end = std::min<uint64_t>(c.declaredEnd(), src_.size());
        if (is_list_id(c.id) && c.size >= 4 && src_.read(c.dataPos(), h + 8, 4)) {
            c.listType = le32(h + 8);
            c.typed = true;
        }
        *out = c;
        return true;
    }

    // Enters the chunk at the current position (a list past its type word).
    // False at the end.
    bool enter(uint64_t limit, RiffChunk* out) {
        if (!at(pos_, limit, out)) return false;
        pos_ = out->membersPos();
        return true;
    }
    // Enters chunks in turn, leaving those that do not match, until one with
    // `id` (and `listType`, when non-zero) is entered.
    bool find(uint64_t limit, uint32_t id, uint32_t listType, RiffChunk* out) {
        RiffChunk c;
        while (enter(limit, &c)) {
            if (c.id == id && (listType == 0 || c.listType == listType)) {
                *out = c;
                return true;
            }
            leave(c);
        }
        return false;
    }
    // Moves past the chunk's data, rounded up to an even length.
    void leave(const RiffChunk& chunk) { pos_ = chunk.next(); }

    // Reads `count` bytes of the chunk's data from `offset`; false when they
    // are not all in the chunk and the file.
    bool read(const RiffChunk& chunk, uint64_t offset, void* buffer, uint32_t count) const {
        if (offset > chunk.size || count > chunk.size - offset) return false;
        return src_.read(chunk.dataPos() + offset, buffer, count);
    }

    // Calls f(chunk) for the chunks from `begin` whose headers lie before
    // `end`, in order, until f returns false. Damaged files can hold any
    // number of tiny chunks: the visit stops after `maxSteps`.
    template <class F>
    void children(uint64_t begin, uint64_t end, F&& f, std::size_t maxSteps = kMaxSteps) const {
        RiffChunk c;
        uint64_t p = begin;
        for (std::size_t step = 0; step < maxSteps && at(p, end, &c); ++step) {
            if (!f(c)) return;
            p = c.next();
        }
    }
    // The members of a list, bounded by it and the file.
    template <class F>
    void members(const RiffChunk& list, F&& f) const {
        children(list.membersPos(), list.end, static_cast<F&&>(f));
    }

    static constexpr std::size_t kMaxSteps = std::size_t{1} << 20;

private:
    const Source& src_;
    uint64_t pos_ = 0;
};

}  // namespace vx
