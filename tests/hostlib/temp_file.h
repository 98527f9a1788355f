// A scratch file under /tmp with known contents, removed at scope exit.
#pragma once

#include <VexaInfo.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

class TempFile {
public:
    explicit TempFile(const std::string& contents = {}) {
        char name[] = "/tmp/vexainfo_test_XXXXXX";
        fd_ = ::mkstemp(name);
        path_ = name;
        if (fd_ >= 0 && !contents.empty()) {
            (void)!::write(fd_, contents.data(), contents.size());
            ::lseek(fd_, 0, SEEK_SET);
        }
    }
    ~TempFile() {
        if (fd_ >= 0) ::close(fd_);
        ::unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    HANDLE handle() const { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd_)); }
    const std::string& path() const { return path_; }
    off_t position() const { return ::lseek(fd_, 0, SEEK_CUR); }
    std::string contents() const {
        std::string all;
        char chunk[256];
        ssize_t got = 0;
        off_t at = 0;
        while ((got = ::pread(fd_, chunk, sizeof(chunk), at)) > 0) {
            all.append(chunk, static_cast<size_t>(got));
            at += got;
        }
        return all;
    }

private:
    int fd_ = -1;
    std::string path_;
};
