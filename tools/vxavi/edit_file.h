// A file opened for reading and writing, for the commands that add chunks
// to an existing file, with an undo for edits made of several calls.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "input_file.h"

namespace vxavi {

class EditFile : public FileHandle {
public:
    // Null with `*error` set when the file cannot be opened for writing.
    static std::unique_ptr<EditFile> open(const std::string& path, std::string* error);

    // Keeps what the chunk setters can change, for undo(): the length and
    // every byte but the contents of the movie lists (`movie`, [begin, end)
    // in file order), which they never write. False when that is more than
    // 64 MiB or cannot be read.
    bool keep(const std::vector<std::pair<uint64_t, uint64_t>>& movie);
    // Puts back the kept bytes that changed and the length. False when a
    // read, a write or the truncation fails.
    bool undo();

private:
    explicit EditFile(HANDLE handle) : FileHandle(handle) {}
    bool truncate(uint64_t length);

    struct Kept {
        uint64_t at = 0;
        std::vector<unsigned char> bytes;
    };

    uint64_t length_ = 0;
    std::vector<Kept> kept_;
};

}  // namespace vxavi
