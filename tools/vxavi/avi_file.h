// The AVI file a command reads: the input file with a reader on it.
#pragma once

#include <vxmedia/avireader.h>

#include <memory>
#include <string>
#include <utility>

#include "input_file.h"

namespace vxavi {

// A file opened with a reader on it. The reader gets the file name too, so
// that frames are read through the library's block cache.
class AviFile {
public:
    // Null after printing the reason when the file cannot be opened or read.
    static std::unique_ptr<AviFile> open(const std::string& path);
    ~AviFile();
    AviFile(const AviFile&) = delete;
    AviFile& operator=(const AviFile&) = delete;

    const InputFile& file() const { return *file_; }
    AviReader* reader() const { return reader_; }

private:
    AviFile(std::unique_ptr<InputFile> file, AviReader* reader)
        : file_(std::move(file)), reader_(reader) {}

    std::unique_ptr<InputFile> file_;
    AviReader* reader_;
};

}  // namespace vxavi
