#include "test_support.h"

#include <VexaInfo.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace vxtest {

namespace fs = std::filesystem;

std::string shell_quote(const std::string& text) {
    std::string q = "'";
    for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

CommandResult run_command(const std::string& command) {
    CommandResult r;
    char errName[] = "/tmp/vx_integration_err_XXXXXX";
    const int errFd = ::mkstemp(errName);
    if (errFd < 0) return r;
    ::close(errFd);
    const std::string full = "(" + command + ") 2>" + shell_quote(errName) + " </dev/null";
    if (FILE* p = ::popen(full.c_str(), "r")) {
        char buf[65536];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
        const int status = ::pclose(p);
        // The shell reports a child killed by a signal as 128 + the signal.
        if (WIFEXITED(status)) {
            r.exitCode = WEXITSTATUS(status);
            r.crashed = r.exitCode > 128;
            if (r.crashed) r.exitCode = -1;
        } else {
            r.crashed = true;
        }
    }
    std::ifstream err(errName, std::ios::binary);
    std::ostringstream s;
    s << err.rdbuf();
    r.err = s.str();
    ::unlink(errName);
    return r;
}

bool have_program(const std::string& name) {
    return run_command("command -v " + shell_quote(name) + " >/dev/null").exitCode == 0;
}

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vx_integration_XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
}

namespace {

// "key=value|key=value" lines of ffprobe's compact writer.
std::vector<std::map<std::string, std::string>> compact_records(const std::string& text,
                                                                const std::string& section) {
    std::vector<std::map<std::string, std::string>> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string field;
        if (!std::getline(fields, field, '|') || field != section) continue;
        std::map<std::string, std::string> rec;
        while (std::getline(fields, field, '|')) {
            const std::size_t eq = field.find('=');
            if (eq != std::string::npos) rec[field.substr(0, eq)] = field.substr(eq + 1);
        }
        out.push_back(std::move(rec));
    }
    return out;
}

long long to_number(const std::map<std::string, std::string>& rec, const std::string& key,
                    long long fallback) {
    const auto it = rec.find(key);
    if (it == rec.end() || it->second.empty() || it->second == "N/A") return fallback;
    return std::strtoll(it->second.c_str(), nullptr, 10);
}

}  // namespace

std::vector<Packet> ffprobe_packets(const std::string& path, DataHash hash) {
    const bool crc = hash == DataHash::kCrc32;
    const CommandResult r =
        run_command(std::string("ffprobe -v error -fflags +noparse+nofillin -show_data_hash ") +
                    (crc ? "CRC32" : "MD5") +
                    " -show_entries packet=stream_index,size,pos,flags,data_hash -of compact " +
                    shell_quote(path));
    std::vector<Packet> out;
    for (const auto& rec : compact_records(r.out, "packet")) {
        Packet p;
        p.stream = static_cast<int>(to_number(rec, "stream_index", -1));
        p.size = static_cast<uint32_t>(to_number(rec, "size", 0));
        p.pos = to_number(rec, "pos", -1);
        const auto flags = rec.find("flags");
        p.key = flags != rec.end() && flags->second.find('K') != std::string::npos;
        // "MD5:<hex>" or "CRC32:<hex>"
        const auto value = rec.find("data_hash");
        if (value != rec.end())
            (crc ? p.crc32 : p.md5) = value->second.substr(value->second.find(':') + 1);
        out.push_back(std::move(p));
    }
    return out;
}

std::vector<ProbeStream> ffprobe_streams(const std::string& path) {
    const CommandResult r = run_command(
        "ffprobe -v error -show_entries stream=index,codec_type,width,height,sample_rate,channels "
        "-of compact " +
        shell_quote(path));
    std::vector<ProbeStream> out;
    for (const auto& rec : compact_records(r.out, "stream")) {
        ProbeStream s;
        s.index = static_cast<int>(to_number(rec, "index", -1));
        const auto type = rec.find("codec_type");
        if (type != rec.end()) s.type = type->second;
        s.width = static_cast<int>(to_number(rec, "width", 0));
        s.height = static_cast<int>(to_number(rec, "height", 0));
        s.sampleRate = static_cast<int>(to_number(rec, "sample_rate", 0));
        s.channels = static_cast<int>(to_number(rec, "channels", 0));
        out.push_back(s);
    }
    return out;
}

std::vector<Packet> packets_of(const std::vector<Packet>& all, int stream) {
    std::vector<Packet> out;
    for (const Packet& p : all)
        if (p.stream == stream) out.push_back(p);
    return out;
}

std::vector<unsigned char> read_range(const std::string& path, uint64_t offset, uint32_t size) {
    std::vector<unsigned char> out(size);
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return {};
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(fd, out.data() + done, size - done, static_cast<off_t>(offset + done));
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
    }
    ::close(fd);
    out.resize(done);
    return out;
}

uint64_t file_size(const std::string& path) {
    std::error_code ec;
    const auto n = fs::file_size(path, ec);
    return ec ? 0 : n;
}

uint32_t crc32_bitwise(const void* data, std::size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

bool strip_idx1(const std::string& path) {
    const uint64_t size = file_size(path);
    // The top-level form: find "idx1" among its children.
    uint64_t pos = 12;
    while (pos + 8 <= size) {
        const std::vector<unsigned char> h = read_range(path, pos, 8);
        if (h.size() != 8) return false;
        const uint32_t len = h[4] | h[5] << 8 | h[6] << 16 | static_cast<uint32_t>(h[7]) << 24;
        if (std::memcmp(h.data(), "idx1", 4) == 0) {
            std::error_code ec;
            fs::resize_file(path, pos, ec);
            if (ec) return false;
            const uint32_t riff = static_cast<uint32_t>(pos - 8);
            const unsigned char b[4] = {
                static_cast<unsigned char>(riff), static_cast<unsigned char>(riff >> 8),
                static_cast<unsigned char>(riff >> 16), static_cast<unsigned char>(riff >> 24)};
            const int fd = ::open(path.c_str(), O_WRONLY);
            const bool ok = fd >= 0 && ::pwrite(fd, b, 4, 4) == 4;
            if (fd >= 0) ::close(fd);
            return ok;
        }
        pos += 8 + len + (len & 1u);
    }
    return false;
}

std::string first_logged_site() {
    VxHostErrorRecord rec{};
    if (VxHostErrorCount() == 0 || !VxHostErrorGet(0, &rec)) return "(nothing logged)";
    rec.source[sizeof rec.source - 1] = '\0';
    char b[128];
    std::snprintf(b, sizeof b, "%s:%d code=0x%08X", rec.source, static_cast<int>(rec.line),
                  static_cast<unsigned>(rec.code));
    return b;
}

OpenedAvi::OpenedAvi(const std::string& path, bool withName) {
    fd_ = ::open(path.c_str(), O_RDONLY);
    if (fd_ < 0) {
        result_ = AVIERR_FILEREAD;
        return;
    }
    VxHostErrorClear();
    result_ = aviOpen(&reader_, reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd_)),
                      withName ? path.c_str() : nullptr);
}

OpenedAvi::~OpenedAvi() {
    if (reader_ != nullptr) aviClose(reader_);
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace vxtest
