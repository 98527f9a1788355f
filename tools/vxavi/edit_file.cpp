#include "edit_file.h"

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

std::unique_ptr<EditFile> EditFile::open(const std::string& path, std::string* error) {
#ifdef _WIN32
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = "system error " + std::to_string(GetLastError());
        return nullptr;
    }
#else
    const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        *error = "not a regular file";
        return nullptr;
    }
    HANDLE h = reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd));
#endif
    return std::unique_ptr<EditFile>(new EditFile(h));
}

EditFile::~EditFile() {
#ifdef _WIN32
    CloseHandle(handle_);
#else
    ::close(static_cast<int>(reinterpret_cast<intptr_t>(handle_)));
#endif
}

}  // namespace vxavi
