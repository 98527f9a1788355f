// The peer: FFmpeg's demuxer opened on the same files, used by the benchmarks
// only.
#pragma once

#include <cstdint>
#include <string>

struct AVFormatContext;
struct AVPacket;

namespace vxbench {

class LavfFile {
public:
    LavfFile() = default;
    LavfFile(const LavfFile&) = delete;
    LavfFile& operator=(const LavfFile&) = delete;
    ~LavfFile() { close(); }

    // avformat_open_input with the AVI demuxer named, so that no probing is
    // done; the demuxer reads the whole index here.
    bool open(const std::string& path);
    void close();
    // Index entries of the first stream.
    uint64_t index_entries() const;

    // Calls f(data, size) for every packet until the end of the file; the
    // number of packets, or -1 on an error other than the end.
    template <class F>
    int64_t for_each_packet(F&& f);

private:
    bool next(const unsigned char** data, uint32_t* size);

    AVFormatContext* ctx_ = nullptr;
    AVPacket* pkt_ = nullptr;
    bool failed_ = false;
};

template <class F>
int64_t LavfFile::for_each_packet(F&& f) {
    int64_t n = 0;
    const unsigned char* data;
    uint32_t size;
    while (next(&data, &size)) {
        f(data, size);
        ++n;
    }
    return failed_ ? -1 : n;
}

void lavf_quiet();

}  // namespace vxbench
