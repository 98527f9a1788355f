// A scratch file in the temporary folder with known contents, removed at
// scope exit.
#pragma once

#include <VexaInfo.h>

#include <cstdint>
#include <string>

#include "support/test_files.h"

class TempFile {
public:
    explicit TempFile(const std::string& contents = {}) {
        path_ = vxtest::make_temp_file("vxi");
        handle_ = vxtest::open_file(path_, vxtest::Access::kReadWrite);
        if (handle_ != INVALID_HANDLE_VALUE && !contents.empty()) {
            (void)vxtest::write_all(handle_, contents.data(), contents.size(), 0);
            vxtest::seek(handle_, 0);
        }
    }
    ~TempFile() {
        vxtest::close_file(handle_);
        vxtest::remove_file(path_);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    HANDLE handle() const { return handle_; }
    const std::string& path() const { return path_; }
    int64_t position() const { return vxtest::position_of(handle_); }
    std::string contents() const {
        std::string all;
        char chunk[256];
        long long got = 0;
        uint64_t at = 0;
        // Positioned reads on Windows move the file pointer: keep it.
        const int64_t mark = position();
        while ((got = vxtest::read_at(handle_, chunk, sizeof(chunk), at)) > 0) {
            all.append(chunk, static_cast<size_t>(got));
            at += static_cast<uint64_t>(got);
        }
        vxtest::seek(handle_, mark);
        return all;
    }

private:
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::string path_;
};
