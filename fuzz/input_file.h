// The file a fuzz target's reader opens: each input is written to a memfd,
// or to a temporary file where memfd or /proc is missing, so that it can be
// opened both through its handle and by name.
#pragma once

#include <VexaInfo.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <vxmedia/vxtypes.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace vxfuzz {

class InputFile {
public:
    // `tag` names the memfd and prefixes messages; a file that cannot be
    // made ends the run.
    explicit InputFile(const char* tag) : tag_(tag) {
        fd_ = ::memfd_create(tag, MFD_CLOEXEC);
        if (fd_ >= 0) {
            name_ = "/proc/self/fd/" + std::to_string(fd_);
            // Without /proc the named path cannot work; a temporary file can.
            if (::access(name_.c_str(), R_OK) != 0) {
                ::close(fd_);
                fd_ = -1;
            }
        }
        if (fd_ < 0) {
            const char* dir = std::getenv("TMPDIR");
            name_ = std::string(dir && *dir ? dir : "/tmp") + "/" + tag + "_XXXXXX";
            fd_ = ::mkstemp(name_.data());
            check(fd_ >= 0, "cannot create a temporary file");
            temporary_ = true;
        }
        check(name_.size() < VX_MAX_PATH, "file name too long for the reader");
    }
    ~InputFile() {
        if (temporary_) ::unlink(name_.c_str());
        ::close(fd_);
    }
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // The file holds exactly these bytes, its position at 0.
    void write(const uint8_t* data, size_t size) const {
        check(::ftruncate(fd_, 0) == 0, "ftruncate failed");
        for (size_t done = 0; done < size;) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            check(n > 0, "writing the input failed");
            done += static_cast<size_t>(n);
        }
        check(::lseek(fd_, 0, SEEK_SET) == 0, "lseek failed");
    }

    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    // The descriptor as the host passes it to the reader.
    HANDLE handle() const { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd_)); }

private:
    void check(bool ok, const char* what) const {
        if (ok) return;
        std::fprintf(stderr, "%s: %s\n", tag_, what);
        std::abort();
    }

    const char* tag_;
    int fd_ = -1;
    std::string name_;
    bool temporary_ = false;
};

}  // namespace vxfuzz
