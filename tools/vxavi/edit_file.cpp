#include "edit_file.h"

#include <VexaInfo.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
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

}  // namespace

std::unique_ptr<EditFile> EditFile::open(const std::string& path, std::string* error) {
    const HANDLE h = open_handle(path, Access::kReadWrite, error);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::unique_ptr<EditFile>(new EditFile(h));
}

bool EditFile::truncate(uint64_t length) {
#ifdef _WIN32
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(length);
    return SetFilePointerEx(handle(), at, nullptr, FILE_BEGIN) && SetEndOfFile(handle());
#else
    static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");
    return ::ftruncate(static_cast<int>(reinterpret_cast<intptr_t>(handle())),
                       static_cast<off_t>(length)) == 0;
#endif
}

bool EditFile::keep(const std::vector<std::pair<uint64_t, uint64_t>>& movie) {
    kept_.clear();
    if (!length(&length_)) return false;
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
                if (!read_at(handle(), k.bytes.data(), static_cast<uint32_t>(k.bytes.size()),
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
            if (read_at(handle(), now.data(), n, k.at + done) &&
                std::memcmp(now.data(), was, n) == 0) {
                continue;
            }
            ok = write_at(handle(), was, n, k.at + done) && ok;
        }
    }
    uint64_t size = 0;
    if (!length(&size)) return false;
    return (size == length_ || truncate(length_)) && ok;
}

}  // namespace vxavi
