// The files the tool opens: the file under inspection, read-only, and (in
// edit_file.h) the file an edit changes. Opening is the only
// platform-specific step; reads and writes go through the host library's
// positioned calls on the handle, the same handle that the reader gets.
#pragma once

#include <vxmedia/vxtypes.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace vxavi {

// An open file handle, closed with its owner.
class FileHandle {
public:
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    HANDLE handle() const { return handle_; }

protected:
    enum class Access { kRead, kReadWrite };
    // INVALID_HANDLE_VALUE with `*error` set when `path` cannot be opened
    // with `access`: editing takes regular files only.
    static HANDLE open_handle(const std::string& path, Access access, std::string* error);
    explicit FileHandle(HANDLE handle) : handle_(handle) {}
    ~FileHandle();
    // The file's length, found by seeking to its end; false when it has none.
    bool length(uint64_t* out) const;

private:
    HANDLE handle_;
};

class InputFile : public FileHandle {
public:
    // Null with `*error` set when the file cannot be opened.
    static std::unique_ptr<InputFile> open(const std::string& path, std::string* error);

    const std::string& path() const { return path_; }
    uint64_t size() const { return size_; }

    // Reads exactly `count` bytes at `position`; false when they are not all
    // in the file.
    bool read(uint64_t position, void* buffer, uint32_t count) const;

private:
    InputFile(std::string path, HANDLE handle) : FileHandle(handle), path_(std::move(path)) {}

    std::string path_;
    uint64_t size_ = 0;
};

}  // namespace vxavi
