#include "input_file.h"

#include <VexaInfo.h>

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vxavi {

HANDLE FileHandle::open_handle(const std::string& path, Access access, std::string* error) {
    const bool write = access == Access::kReadWrite;
#ifdef _WIN32
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | (write ? GENERIC_WRITE : 0),
                           FILE_SHARE_READ | (write ? 0 : FILE_SHARE_WRITE), nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) *error = "system error " + std::to_string(GetLastError());
    return h;
#else
    const int fd = ::open(path.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return INVALID_HANDLE_VALUE;
    }
    // A directory opens for reading here (for writing it did not open).
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0;
    const char* refused = known && S_ISDIR(st.st_mode)               ? std::strerror(EISDIR)
                          : write && !(known && S_ISREG(st.st_mode)) ? "not a regular file"
                                                                     : nullptr;
    if (refused != nullptr) {
        ::close(fd);
        *error = refused;
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
#endif
}

FileHandle::~FileHandle() {
#ifdef _WIN32
    CloseHandle(handle_);
#else
    ::close(static_cast<int>(reinterpret_cast<intptr_t>(handle_)));
#endif
}

bool FileHandle::length(uint64_t* out) const {
    const int64_t zero = 0;
    int64_t end = 0;
    if (SetFilePointer64(handle_, &zero, &end, 2) != 0 || end < 0) return false;
    *out = static_cast<uint64_t>(end);
    return true;
}

std::unique_ptr<InputFile> InputFile::open(const std::string& path, std::string* error) {
    const HANDLE h = open_handle(path, Access::kRead, error);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    std::unique_ptr<InputFile> file(new InputFile(path, h));
    const int64_t zero = 0;
    if (!file->length(&file->size_) || SetFilePointer64(h, &zero, nullptr, 0) != 0) {
        *error = "cannot determine its size (not a regular file?)";
        return nullptr;
    }
    return file;
}

bool InputFile::read(uint64_t position, void* buffer, uint32_t count) const {
    if (position > size_ || count > size_ - position) return false;
    if (count == 0) return true;
    const int64_t at = static_cast<int64_t>(position);
    return VxPRead(handle(), buffer, count, &at) == 0;
}

}  // namespace vxavi
