// Little-endian fields in byte buffers: the raw loads and stores,
// four-character codes, and the one bounded reader and writer that every
// record read from a file or built for one goes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace vx {

inline uint16_t le16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t le64(const unsigned char* p) {
    return static_cast<uint64_t>(le32(p)) | (static_cast<uint64_t>(le32(p + 4)) << 32);
}

inline void put16(unsigned char* p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void put32(unsigned char* p, uint32_t v) {
    put16(p, static_cast<uint16_t>(v));
    put16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void put64(unsigned char* p, uint64_t v) {
    put32(p, static_cast<uint32_t>(v));
    put32(p + 4, static_cast<uint32_t>(v >> 32));
}

inline constexpr uint32_t fourcc(const char (&s)[5]) {
    return static_cast<uint32_t>(static_cast<unsigned char>(s[0])) |
           (static_cast<uint32_t>(static_cast<unsigned char>(s[1])) << 8) |
           (static_cast<uint32_t>(static_cast<unsigned char>(s[2])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(s[3])) << 24);
}

// The two upper-case hex digits that number stream `stream` (0 to 255) in
// chunk ids, "0A" for stream 10, as the low half of a FOURCC: "0Awb" is
// stream_prefix(10) | 'w' << 16 | 'b' << 24.
inline constexpr uint16_t stream_prefix(uint32_t stream) {
    constexpr char kHex[] = "0123456789ABCDEF";
    return static_cast<uint16_t>(static_cast<unsigned char>(kHex[(stream >> 4) & 0xF]) |
                                 static_cast<unsigned char>(kHex[stream & 0xF]) << 8);
}

// Reads little-endian fields from a bounded block of bytes (a stream format,
// an index chunk, a header read from a file) by offset, or field after field
// into a record. A read past the end gives 0, so a stored record shorter than
// its structure reads as zero-filled.
class ByteReader {
public:
    ByteReader(const void* data, std::size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(data ? size : 0) {}

    std::size_t size() const { return size_; }
    const unsigned char* data() const { return data_; }
    bool has(std::size_t offset, std::size_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }

    uint8_t u8(std::size_t off) const { return has(off, 1) ? data_[off] : 0; }
    uint16_t u16(std::size_t off) const { return has(off, 2) ? le16(data_ + off) : 0; }
    uint32_t u32(std::size_t off) const { return has(off, 4) ? le32(data_ + off) : 0; }
    uint64_t u64(std::size_t off) const { return has(off, 8) ? le64(data_ + off) : 0; }

    // Reads the next integer field of a stored record. The bytes there
    // replace the field's own from its low end: a stored record cut short
    // sets what it holds and leaves the rest of the field as it was.
    template <class T>
    void field(T& v) {
        static_assert(sizeof(T) == 1 || sizeof(T) == 2 || sizeof(T) == 4, "integer field");
        auto u = static_cast<uint32_t>(v);
        for (std::size_t i = 0; i < sizeof(T) && has(at_, i + 1); ++i) {
            const uint32_t shift = 8 * static_cast<uint32_t>(i);
            u = (u & ~(0xFFu << shift)) | static_cast<uint32_t>(data_[at_ + i]) << shift;
        }
        v = static_cast<T>(u);
        at_ += sizeof(T);
    }
    // The fields of a record, in their stored order.
    template <class... T>
    void fields(T&... v) {
        (field(v), ...);
    }

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t at_ = 0;  // the next field's offset
};

// Writes little-endian fields into a block of fixed capacity. A write that
// does not fit is dropped and sets a sticky overflow flag that the caller
// checks once, after building; the position still counts every byte, so a
// writer over no block (measure()) gives the size a build needs.
class ByteWriter {
public:
    ByteWriter(void* out, std::size_t capacity)
        : out_(static_cast<unsigned char*>(out)), capacity_(out ? capacity : 0) {}
    static ByteWriter measure() { return ByteWriter(nullptr, 0, true); }

    std::size_t size() const { return at_; }
    bool overflow() const { return overflow_; }

    void u8(uint8_t v) {
        unsigned char b[1] = {v};
        put(b, 1);
    }
    void u16(uint16_t v) {
        unsigned char b[2];
        put16(b, v);
        put(b, 2);
    }
    void u32(uint32_t v) {
        unsigned char b[4];
        put32(b, v);
        put(b, 4);
    }
    void u64(uint64_t v) {
        unsigned char b[8];
        put64(b, v);
        put(b, 8);
    }
    void bytes(const void* p, std::size_t n) { put(p, n); }
    void zeros(std::size_t n) { put(nullptr, n); }
    // Rewrites four bytes already written at `offset` (a size filled in
    // late); ignored when they were not written.
    void patch32(std::size_t offset, uint32_t v) {
        if (offset <= at_ && at_ - offset >= 4 && fits(offset, 4)) put32(out_ + offset, v);
    }

    // A chunk written whole, padded to an even length.
    void chunk(uint32_t id, const void* p, uint32_t n) {
        u32(id);
        u32(n);
        bytes(p, n);
        if (n & 1) u8(0);
    }
    // Opens a list; close_list() fills in its size.
    std::size_t open_list(uint32_t id, uint32_t type) {
        const std::size_t start = at_;
        u32(id);
        u32(0);
        u32(type);
        return start;
    }
    void close_list(std::size_t start) {
        patch32(start + 4, static_cast<uint32_t>(at_ - start - 8));
    }

private:
    ByteWriter(void* out, std::size_t capacity, bool measuring)
        : out_(static_cast<unsigned char*>(out)), capacity_(capacity), measuring_(measuring) {}

    bool fits(std::size_t offset, std::size_t n) const {
        return out_ != nullptr && offset <= capacity_ && n <= capacity_ - offset;
    }
    // `p` null writes zeros.
    void put(const void* p, std::size_t n) {
        if (n > SIZE_MAX - at_) {
            overflow_ = true;
            return;
        }
        if (fits(at_, n)) {
            if (p != nullptr && n != 0) std::memcpy(out_ + at_, p, n);
            if (p == nullptr && n != 0) std::memset(out_ + at_, 0, n);
        } else if (!measuring_) {
            overflow_ = true;
        }
        at_ += n;
    }

    unsigned char* out_;
    std::size_t capacity_;
    bool measuring_ = false;
    std::size_t at_ = 0;
    bool overflow_ = false;
};

}  // namespace vx
