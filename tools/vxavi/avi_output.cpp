#include "avi_output.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "commands.h"
#include "printing.h"
#include "reader_errors.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace vxavi {

namespace {

const char* writer_code_name(int32_t code) {
    switch (static_cast<uint32_t>(code)) {
        case 0x8004406Eu:
            return "AVIERR_FILEWRITE";
        case 0x8004406Fu:
            return "AVIERR_FILEOPEN";
        case 0x800440C6u:
            return "AVIERR_USERABORT (the file reached its size or segment limit)";
        default:
            return code_name(code);
    }
}

std::string describe(int32_t code) {
    const char* name = writer_code_name(code);
    return name != nullptr ? name : hex32(static_cast<uint32_t>(code));
}

}  // namespace

bool SegmentSize::set(uint32_t megabytes) {
#ifdef _WIN32
    (void)megabytes;
    print_error(
        "--segment-mb is not available on Windows: there the segment size is the key "
        "AVIChunkMB in section [Override] of WIN.INI");
    return false;
#else
    const char* base = std::getenv("TMPDIR");
    std::string path = std::string(base && *base ? base : "/tmp") + "/vxavi-profile-XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        print_error("cannot create a temporary profile in " + path.substr(0, path.rfind('/')));
        return false;
    }
    profile_ = path;
    const std::string text = "[Override]\nAVIChunkMB=" + std::to_string(megabytes) + "\n";
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!written) {
        print_error("cannot write the temporary profile " + path);
        return false;
    }
    if (const char* old = std::getenv("VXMEDIA_PROFILE")) saved_ = old;
    ::setenv("VXMEDIA_PROFILE", path.c_str(), 1);
    named_ = true;
    return true;
#endif
}

SegmentSize::~SegmentSize() {
#ifndef _WIN32
    if (!profile_.empty()) ::unlink(profile_.c_str());
    if (!named_) return;
    if (saved_)
        ::setenv("VXMEDIA_PROFILE", saved_->c_str(), 1);
    else
        ::unsetenv("VXMEDIA_PROFILE");
#endif
}

std::optional<AviOutput> AviOutput::create(const std::string& path, const MainAVIHeader& header) {
    AviWriter* writer = nullptr;
    const int32_t result = avifileOpen(&writer, path.c_str(), &header);
    if (result != 0 || writer == nullptr) {
        print_error("cannot create " + path + " (" + describe(result) + ")");
        return std::nullopt;
    }
    return AviOutput(path, writer);
}

AviOutput::AviOutput(AviOutput&& other) noexcept
    : path_(std::move(other.path_)), writer_(other.writer_), bytes_(other.bytes_) {
    other.writer_ = nullptr;
}

AviOutput::~AviOutput() {
    if (writer_ != nullptr) avifileClose(writer_, 0, 0);
}

bool AviOutput::check(int32_t result, const std::string& action) {
    if (result == 0) return true;
    print_error("cannot " + action + " " + path_ + " (" + describe(result) + ")");
    return false;
}

int32_t AviOutput::add_stream(const AVIStreamHeader& header, const void* format,
                              uint32_t formatSize) {
    int32_t stream = -1;
    if (!check(avifileAddStream(writer_, &stream, &header, format, formatSize), "add a stream to"))
        return -1;
    return stream;
}

bool AviOutput::write(int32_t stream, const void* data, uint32_t size, uint32_t type,
                      uint32_t flags) {
    if (!check(avifileWrite(writer_, stream, data, size, type, flags), "write to")) return false;
    bytes_ += size;
    return true;
}

bool AviOutput::end_record() { return check(avifileEndRecord(writer_), "end a record in"); }

bool AviOutput::close(uint32_t videoFrames, uint32_t audioLength) {
    AviWriter* writer = writer_;
    writer_ = nullptr;
    return check(avifileClose(writer, videoFrames, audioLength), "finish");
}

}  // namespace vxavi
