#include "reader/host_file.h"

#include "util/host.h"

namespace vx {

bool host_file_holds(HANDLE handle, uint64_t position, uint32_t size) {
    if (size == 0) return true;
    if (position > static_cast<uint64_t>(INT64_MAX) - size) return false;
    unsigned char last;
    const auto at = static_cast<int64_t>(position + size - 1);
    return VxPRead(handle, &last, 1, &at) == 0;
}

bool HostFile::init() {
    const int64_t zero = 0;
    int64_t end = 0;
    if (SetFilePointer64(handle_, &zero, &end, 2) != 0 || end < 0) return false;
    size_ = static_cast<uint64_t>(end);
    return SetFilePointer64(handle_, &zero, nullptr, 0) == 0;
}

bool HostFile::read(uint64_t position, void* buffer, uint32_t count) const {
    if (!holds(position, count)) return false;
    if (count == 0) return true;
    const int64_t pos = static_cast<int64_t>(position);
    return VxPRead(handle_, buffer, count, &pos) == 0;
}

bool HostFile::tell(int64_t* position) const {
    const int64_t zero = 0;
    return SetFilePointer64(handle_, &zero, position, 1) == 0;
}

bool HostFile::seek(int64_t position) const {
    return SetFilePointer64(handle_, &position, nullptr, 0) == 0;
}

}  // namespace vx
