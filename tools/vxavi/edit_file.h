// A file opened for reading and writing, for the commands that add chunks
// to an existing file.
#pragma once

#include <vxmedia/vxtypes.h>

#include <memory>
#include <string>

namespace vxavi {

class EditFile {
public:
    // Null with `*error` set when the file cannot be opened for writing.
    static std::unique_ptr<EditFile> open(const std::string& path, std::string* error);
    ~EditFile();
    EditFile(const EditFile&) = delete;
    EditFile& operator=(const EditFile&) = delete;

    HANDLE handle() const { return handle_; }

private:
    explicit EditFile(HANDLE handle) : handle_(handle) {}
    HANDLE handle_;
};

}  // namespace vxavi
