// Little-endian records built in memory: the header list at close, and the
// index chunks at the end of a segment, piece by piece.
#pragma once

#include <cstdint>
#include <cstring>

#include "util/byte_io.h"

namespace vx::writer {

// Little-endian output into a block sized beforehand.
class ListBuilder {
public:
    explicit ListBuilder(uint8_t* out) : out_(out) {}
    void u8(uint8_t v) { out_[at_++] = v; }
    void u16(uint16_t v) {
        put16(out_ + at_, v);
        at_ += 2;
    }
    void u32(uint32_t v) {
        put32(out_ + at_, v);
        at_ += 4;
    }
    void u64(uint64_t v) {
        put64(out_ + at_, v);
        at_ += 8;
    }
    void bytes(const void* p, uint32_t n) {
        if (n != 0) std::memcpy(out_ + at_, p, n);
        at_ += n;
    }
    void zeros(uint32_t n) {
        std::memset(out_ + at_, 0, n);
        at_ += n;
    }
    // A chunk written whole, padded to an even length.
    void chunk(uint32_t id, const void* p, uint32_t n) {
        u32(id);
        u32(n);
        bytes(p, n);
        if (n & 1) u8(0);
    }
    // Opens a list; close_list() fills in its size.
    uint32_t open_list(uint32_t id, uint32_t type) {
        const uint32_t start = at_;
        u32(id);
        u32(0);
        u32(type);
        return start;
    }
    void close_list(uint32_t start) { put32(out_ + start + 4, at_ - start - 8); }
    uint32_t size() const { return at_; }

private:
    uint8_t* out_;
    uint32_t at_ = 0;
};

}  // namespace vx::writer
