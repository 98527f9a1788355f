#include "writer/file_writer.h"

#include <VexaInfo.h>

namespace vx::writer {

bool FileWriter::write(const void* data, uint32_t count) {
    if (!known_) return false;
    if (count == 0) return true;
    if (VxWrite(file_, data, count) != 0) {
        resync();
        return false;
    }
    position_ += count;
    return true;
}

bool FileWriter::write_at(uint64_t position, const void* data, uint32_t count) {
    if (!known_) return false;
    if (position > static_cast<uint64_t>(INT64_MAX)) return false;
    const int64_t at = static_cast<int64_t>(position);
    if (VxPWrite(file_, data, count, &at) != 0) {
        known_ = false;  // a rewrite behind the end: the append point is lost
        return false;
    }
    position_ = position + count;
    return true;
}

bool FileWriter::seek(uint64_t position) {
    if (position > static_cast<uint64_t>(INT64_MAX)) return false;
    const int64_t to = static_cast<int64_t>(position);
    int64_t now = 0;
    if (SetFilePointer64(file_, &to, &now, 0) != 0 || now != to) {
        // The writer meant to be elsewhere: nothing more may be written until
        // a seek succeeds, or it would land on data already written.
        known_ = false;
        return false;
    }
    position_ = position;
    known_ = true;
    return true;
}

void FileWriter::resync() {
    const int64_t zero = 0;
    int64_t now = -1;
    known_ = SetFilePointer64(file_, &zero, &now, 1) == 0 && now >= 0;
    if (known_) position_ = static_cast<uint64_t>(now);
}

}  // namespace vx::writer
