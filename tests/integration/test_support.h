// Helpers of the integration tests: running programs, ffprobe's view of a
// file, temporary folders and an open reader on a file.
#pragma once

#include <vxmedia/avireader.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vxtest {

std::string shell_quote(const std::string& text);

struct CommandResult {
    int exitCode = -1;     // -1 when the program did not exit normally
    bool crashed = false;  // ended by a signal
    std::string out;
    std::string err;
};
// Runs `command` through the shell; standard error is captured separately.
CommandResult run_command(const std::string& command);
bool have_program(const std::string& name);

// A fresh folder under the system's temporary folder, removed with all it
// holds when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// One packet as ffprobe reports it (demuxed without parsers, so that a
// packet is one chunk of the file).
struct Packet {
    int stream = -1;
    uint32_t size = 0;
    int64_t pos = -1;  // of the chunk data; -1 when not known
    bool key = false;
    std::string md5;    // lower-case hex, with DataHash::kMd5
    std::string crc32;  // lower-case hex, with DataHash::kCrc32
};
enum class DataHash { kMd5, kCrc32 };
std::vector<Packet> ffprobe_packets(const std::string& path, DataHash hash = DataHash::kMd5);

struct ProbeStream {
    int index = -1;
    std::string type;  // "video", "audio", ...
    int width = 0, height = 0;
    int sampleRate = 0, channels = 0;
};
std::vector<ProbeStream> ffprobe_streams(const std::string& path);

std::vector<Packet> packets_of(const std::vector<Packet>& all, int stream);

// Reads `size` bytes at `offset` straight from the file.
std::vector<unsigned char> read_range(const std::string& path, uint64_t offset, uint32_t size);
uint64_t file_size(const std::string& path);

// CRC-32 as zlib computes it, written bit by bit to stay independent of the
// tool's table-driven one.
uint32_t crc32_bitwise(const void* data, std::size_t size);

// Cuts a file at its "idx1" chunk and makes the RIFF size match, as if the
// writer had written no classic index. False when there is no "idx1".
bool strip_idx1(const std::string& path);

// "Src/VFW/vfw:1359" for the first failure in the host's error log.
std::string first_logged_site();

// A file opened for reading with a reader on it.
class OpenedAvi {
public:
    OpenedAvi(const std::string& path, bool withName);
    ~OpenedAvi();
    OpenedAvi(const OpenedAvi&) = delete;
    OpenedAvi& operator=(const OpenedAvi&) = delete;

    VXRESULT result() const { return result_; }
    AviReader* reader() const { return reader_; }
    bool ok() const { return result_ == 0 && reader_ != nullptr; }

private:
    int fd_ = -1;
    AviReader* reader_ = nullptr;
    VXRESULT result_ = 0;
};

}  // namespace vxtest
