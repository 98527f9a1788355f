// Writes of the output file through the host's calls, so that the host sees
// (and can fail) every write and seek. The file position is tracked here
// rather than asked for after every call.
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstdint>

namespace vx::writer {

class FileWriter {
public:
    void attach(HANDLE file) {
        file_ = file;
        position_ = 0;
        known_ = true;
    }

    // Appends at the current position.
    bool write(const void* data, uint32_t count);
    // Writes at `position` and moves the file position to the end of it.
    bool write_at(uint64_t position, const void* data, uint32_t count);
    bool seek(uint64_t position);
    // One zero byte, to keep the next chunk word-aligned.
    bool pad() {
        const uint8_t zero = 0;
        return write(&zero, 1);
    }

    // False when a failed call left the position unknown or unusable.
    bool tell(uint64_t* position) const {
        *position = position_;
        return known_;
    }
    uint64_t position() const { return position_; }

private:
    // After a failed transfer: learn where the file pointer ended up.
    void resync();

    HANDLE file_;
    uint64_t position_;
    bool known_;
};

}  // namespace vx::writer
