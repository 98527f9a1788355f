// The AVI file a command writes: the library's writer with the byte and
// frame counts the commands report, and failures turned into messages.
#pragma once

#include <vxmedia/aviwriter.h>

#include <cstdint>
#include <optional>
#include <string>

namespace vxavi {

// Chunk types: the two characters after the stream number, first in the
// low byte.
constexpr uint32_t chunk_type(char a, char b) {
    return static_cast<uint8_t>(a) | static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8;
}
constexpr uint32_t kTypeCompressed = chunk_type('d', 'c');
constexpr uint32_t kTypeAudio = chunk_type('w', 'b');

// The writer's segment size for this process. The writer reads it from the
// profile once, at the first file it opens: keep this object alive until
// that open has happened. The caller's own profile is named again when it
// goes.
class SegmentSize {
public:
    SegmentSize() = default;
    SegmentSize(const SegmentSize&) = delete;
    SegmentSize& operator=(const SegmentSize&) = delete;
    ~SegmentSize();
    // False after printing why when it cannot be done.
    bool set(uint32_t megabytes);

private:
    std::string profile_;
    std::optional<std::string> saved_;
    bool named_ = false;
};

class AviOutput {
public:
    // Null after printing the reason when the file cannot be created.
    static std::optional<AviOutput> create(const std::string& path, const MainAVIHeader& header);
    AviOutput(AviOutput&& other) noexcept;
    AviOutput& operator=(AviOutput&&) = delete;
    // Closes the file if close() was not called (the file is then incomplete).
    ~AviOutput();

    // The stream's number, or -1 after printing why it cannot be added.
    int32_t add_stream(const AVIStreamHeader& header, const void* format, uint32_t formatSize);
    // False after printing why.
    bool write(int32_t stream, const void* data, uint32_t size, uint32_t type, uint32_t flags);
    bool end_record();
    bool close(uint32_t videoFrames, uint32_t audioLength);

    uint64_t bytes() const { return bytes_; }
    const std::string& path() const { return path_; }

private:
    AviOutput(std::string path, AviWriter* writer) : path_(std::move(path)), writer_(writer) {}
    bool check(int32_t result, const std::string& action);

    std::string path_;
    AviWriter* writer_;
    uint64_t bytes_ = 0;
};

}  // namespace vxavi
