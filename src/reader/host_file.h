// Positioned reads of the host's open file through the host's own calls,
// bounded by the file's size so that a read never asks for bytes that are
// not there.
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstdint>

namespace vx {

// Whether the host's file holds [position, position + size): its last byte
// can be read. For callers that do not know the file's size; sizes taken
// from the file are checked with it before they size an allocation.
bool host_file_holds(HANDLE handle, uint64_t position, uint32_t size);

class HostFile {
public:
    explicit HostFile(HANDLE handle) : handle_(handle) {}

    // Reads the size (seek to the end) and puts the file pointer back at 0.
    bool init();
    HANDLE handle() const { return handle_; }
    uint64_t size() const { return size_; }

    // True when [position, position + count) lies inside the file.
    bool holds(uint64_t position, uint64_t count) const {
        return position <= size_ && count <= size_ - position;
    }
    // Reads exactly `count` bytes at `position`; false when they are not all
    // in the file or the host's read fails.
    bool read(uint64_t position, void* buffer, uint32_t count) const;

    // The host file pointer, saved and restored around positioned reads
    // that move it.
    bool tell(int64_t* position) const;
    bool seek(int64_t position) const;

private:
    HANDLE handle_;
    uint64_t size_ = 0;
};

}  // namespace vx
