#include "edit_file.h"

#include <VexaInfo.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vxavi {

namespace {

// A file with more than this outside its movie lists is edited without a copy
// to undo from.
constexpr uint64_t kMaxKept = uint64_t{64} << 20;
constexpr uint32_t kBlock = 64u << 10;

bool read_at(HANDLE h, void* buffer, uint32_t count, uint64_t at) {
    const auto position = static_cast<int64_t>(at);
    return VxPRead(h, buffer, count, &position) == 0;
}

bool write_at(HANDLE h, const void* buffer, uint32_t count, uint64_t at) {
    const auto position = static_cast<int64_t>(at);
    return VxPWrite(h, buffer, count, &position) == 0;
}

bool length_of(HANDLE h, uint64_t* length) {
    const int64_t zero = 0;
    int64_t end = 0;
    if (SetFilePointer64(h, &zero, &end, 2) != 0 || end < 0) return false;
    *length = static_cast<uint64_t>(end);
    return true;
}

}  // namespace

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

bool EditFile::truncate(uint64_t length) {
#ifdef _WIN32
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(length);
    return SetFilePointerEx(handle_, at, nullptr, FILE_BEGIN) && SetEndOfFile(handle_);
#else
    static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");
    return ::ftruncate(static_cast<int>(reinterpret_cast<intptr_t>(handle_)),
                       static_cast<off_t>(length)) == 0;
#endif
}

bool EditFile::keep(const std::vector<std::pair<uint64_t, uint64_t>>& movie) {
    kept_.clear();
    if (!length_of(handle_, &length_)) return false;
    try {
        std::vector<std::pair<uint64_t, uint64_t>> skip = movie;
        skip.emplace_back(length_, length_);
        uint64_t from = 0, total = 0;
        for (auto [begin, end] : skip) {
            begin = std::min(begin, length_);
            if (begin > from) {
                total += begin - from;
                if (total > kMaxKept) break;
                Kept k;
                k.at = from;
                k.bytes.resize(begin - from);
                if (!read_at(handle_, k.bytes.data(), static_cast<uint32_t>(k.bytes.size()),
                             from)) {
                    break;
                }
                kept_.push_back(std::move(k));
            }
            from = std::max(from, end);
        }
        if (from >= length_) return true;
    } catch (const std::bad_alloc&) {
    }
    kept_.clear();
    return false;
}

bool EditFile::undo() {
    bool ok = true;
    std::vector<unsigned char> now(kBlock);
    for (const Kept& k : kept_) {
        // Only what differs is written back: an edit that wrote nothing
        // leaves the file untouched.
        for (std::size_t done = 0; done < k.bytes.size(); done += kBlock) {
            const auto n =
                static_cast<uint32_t>(std::min<std::size_t>(kBlock, k.bytes.size() - done));
            const unsigned char* was = k.bytes.data() + done;
            if (read_at(handle_, now.data(), n, k.at + done) &&
                std::memcmp(now.data(), was, n) == 0) {
                continue;
            }
            ok = write_at(handle_, was, n, k.at + done) && ok;
        }
    }
    uint64_t length = 0;
    if (!length_of(handle_, &length)) return false;
    return (length == length_ || truncate(length_)) && ok;
}

}  // namespace vxavi
