// CRC-32 as zlib computes it (IEEE polynomial, reflected, inverted).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vxavi {

// Continues a running CRC; start with 0.
uint32_t crc32_update(uint32_t crc, const void* data, std::size_t size);

}  // namespace vxavi
