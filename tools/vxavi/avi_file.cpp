// Opening the AVI file a command reads, the tool's error line, and the
// check that an output does not overwrite the input.
#include "avi_file.h"

#include <cstdio>
#include <filesystem>

#include "commands.h"
#include "reader_errors.h"

namespace vxavi {

bool writes_over_input(const Options& options, const std::string& message) {
    std::error_code ec;
    if (!std::filesystem::equivalent(options.path, options.output, ec)) return false;
    print_error(message);
    return true;
}

void print_error(const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "vxavi: %s\n", message.c_str());
}

std::unique_ptr<AviFile> AviFile::open(const std::string& path) {
    std::string error;
    std::unique_ptr<InputFile> file = InputFile::open(path, &error);
    if (!file) {
        print_error("cannot open " + path + ": " + error);
        return nullptr;
    }
    AviReader* reader = nullptr;
    begin_reader_call();
    const VXRESULT result = aviOpen(&reader, file->handle(), path.c_str());
    if (result != 0 || reader == nullptr) {
        print_error(describe_failure(result, path));
        return nullptr;
    }
    return std::unique_ptr<AviFile>(new AviFile(std::move(file), reader));
}

AviFile::~AviFile() { aviClose(reader_); }

}  // namespace vxavi
