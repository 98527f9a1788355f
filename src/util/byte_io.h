// Little-endian fields in byte buffers: reads, writes, four-character codes,
// and a bounded view whose reads past the end give 0, so a short stored
// record reads as zero-filled.
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

// A bounded view of stored bytes (a stream format, an index chunk).
class ByteView {
public:
    ByteView(const void* data, std::size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(data ? size : 0) {}

    std::size_t size() const { return size_; }
    bool has(std::size_t offset, std::size_t count) const {
        return offset <= size_ && count <= size_ - offset;
    }
    uint8_t u8(std::size_t off) const { return has(off, 1) ? data_[off] : 0; }
    uint16_t u16(std::size_t off) const { return has(off, 2) ? le16(data_ + off) : 0; }
    uint32_t u32(std::size_t off) const { return has(off, 4) ? le32(data_ + off) : 0; }
    uint64_t u64(std::size_t off) const { return has(off, 8) ? le64(data_ + off) : 0; }
    const unsigned char* data() const { return data_; }

private:
    const unsigned char* data_;
    std::size_t size_;
};

}  // namespace vx
