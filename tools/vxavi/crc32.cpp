#include "crc32.h"

#include <array>

namespace vxavi {

namespace {

constexpr std::array<uint32_t, 256> make_table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = make_table();

}  // namespace

uint32_t crc32_update(uint32_t crc, const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    uint32_t c = ~crc;
    for (std::size_t i = 0; i < size; ++i) c = kTable[(c ^ p[i]) & 0xFFu] ^ (c >> 8);
    return ~c;
}

}  // namespace vxavi
