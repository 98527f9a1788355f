// The file under inspection, opened read-only. Opening is the only
// platform-specific step; reads go through the host library's positioned
// reads on the same handle that the reader gets.
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstdint>
#include <memory>
#include <string>

namespace vxavi {

class InputFile {
public:
    // Null with `*error` set when the file cannot be opened.
    static std::unique_ptr<InputFile> open(const std::string& path, std::string* error);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    const std::string& path() const { return path_; }
    HANDLE handle() const { return handle_; }
    uint64_t size() const { return size_; }

    // Reads exactly `count` bytes at `position`; false when they are not all
    // in the file.
    bool read(uint64_t position, void* buffer, uint32_t count) const;

private:
    InputFile(std::string path, HANDLE handle) : path_(std::move(path)), handle_(handle) {}

    std::string path_;
    HANDLE handle_;
    uint64_t size_ = 0;
};

}  // namespace vxavi
