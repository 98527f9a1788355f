// How many colour-table entries a bitmap format has, for the library and the
// tool alike.
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstdint>

namespace vx {

// Entries of a format of 8 bits or fewer: biClrUsed, or all that the depth
// addresses when it is 0; never more than 256. 0 for deeper formats.
inline uint32_t table_entries(const BITMAPINFOHEADER& format) {
    if (format.biBitCount == 0 || format.biBitCount > 8) return 0;
    if (format.biClrUsed == 0) return 1u << format.biBitCount;
    return format.biClrUsed > 256 ? 256 : format.biClrUsed;
}

}  // namespace vx
