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

namespace {

HANDLE open_read_only(const std::string& path, std::string* error) {
#ifdef _WIN32
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) *error = "system error " + std::to_string(GetLastError());
    return h;
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return INVALID_HANDLE_VALUE;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        *error = std::strerror(EISDIR);
        return INVALID_HANDLE_VALUE;
    }
    return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
#endif
}

void close_handle(HANDLE h) {
#ifdef _WIN32
    CloseHandle(h);
#else
    ::close(static_cast<int>(reinterpret_cast<intptr_t>(h)));
#endif
}

}  // namespace

std::unique_ptr<InputFile> InputFile::open(const std::string& path, std::string* error) {
    const HANDLE h = open_read_only(path, error);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    std::unique_ptr<InputFile> file(new InputFile(path, h));
    const int64_t zero = 0;
    int64_t end = 0;
    if (SetFilePointer64(h, &zero, &end, 2) != 0 || end < 0 ||
        SetFilePointer64(h, &zero, nullptr, 0) != 0) {
        *error = "cannot determine its size (not a regular file?)";
        return nullptr;
    }
    file->size_ = static_cast<uint64_t>(end);
    return file;
}

InputFile::~InputFile() { close_handle(handle_); }

bool InputFile::read(uint64_t position, void* buffer, uint32_t count) const {
    if (position > size_ || count > size_ - position) return false;
    if (count == 0) return true;
    const int64_t at = static_cast<int64_t>(position);
    return VxPRead(handle_, buffer, count, &at) == 0;
}

}  // namespace vxavi
