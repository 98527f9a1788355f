// The fixed records of an AVI file's header list, read field by field in
// little-endian order from stored bytes. A short stored record sets the bytes
// it holds and leaves the rest of the record as it was.
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstddef>

namespace vx {

// "avih"; `size` is what the chunk holds, at most the record's 56 bytes.
void read_main_header(const void* data, std::size_t size, MainAVIHeader* out);
// "strh": the 56 stored bytes, the frame rectangle as they lay them out.
void read_stream_header(const void* data, std::size_t size, AVIStreamHeader* out);
// The 40-byte header that starts a video format.
void read_bitmap_header(const void* data, std::size_t size, BITMAPINFOHEADER* out);

}  // namespace vx
