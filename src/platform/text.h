// Text of the platform's wide (UTF-16) records in the library's narrow
// encoding: the ANSI code page on Windows, UTF-8 on Linux.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vx::platform {

// Converts the NUL-terminated `wide` text, read no further than `wideChars`
// units, into `out` (`outSize` bytes, at least 1), cut to what fits without
// splitting a character, and terminates it. Returns the bytes written
// before the terminator.
std::size_t wide_to_narrow(const uint16_t* wide, std::size_t wideChars, char* out,
                           std::size_t outSize);

}  // namespace vx::platform
