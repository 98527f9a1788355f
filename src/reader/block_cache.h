// The process-wide cache of 1 MiB file blocks through which video frames of
// readers opened with a file name are read. Blocks are keyed by the reader's
// host file handle value and read through the reader's own unbuffered handle.
// Readers without useCache, with a handle value of -1 or -2 (which would
// collide with the owner markers of free and loading blocks), or whose file
// cannot be opened by name read directly through their host handle instead.
#pragma once

#include <vxmedia/avireader.h>

#include <cstdint>

namespace vx::cache {

inline constexpr uint32_t kBlockSize = 1u << 20;
inline constexpr int kBlockCount = 20;

// Reads `size` bytes at `position` into `destination`. 0 = success, 1 = failure.
int read_into(AviReader* reader, void* destination, uint32_t size, uint64_t position);

// Gives the bytes at `position` as a pointer: into a pinned block when the
// range lies inside one block, else an allocated copy (refused with
// `noCopy`). Every non-null pointer goes back through release_pointer().
// 0 = success, 1 = failure (then *out is null). A size of 0 succeeds with a
// null pointer.
int read_pointer(AviReader* reader, unsigned char** out, uint32_t size, uint64_t position,
                 bool noCopy);

void release_pointer(void* data);

// aviClose: frees the reader's blocks (or marks pinned ones for release),
// closes its cache handle and lock.
void release_reader(AviReader* reader);

// aviSetFileRef: blocks loaded under the old handle value are released.
void forget_handle(HANDLE oldFileRef);

// Called at library load and unload.
void process_attach();
void process_detach();

// For tests: how many blocks have been read from files since load.
uint64_t block_loads();

// For tests: while set, creating the blocks fails as if memory had run out.
void fail_block_creation_for_testing(bool fail);

}  // namespace vx::cache
