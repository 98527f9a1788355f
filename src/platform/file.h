// Files opened by the library itself (the block cache's own handle, the
// writer's output file). Files the host opened are read through the host's
// calls, never through here.
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstddef>
#include <cstdint>

namespace vx::platform {

// Block buffers and reads of the unbuffered handle are aligned to this.
inline constexpr std::size_t kUnbufferedAlign = 4096;

// Opens an existing file for unbuffered sequential reading: first for reading
// and writing with shared read and write, then for reading only with shared
// read. Returns INVALID_HANDLE_VALUE when both fail.
HANDLE open_unbuffered_reader(const char* path);

// Reads up to `count` bytes at `position` into `buffer` (aligned to
// kUnbufferedAlign, as is `count`). Sets `*got` to the bytes read, fewer at the
// end of the file. Returns false on failure.
bool read_at(HANDLE file, void* buffer, uint32_t count, uint64_t position, uint32_t* got);

void close_file(HANDLE file);

// Creates `path` for reading and writing, others may only read it; an
// existing file is replaced. Returns INVALID_HANDLE_VALUE on failure.
HANDLE create_for_writing(const char* path);

// Pushes written data towards the disk; false when the system reports an
// error.
bool flush_file(HANDLE file);

// Closes a file that was written: false when the close reports an error,
// which can be the first sign that written data did not reach the disk.
bool close_checked(HANDLE file);

void* alloc_aligned(std::size_t size, std::size_t alignment);
void free_aligned(void* block);

}  // namespace vx::platform
