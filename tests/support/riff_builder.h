// Test-only construction of RIFF/AVI files in memory.
//
// RiffBuilder writes chunks in file order: begin a list, write its children,
// end it, and the sizes and pad bytes are filled in. Every writer returns the
// header position of what it wrote, so that tests can point indexes at
// chunks and overwrite any field afterwards (set_size, patch32) to produce
// broken files on purpose. AviLayout describes an ordinary file in a few lines;
// TempAviFile puts the bytes into a real file for the reader.
//
// Header-only and free of test-framework dependencies: it is shared by the
// unit and the integration tests.
#pragma once

#include <vxmedia/vxtypes.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "riff_walk.h"
#include "test_files.h"
#include "util/byte_io.h"

namespace vxtest {

using Bytes = std::vector<uint8_t>;

// A four-character code, from a literal ("00dc") or a value.
struct Fcc {
    uint32_t value = 0;
    constexpr Fcc() = default;
    constexpr Fcc(uint32_t v) : value(v) {}  // NOLINT: implicit on purpose
    constexpr Fcc(const char (&s)[5])        // NOLINT: implicit on purpose
        : value(VX_MAKEFOURCC(s[0], s[1], s[2], s[3])) {}
    constexpr operator uint32_t() const { return value; }  // NOLINT
};

// The chunk id of stream `stream`'s samples: two upper-case hex digits and a
// two-letter type ("0Awb" for stream 10).
inline Fcc stream_chunk_id(int stream, const char* type) {
    return vx::stream_prefix(static_cast<uint32_t>(stream)) |
           VX_MAKEFOURCC(0, 0, type[0], type[1]);
}

// Bytes that differ with `seed`, so that data read from a wrong chunk shows.
inline Bytes pattern(std::size_t size, uint8_t seed) {
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

// ---- OpenDML index descriptions ----

struct SuperEntry {
    uint64_t offset = 0;  // header position of a standard index chunk
    uint32_t size = 0;    // that chunk's size including its 8-byte header
    uint32_t duration = 0;
};

struct SuperIndex {
    Fcc chunkId = 0u;
    std::vector<SuperEntry> entries = {};
    uint32_t slots = 0;  // room for this many entries (at least entries.size())
    uint8_t subType = 0;
    uint16_t longsPerEntry = 4;
    uint8_t type = 0;  // index of indexes
    std::optional<uint32_t> entriesInUse = std::nullopt;
};

struct StdEntry {
    uint32_t offset = 0;  // data position minus the index's base
    uint32_t size = 0;    // bit 31: not a key frame
    uint32_t secondField = 0;

    static StdEntry key(uint32_t offset, uint32_t size) { return {offset, size, 0}; }
    static StdEntry delta(uint32_t offset, uint32_t size) {
        return {offset, size | 0x80000000u, 0};
    }
};

struct StandardIndex {
    Fcc chunkId = 0u;
    uint64_t base = 0;
    std::vector<StdEntry> entries = {};
    bool twoField = false;  // sub-type 1 with three longs per entry
    std::optional<uint16_t> longsPerEntry = std::nullopt;
    std::optional<uint8_t> subType = std::nullopt;
    uint8_t type = 1;  // index of chunks
    std::optional<uint32_t> entriesInUse = std::nullopt;
};

struct Idx1Entry {
    Fcc id = 0u;
    uint32_t flags = 0;
    uint32_t offset = 0;  // header position, relative to some base
    uint32_t length = 0;
};

// ---- the builder ----

class RiffBuilder {
public:
    std::size_t pos() const { return data_.size(); }
    const Bytes& data() const { return data_; }

    // Closes every chunk still open and returns the bytes.
    Bytes finish() {
        while (!open_.empty()) end();
        return data_;
    }
    // Cuts the file short, as a crash or a copy error would.
    void truncate(std::size_t size) { data_.resize(std::min(size, data_.size())); }

    // Raw little-endian values.
    void u8(uint8_t v) { data_.push_back(v); }
    void u16(uint16_t v) { put_le(v, 2); }
    void u32(uint32_t v) { put_le(v, 4); }
    void u64(uint64_t v) { put_le(v, 8); }
    void fcc(Fcc v) { u32(v); }
    void bytes(const Bytes& b) { data_.insert(data_.end(), b.begin(), b.end()); }
    void raw(const void* p, std::size_t n) {
        const auto* b = static_cast<const uint8_t*>(p);
        data_.insert(data_.end(), b, b + n);
    }
    void zeros(std::size_t n) { data_.insert(data_.end(), n, 0); }

    // Nesting. begin_* return the header position; end() writes the size of
    // the innermost open chunk, adds the pad byte of an odd size, and returns
    // its header position.
    std::size_t begin_list(Fcc id, Fcc type) {
        const std::size_t at = begin_chunk(id);
        fcc(type);
        return at;
    }
    std::size_t riff(Fcc form) { return begin_list("RIFF", form); }
    std::size_t list(Fcc type) { return begin_list("LIST", type); }
    std::size_t begin_chunk(Fcc id) {
        const std::size_t at = pos();
        fcc(id);
        u32(0);
        open_.push_back(at);
        return at;
    }
    std::size_t end() { return close(std::nullopt); }
    // Closes chunks until `depth` are open (1: the form).
    void end_to(std::size_t depth) {
        while (open_.size() > depth) end();
    }
    // As end(), but the header declares `size` instead of the real length.
    std::size_t end_declaring(uint32_t size) { return close(size); }

    // A chunk with the given data; the declared size may be overridden.
    std::size_t chunk(Fcc id, const Bytes& data, std::optional<uint32_t> declared = {}) {
        const std::size_t at = begin_chunk(id);
        bytes(data);
        close(declared);
        return at;
    }

    // Escape hatches on bytes already written.
    void set_size(std::size_t header, uint32_t size) { patch32(header + 4, size); }
    void patch32(std::size_t at, uint32_t v) { patch_le(at, v, 4); }
    void patch64(std::size_t at, uint64_t v) { patch_le(at, v, 8); }

    // ---- AVI header chunks ----

    // The first `length` bytes of the record, zero-extended past its end.
    std::size_t avih(const MainAVIHeader& h, uint32_t length = sizeof(MainAVIHeader)) {
        return chunk("avih", record_bytes(&h, sizeof h, length));
    }
    // 56 bytes is the published record; 64 holds the frame rectangle as four
    // 32-bit values.
    std::size_t strh(const AVIStreamHeader& h, uint32_t length = 56) {
        return chunk("strh", record_bytes(&h, sizeof h, length));
    }
    std::size_t strf(const BITMAPINFOHEADER& bi) {
        return chunk("strf", record_bytes(&bi, sizeof bi, sizeof bi));
    }
    std::size_t strf(const WAVEFORMATEX& wf, uint32_t length = sizeof(WAVEFORMATEX)) {
        return chunk("strf", record_bytes(&wf, sizeof wf, length));
    }
    std::size_t strf_raw(const Bytes& b) { return chunk("strf", b); }
    std::size_t strd(const Bytes& b) { return chunk("strd", b); }
    // Total frame count and reserved space; `length` below 4 cuts the count.
    std::size_t dmlh(uint32_t totalFrames, uint32_t length = 248) {
        return chunk("dmlh", record_bytes(&totalFrames, 4, length));
    }
    // Opens a stream list and writes its stream header.
    std::size_t begin_stream_list(const AVIStreamHeader& h, uint32_t strhLength = 56) {
        const std::size_t at = list("strl");
        strh(h, strhLength);
        return at;
    }

    // ---- OpenDML indexes ----

    std::size_t super_index(const SuperIndex& s, Fcc id = "indx") {
        const std::size_t at = begin_chunk(id);
        u16(s.longsPerEntry);
        u8(s.subType);
        u8(s.type);
        u32(s.entriesInUse.value_or(static_cast<uint32_t>(s.entries.size())));
        fcc(s.chunkId);
        zeros(12);  // reserved
        const std::size_t slots = std::max<std::size_t>(s.slots, s.entries.size());
        for (std::size_t i = 0; i < slots; ++i) {
            const SuperEntry e = i < s.entries.size() ? s.entries[i] : SuperEntry{};
            u64(e.offset);
            u32(e.size);
            u32(e.duration);
        }
        end();
        return at;
    }
    // Fills slot `slot` of a super index written earlier (its standard index
    // chunks usually come later in the file) and counts it as in use.
    void set_super_entry(std::size_t header, uint32_t slot, const SuperEntry& e) {
        const std::size_t inUse = header + 8 + 4;
        patch32(inUse, std::max(read32(inUse), slot + 1));
        const std::size_t at = header + 8 + 24 + 16u * slot;
        patch64(at, e.offset);
        patch32(at + 8, e.size);
        patch32(at + 12, e.duration);
    }
    // An inline standard index ("indx") or a standard index chunk ("ix00").
    std::size_t standard_index(const StandardIndex& s, Fcc id) {
        const std::size_t at = begin_chunk(id);
        const uint16_t longs = s.longsPerEntry.value_or(s.twoField ? 3 : 2);
        u16(longs);
        u8(s.subType.value_or(s.twoField ? 1 : 0));
        u8(s.type);
        u32(s.entriesInUse.value_or(static_cast<uint32_t>(s.entries.size())));
        fcc(s.chunkId);
        u64(s.base);
        u32(0);  // reserved
        for (const StdEntry& e : s.entries) {
            u32(e.offset);
            u32(e.size);
            if (s.twoField) u32(e.secondField);
        }
        end();
        return at;
    }
    // The super index entry describing a standard index chunk written at
    // `header`.
    SuperEntry super_entry_for(std::size_t header, uint32_t duration) const {
        return {header, read32(header + 4) + 8, duration};
    }

    // ---- classic index ----

    std::size_t idx1(const std::vector<Idx1Entry>& entries) {
        const std::size_t at = begin_chunk("idx1");
        for (const Idx1Entry& e : entries) {
            fcc(e.id);
            u32(e.flags);
            u32(e.offset);
            u32(e.length);
        }
        end();
        return at;
    }

    uint32_t read32(std::size_t at) const { return le32_at(data_, at); }

private:
    std::size_t close(std::optional<uint32_t> declared) {
        if (open_.empty()) throw std::logic_error("RiffBuilder: end() without an open chunk");
        const std::size_t at = open_.back();
        open_.pop_back();
        const std::size_t length = pos() - at - 8;
        set_size(at, declared.value_or(static_cast<uint32_t>(length)));
        if (length & 1) u8(0);
        return at;
    }
    static Bytes record_bytes(const void* p, std::size_t size, std::size_t length) {
        Bytes b(length, 0);
        std::memcpy(b.data(), p, std::min(size, length));
        return b;
    }
    void put_le(uint64_t v, int n) {
        for (int i = 0; i < n; ++i) data_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void patch_le(std::size_t at, uint64_t v, int n) {
        for (int i = 0; i < n; ++i) data_.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
    }

    Bytes data_;
    std::vector<std::size_t> open_;
};

// The start of a file built by hand: "RIFF" "AVI " and its header list
// opened, holding the main header `main` when there is one.
inline RiffBuilder avi_header_start(const std::optional<MainAVIHeader>& main) {
    RiffBuilder b;
    b.riff("AVI ");
    b.list("hdrl");
    if (main) b.avih(*main);
    return b;
}

// ---- ordinary files in a few lines ----

struct StreamLayout {
    AVIStreamHeader header{};
    Bytes format = {};
    Bytes codecData = {};
};

inline BITMAPINFOHEADER bitmap_info(int32_t width, int32_t height, uint16_t bits = 24) {
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = width;
    bi.biHeight = height;
    bi.biPlanes = 1;
    bi.biBitCount = bits;
    bi.biSizeImage = static_cast<uint32_t>(width * height * bits / 8);
    return bi;
}

inline WAVEFORMATEX wave_format(uint16_t channels, uint32_t rate, uint16_t bits) {
    WAVEFORMATEX wf{};
    wf.wFormatTag = 1;
    wf.nChannels = channels;
    wf.nSamplesPerSec = rate;
    wf.nBlockAlign = static_cast<uint16_t>(channels * bits / 8);
    wf.nAvgBytesPerSec = rate * wf.nBlockAlign;
    wf.wBitsPerSample = bits;
    return wf;
}

template <class T>
Bytes as_bytes(const T& record) {
    const auto* p = reinterpret_cast<const uint8_t*>(&record);
    return Bytes(p, p + sizeof record);
}

inline StreamLayout video_stream(uint32_t length, uint32_t start = 0) {
    StreamLayout s;
    s.header.fccType = Fcc("vids");
    s.header.fccHandler = Fcc("DIB ");
    s.header.dwScale = 1;
    s.header.dwRate = 25;
    s.header.dwStart = start;
    s.header.dwLength = length;
    s.header.dwQuality = 0xFFFFFFFFu;
    s.format = as_bytes(bitmap_info(4, 2));
    return s;
}

// 16-bit stereo: four bytes per sample.
inline StreamLayout audio_stream(uint32_t length, uint32_t start = 0) {
    StreamLayout s;
    const WAVEFORMATEX wf = wave_format(2, 8000, 16);
    s.header.fccType = Fcc("auds");
    s.header.dwScale = wf.nBlockAlign;
    s.header.dwRate = wf.nAvgBytesPerSec;
    s.header.dwStart = start;
    s.header.dwLength = length;
    s.header.dwSampleSize = wf.nBlockAlign;
    s.format = as_bytes(wf);
    return s;
}

struct Sample {
    int stream = 0;
    Bytes data = {};
    uint32_t flags = AVIIF_KEYFRAME;  // as written to idx1
    Fcc id = 0u;                      // 0: derived from the stream's type
};

enum class Idx1Offsets { kRelative, kAbsolute, kNone };

struct BuiltAvi {
    Bytes bytes;
    std::vector<uint64_t> dataPos;  // where each sample's data starts
    uint64_t moviWord = 0;          // position of the "movi" list type
};

// A complete single-segment file: header list, movie list, optional idx1.
struct AviLayout {
    std::vector<StreamLayout> streams = {};
    std::vector<Sample> samples = {};
    Idx1Offsets index = Idx1Offsets::kRelative;
    uint32_t avihFlags = 0;
    bool junkFirst = false;    // an unindexed JUNK chunk leads the movie list
    int samplesPerRecord = 0;  // > 0: samples grouped in "rec " lists

    Fcc id_of(const Sample& s) const {
        if (s.id != 0u) return s.id;
        const bool audio = streams.at(s.stream).header.fccType == Fcc("auds");
        return stream_chunk_id(s.stream, audio ? "wb" : "dc");
    }

    BuiltAvi build() const {
        RiffBuilder b;
        BuiltAvi out;
        b.riff("AVI ");
        b.list("hdrl");
        MainAVIHeader h{};
        h.dwMicroSecPerFrame = 40000;
        h.dwFlags = avihFlags;
        h.dwStreams = static_cast<uint32_t>(streams.size());
        for (const StreamLayout& s : streams) {
            if (s.header.fccType == Fcc("vids")) h.dwTotalFrames = s.header.dwLength;
        }
        b.avih(h);
        for (const StreamLayout& s : streams) {
            b.list("strl");
            b.strh(s.header);
            b.strf_raw(s.format);
            if (!s.codecData.empty()) b.strd(s.codecData);
            b.end();
        }
        b.end();

        const std::size_t moviWord = b.list("movi") + 8;
        out.moviWord = moviWord;
        if (junkFirst) b.chunk("JUNK", Bytes(6, 0xAA));
        std::vector<Idx1Entry> entries;
        const uint32_t base = index == Idx1Offsets::kRelative ? static_cast<uint32_t>(moviWord) : 0;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            if (samplesPerRecord > 0 && i % samplesPerRecord == 0) {
                if (i != 0) b.end();
                const std::size_t rec = b.list("rec ");
                entries.push_back({"rec ", AVIIF_LIST, static_cast<uint32_t>(rec) - base, 0});
            }
            const Sample& s = samples[i];
            const std::size_t at = b.chunk(id_of(s), s.data);
            out.dataPos.push_back(at + 8);
            entries.push_back({id_of(s), s.flags, static_cast<uint32_t>(at) - base,
                               static_cast<uint32_t>(s.data.size())});
        }
        if (samplesPerRecord > 0 && !samples.empty()) b.end();
        b.end();  // movi
        if (index != Idx1Offsets::kNone) b.idx1(entries);
        out.bytes = b.finish();
        return out;
    }
};

// ---- a real file for the reader ----

// The bytes in a temporary file, removed when the object goes. The host
// handle carries the descriptor.
class TempAviFile {
public:
    explicit TempAviFile(const Bytes& bytes) {
        path_ = make_temp_file("vxr");
        handle_ = open_file(path_, Access::kReadWrite);
        if (path_.empty() || handle_ == INVALID_HANDLE_VALUE)
            throw std::runtime_error("cannot create a temporary file");
        write_at(0, bytes);
    }
    ~TempAviFile() {
        close_file(handle_);
        remove_file(path_);
    }
    TempAviFile(const TempAviFile&) = delete;
    TempAviFile& operator=(const TempAviFile&) = delete;

    HANDLE handle() const { return handle_; }
    const std::string& path() const { return path_; }

    // For files too large to build in memory: holes read as zeros.
    void resize(uint64_t size) {
        if (!set_size(handle_, size)) throw std::runtime_error("cannot resize");
    }
    void write_at(uint64_t position, const Bytes& bytes) {
        if (!write_all(handle_, bytes.data(), bytes.size(), position))
            throw std::runtime_error("write failed");
    }

private:
    std::string path_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace vxtest
