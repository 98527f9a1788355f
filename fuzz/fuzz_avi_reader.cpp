// libFuzzer target for the AVI reader: each input is written to a file, opened
// once through the host handle only and once with a name (so frames also go
// through the block cache), and every read entry point is called on it.
//
// Besides the sanitizers, a few checks catch what does not crash: successful
// reads must return the file's bytes for the entries the index gives, no index
// may be larger than the file has room for, and the reader must not leave
// descriptors open on the file after aviClose.
#include <VexaInfo.h>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vxmedia/aviframes.h>
#include <vxmedia/avireader.h>
#include <vxmedia/vxutil.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "input_file.h"

namespace {

// Frames bigger than this are only sized, never read: a host would not hand
// the reader more, and big buffers make every input slow.
constexpr uint32_t kMaxBuffer = 4u << 20;
constexpr uint32_t kMaxAudioBuffer = 64u << 10;
constexpr uint32_t kMaxStreamsTouched = 8;
// aviGetVideoFrameData writes one record per index entry.
constexpr uint32_t kMaxFrameInfos = 1u << 20;
constexpr uint32_t kMaxDecodedIndex = 4096;

struct Input {
    const uint8_t* data;
    size_t size;
};

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_avi_reader: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

// A heap block of exactly the size given to the reader, so that ASan reports
// any write past what the reader was told it may use.
class Buffer {
public:
    explicit Buffer(size_t n) : p_(static_cast<unsigned char*>(std::malloc(n ? n : 1))) {
        check(p_ != nullptr, "out of memory for a read buffer");
    }
    ~Buffer() { std::free(p_); }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    unsigned char* get() const { return p_; }

private:
    unsigned char* p_;
};

// Reads every byte so that ASan checks the whole range the reader handed out.
void touch(const void* p, size_t n) {
    if (p == nullptr) return;
    const auto* b = static_cast<const unsigned char*>(p);
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i) sum += b[i];
    volatile unsigned sink = sum;
    (void)sink;
}

// A successful read of index entry `e` must have returned the file's own bytes.
void expect_file_bytes(const Input& in, const AviIndexEntry& e, const unsigned char* got,
                       uint32_t gotSize) {
    check(gotSize == e.size, "read returned a size other than the index entry's");
    // An empty entry reads nothing, wherever it points.
    if (e.size == 0) return;
    check(e.offset <= in.size && e.size <= in.size - e.offset,
          "read succeeded for bytes past the end of the file");
    check(got != nullptr, "read succeeded without data");
    check(std::memcmp(got, in.data + e.offset, e.size) == 0,
          "read returned bytes other than the file's at the indexed position");
}

// ---- The file the reader opens ----

// Made at initialisation; a temporary file goes at exit.
const vxfuzz::InputFile& input_file() {
    static const vxfuzz::InputFile file("fuzz_avi_reader");
    return file;
}

// Descriptors of this process open on the input file, ours included; -1 when
// /proc cannot tell. Others (the symbolizer's, libFuzzer's) are not counted.
int descriptors_on_file() {
    struct stat own;
    if (::fstat(input_file().fd(), &own) != 0) return -1;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int n = 0;
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0') continue;
        struct stat st;
        if (::fstat(static_cast<int>(fd), &st) == 0 && st.st_dev == own.st_dev &&
            st.st_ino == own.st_ino)
            ++n;
    }
    ::closedir(dir);
    return n;
}

HANDLE host_handle() { return input_file().handle(); }

// ---- Calls on an open reader ----

const AviStreamRecord* stream_record(AviReader* r, int32_t stream) {
    if (stream < 0) return nullptr;
    return aviGetAVIStream(r, static_cast<uint32_t>(stream));
}

// Every indexed chunk has an 8-byte header in the file, so an index with more
// entries than that is made up, and only costs memory and time.
void check_index_sizes(AviReader* r, const Input& in) {
    const uint64_t limit = in.size / 8 + 10;
    check(r->videoIndex.count <= limit, "video index larger than the file could hold");
    check(r->audioIndex.count <= limit, "audio index larger than the file could hold");
}

void exercise_headers(AviReader* r) {
    const uint32_t n = aviGetStreamCount(r);
    touch(aviGetAVIHeader(r), sizeof(MainAVIHeader));
    for (uint32_t i = 0; i < n && i < kMaxStreamsTouched; ++i) {
        AviStreamRecord* s = aviGetAVIStream(r, i);
        check(s != nullptr, "a stream below the stream count has no record");
        touch(&s->header, sizeof s->header);
        touch(s->format, s->formatSize);
        touch(s->codecData, s->codecDataSize);
    }
    (void)aviGetAVIStream(r, n);
    (void)aviGetAVIStream(r, UINT32_MAX);
    check(r->videoStream < 0 || static_cast<uint32_t>(r->videoStream) < n,
          "video stream number out of range");
    check(r->audioStream < 0 || static_cast<uint32_t>(r->audioStream) < n,
          "audio stream number out of range");
    check((r->videoIndex.count == 0) == (r->videoIndex.entries == nullptr),
          "video index count and entries disagree");
    check((r->audioIndex.count == 0) == (r->audioIndex.entries == nullptr),
          "audio index count and entries disagree");
}

// Index entry that frame `frame` names without clamping, or null.
const AviIndexEntry* unclamped_entry(AviReader* r, int32_t frame) {
    const AviStreamRecord* s = stream_record(r, r->videoStream);
    if (s == nullptr) return nullptr;
    const int64_t p = static_cast<int64_t>(frame) + s->header.dwStart;
    if (p < 0 || p >= static_cast<int64_t>(r->videoIndex.count)) return nullptr;
    // aviReadFramePtr also clamps to the stream's length.
    if (p > static_cast<int64_t>(s->header.dwStart) + s->header.dwLength - 1) return nullptr;
    return &r->videoIndex.entries[p];
}

int32_t frame_number(int64_t v) {
    return static_cast<int32_t>(std::max<int64_t>(INT32_MIN, std::min<int64_t>(INT32_MAX, v)));
}

void exercise_frames(AviReader* r, const Input& in) {
    const AviStreamRecord* s = stream_record(r, r->videoStream);
    const int64_t start = s ? s->header.dwStart : 0;
    const int64_t count = r->videoIndex.count;
    const int32_t frames[] = {
        0,
        1,
        frame_number(count / 2 - start),
        frame_number(count - 1 - start),
        frame_number(count - start),
        -1,
        INT32_MIN,
        INT32_MAX,
        frame_number(static_cast<int64_t>(in.size % static_cast<size_t>(count + 1)) - start),
    };

    bool triedSmall = false;
    for (const int32_t f : frames) {
        uint32_t size = 0, flags = 0;
        if (aviReadFrame(r, f, nullptr, &size, &flags) != 0 || size > kMaxBuffer) continue;
        {
            Buffer b(size);
            uint32_t got = size;
            if (aviReadFrame(r, f, b.get(), &got, &flags) == 0) {
                if (const AviIndexEntry* e = unclamped_entry(r, f))
                    expect_file_bytes(in, *e, b.get(), got);
            }
        }
        if (size > 0 && !triedSmall) {
            // One byte short: the reader must refuse rather than overrun.
            triedSmall = true;
            Buffer small(size - 1);
            uint32_t got = size - 1;
            check(aviReadFrame(r, f, small.get(), &got, &flags) != 0,
                  "a frame read into a too small buffer succeeded");
        }
    }

    // Pointer reads, several held at once so that cache blocks stay pinned.
    const int32_t ptrFrames[] = {0, frame_number(count - 1 - start), -1, frame_number(count / 3)};
    for (int32_t noCopy = 0; noCopy <= 1; ++noCopy) {
        unsigned char* held[4] = {};
        for (int i = 0; i < 4; ++i) {
            uint32_t size = 0, flags = 0;
            unsigned char* data = nullptr;
            const VXRESULT err = aviReadFramePtr(r, ptrFrames[i], &data, &size, &flags, noCopy);
            if (err != 0) {
                check(data == nullptr, "a failed pointer read returned data");
                continue;
            }
            if (data != nullptr) {
                touch(data, size);
                if (const AviIndexEntry* e = unclamped_entry(r, ptrFrames[i]))
                    expect_file_bytes(in, *e, data, size);
            }
            held[i] = data;
        }
        for (unsigned char* p : held) aviReadFramePtrRelease(p);
    }
    uint32_t size = 0, flags = 0;
    (void)aviReadFramePtr(r, 0, nullptr, &size, &flags, 0);
}

enum class Expected { kBytes, kNotIndexed, kOutsideFile };

// Audio samples [start, start + count) of fixed-size samples as the file holds
// them, found by walking the index from its first entry: each entry holds
// size / sampleSize samples, the first from the stream's start.
Expected expected_audio(AviReader* r, const Input& in, uint32_t start, uint32_t count,
                        std::string* out) {
    const AviStreamRecord* s = stream_record(r, r->audioStream);
    const uint32_t d = s->header.dwSampleSize;
    out->clear();
    uint64_t first = s->header.dwStart;
    uint64_t sample = start;
    const uint64_t end = static_cast<uint64_t>(start) + count;
    bool inFile = true;
    for (uint32_t i = 0; i < r->audioIndex.count && sample < end; ++i) {
        const AviIndexEntry& e = r->audioIndex.entries[i];
        const uint64_t n = e.size / d;
        if (sample >= first && sample < first + n) {
            const uint64_t take = std::min(first + n, end) - sample;
            const uint64_t at = e.offset + (sample - first) * d;
            const uint64_t len = take * d;
            if (at > in.size || len > in.size - at)
                inFile = false;
            else
                out->append(reinterpret_cast<const char*>(in.data + at), static_cast<size_t>(len));
            sample += take;
        }
        first += n;
    }
    if (sample != end) return Expected::kNotIndexed;
    return inFile ? Expected::kBytes : Expected::kOutsideFile;
}

// A successful read of audio samples must return the file's bytes for them.
void expect_audio(AviReader* r, const Input& in, uint32_t start, uint32_t count,
                  const unsigned char* got, uint32_t gotSize) {
    const AviStreamRecord* s = stream_record(r, r->audioStream);
    if (s == nullptr || s->header.dwSampleSize == 0 || count == 0) return;
    std::string want;
    const Expected e = expected_audio(r, in, start, count, &want);
    check(e != Expected::kNotIndexed, "audio read succeeded for samples the index does not hold");
    check(e != Expected::kOutsideFile, "audio read succeeded for bytes past the end of the file");
    check(want.size() == gotSize, "audio read size differs from the samples' size");
    check(std::memcmp(want.data(), got, gotSize) == 0,
          "audio read returned bytes other than the file's for those samples");
}

void exercise_data(AviReader* r, const Input& in) {
    const int32_t streams[] = {0, 1, 2, 3, -1, 255, r->videoStream, r->audioStream};
    for (const int32_t stream : streams) {
        const int32_t mapped = stream == 0 ? r->videoStream : stream == 1 ? r->audioStream : stream;
        const AviStreamRecord* s = stream_record(r, mapped);
        const uint32_t first = s ? s->header.dwStart : 0;
        const uint32_t length = s ? s->header.dwLength : 0;
        const uint32_t starts[] = {
            first,          first + 1, first + length / 2, first + length - 1,
            first + length, 0,         UINT32_MAX};
        const uint32_t counts[] = {1, 2, 7};
        for (const uint32_t start : starts) {
            for (const uint32_t count : counts) {
                uint32_t size = 0, flags = 0, chunkId = 0;
                if (aviReadData(r, stream, start, count, nullptr, &size, &flags, &chunkId) != 0)
                    continue;
                if (size > kMaxBuffer) continue;
                Buffer b(size);
                uint32_t got = size;
                if (aviReadData(r, stream, start, count, b.get(), &got, &flags, &chunkId) != 0)
                    continue;
                check(got == size, "data read size differs from the size it announced");
                // A video sample is one whole entry.
                if (mapped == r->videoStream && count == 1 && s != nullptr) {
                    const uint64_t p = static_cast<uint64_t>(start) - first;
                    if (p < r->videoIndex.count)
                        expect_file_bytes(in, r->videoIndex.entries[p], b.get(), got);
                }
                if (mapped == r->audioStream && mapped != r->videoStream)
                    expect_audio(r, in, start, count, b.get(), got);
            }
        }
        uint32_t size = 0;
        (void)aviReadData(r, stream, first, 0, nullptr, &size, nullptr, nullptr);
    }
}

// One audio read of at most `bytes` from `start`; false when nothing was read.
bool read_audio(AviReader* r, const Input& in, uint32_t start, uint32_t bytes, uint32_t* count) {
    Buffer b(bytes);
    uint32_t size = bytes;
    *count = 0;
    if (aviReadAudSamples(r, start, count, b.get(), &size) != 0) return false;
    check(size <= bytes, "audio read reports more bytes than the buffer holds");
    if (*count != 0) expect_audio(r, in, start, *count, b.get(), size);
    return *count != 0;
}

void exercise_audio(AviReader* r, const Input& in) {
    const AviStreamRecord* s = stream_record(r, r->audioStream);
    if (s == nullptr) {
        uint32_t count = 0, size = 16;
        unsigned char b[16];
        (void)aviReadAudSamples(r, 0, &count, b, &size);
        return;
    }
    const uint32_t first = s->header.dwStart;
    const uint32_t length = s->header.dwLength;
    const uint32_t d = s->header.dwSampleSize;

    // Sequential reads continue from the reader's cursor.
    uint32_t at = first;
    for (int i = 0; i < 8; ++i) {
        const uint32_t bytes =
            (i % 3 == 0 && d != 0 && d <= kMaxAudioBuffer / 3) ? 3 * d : kMaxAudioBuffer;
        uint32_t count = 0;
        if (!read_audio(r, in, at, bytes, &count)) break;
        at += count;
    }
    // Backwards, then forwards again, then past the end; a few samples and one.
    const uint32_t one = d != 0 && d <= kMaxAudioBuffer ? d : 1;
    const uint32_t positions[] = {first + length / 2, first, first + length - 1, first + length,
                                  UINT32_MAX};
    uint32_t count = 0;
    for (const uint32_t p : positions) {
        (void)read_audio(r, in, p, 4096, &count);
        (void)read_audio(r, in, p, one, &count);
    }
    // Sizing only.
    uint32_t size = kMaxAudioBuffer;
    (void)aviReadAudSamples(r, first, &count, nullptr, &size);
}

void exercise_index(AviReader* r, const Input& in) {
    const AviStreamRecord* s = stream_record(r, r->videoStream);
    const uint32_t first = s ? s->header.dwStart : 0;
    const uint32_t length = s ? s->header.dwLength : 0;
    const uint32_t positions[] = {0,
                                  first,
                                  first + 1,
                                  first + length / 2,
                                  first + length - 1,
                                  r->videoIndex.count,
                                  static_cast<uint32_t>(in.size),
                                  UINT32_MAX};
    for (uint32_t p : positions) {
        if (aviFindKeyFrame(r, &p) == 0 && r->indexFlags != 0)
            check(p < r->videoIndex.count, "key frame position outside the index");
    }

    uint32_t bytes = 0;
    if (aviGetVideoFrameData(r, nullptr, &bytes) == 0) {
        const uint32_t n = bytes / static_cast<uint32_t>(sizeof(AviFrameInfo));
        // The size must cover every entry the call will write.
        check(n == r->videoIndex.count, "frame data size does not match the index");
        if (n <= kMaxFrameInfos) {
            Buffer b(static_cast<size_t>(n) * sizeof(AviFrameInfo));
            (void)aviGetVideoFrameData(r, reinterpret_cast<AviFrameInfo*>(b.get()), nullptr);
        }
    }

    const int32_t streams[] = {-1, 0, 1, 2, 3, 255, r->videoStream, r->audioStream};
    for (const int32_t stream : streams) {
        AviStreamSummary summary;
        if (aviGetStreamSummary(r, stream, &summary) != 0) continue;
        const uint32_t expected =
            stream == r->videoStream ? r->videoIndex.count : r->audioIndex.count;
        check(summary.entries == expected, "summary entry count differs from the index");
    }
}

// Frames through the frame decoder. No codec is installed here, so this
// covers set-up, uncompressed frames and run-length expansion.
void exercise_decoding(AviReader* r) {
    // A delta frame is decoded from its key frame on: long runs of frames
    // without one make each call read them all, which only slows fuzzing.
    if (r->videoIndex.count > kMaxDecodedIndex) return;
    AviFrameDecoder* d = nullptr;
    if (aviGetFrameInit(r, &d) != 0) {
        check(d == nullptr, "a failed aviGetFrameInit left a handle");
        return;
    }
    const AviStreamRecord* s = aviGetAVIStream(r, static_cast<uint32_t>(r->videoStream));
    const int64_t length = s != nullptr ? s->header.dwLength : 0;
    union {
        BITMAPINFOHEADER header;
        unsigned char room[40 + 1024];
    } format{};
    for (int64_t f : {int64_t{0}, length / 2, length - 1, int64_t{-1}, length / 2 + 1}) {
        void* pixels = nullptr;
        int16_t owned = -1;
        if (aviGetFrame(d, frame_number(f), &format.header, &pixels, &owned) != 0) continue;
        check(owned == 0 || owned == 1, "aviGetFrame gave no owned flag");
        // The picture holds the image the format describes, or at least the
        // frame as read when it was handed out unexpanded.
        if (pixels != nullptr && format.header.biSizeImage <= kMaxBuffer)
            touch(pixels, format.header.biSizeImage);
        if (owned == 1) VxDisposeData(pixels);
    }
    aviGetFrameTerm(d);
}

void exercise(AviReader* r, const Input& in) {
    check_index_sizes(r, in);
    exercise_headers(r);
    exercise_frames(r, in);
    exercise_data(r, in);
    exercise_audio(r, in);
    exercise_index(r, in);
    exercise_decoding(r);
}

// Reads frame 0 as a pointer and checks it against the file; null when the
// read fails or the frame is empty.
unsigned char* checked_frame_pointer(AviReader* r, const Input& in, int32_t noCopy) {
    unsigned char* data = nullptr;
    uint32_t size = 0, flags = 0;
    if (aviReadFramePtr(r, 0, &data, &size, &flags, noCopy) != 0 || data == nullptr) return nullptr;
    if (const AviIndexEntry* e = unclamped_entry(r, 0)) expect_file_bytes(in, *e, data, size);
    return data;
}

// The cache keys blocks by handle value: a second reader on the same handle
// shares them and drops them when it closes, and a changed handle drops the
// old one's. A pointer still held must keep the file's bytes throughout.
void exercise_shared_handle(AviReader* r, const Input& in, const char* name) {
    unsigned char* held = checked_frame_pointer(r, in, 1);
    AviReader* second = nullptr;
    if (aviOpen(&second, host_handle(), name) == 0) {
        aviReadFramePtrRelease(checked_frame_pointer(second, in, 1));
        check(aviClose(second) == 0, "close failed");
    }
    const int other = ::dup(input_file().fd());
    if (other >= 0) {
        (void)aviSetFileRef(r, reinterpret_cast<HANDLE>(static_cast<intptr_t>(other)));
        aviReadFramePtrRelease(checked_frame_pointer(r, in, 0));
        (void)aviSetFileRef(r, host_handle());
        ::close(other);
    }
    aviReadFramePtrRelease(checked_frame_pointer(r, in, 1));
    if (held != nullptr) {
        if (const AviIndexEntry* e = unclamped_entry(r, 0))
            expect_file_bytes(in, *e, held, e->size);
        aviReadFramePtrRelease(held);
    }
}

void run_one(const Input& in, const char* name) {
    AviReader* r = nullptr;
    const VXRESULT err = aviOpen(&r, host_handle(), name);
    if (err != 0) {
        check(r == nullptr, "a failed open returned a reader");
        return;
    }
    check(r != nullptr, "open succeeded without a reader");
    exercise(r, in);
    if (name != nullptr) exercise_shared_handle(r, in, name);
    check(aviClose(r) == 0, "close failed");
}

void null_arguments() {
    uint32_t size = 0, flags = 0, count = 0, position = 0;
    unsigned char* data = nullptr;
    AviStreamSummary summary;
    AviFrameInfo info;
    check(aviOpen(nullptr, host_handle(), nullptr) != 0, "open without an out pointer");
    AviReader* r = nullptr;
    check(aviOpen(&r, INVALID_HANDLE_VALUE, nullptr) != 0 && r == nullptr,
          "open of an invalid handle");
    (void)aviClose(nullptr);
    (void)aviSetFileRef(nullptr, host_handle());
    (void)aviGetStreamCount(nullptr);
    (void)aviGetAVIHeader(nullptr);
    (void)aviGetAVIStream(nullptr, 0);
    (void)aviReadFrame(nullptr, 0, nullptr, &size, &flags);
    (void)aviReadFramePtr(nullptr, 0, &data, &size, &flags, 0);
    (void)aviReadFramePtrRelease(nullptr);
    (void)aviReadData(nullptr, 0, 0, 1, nullptr, &size, &flags, nullptr);
    (void)aviReadAudSamples(nullptr, 0, &count, nullptr, &size);
    (void)aviFindKeyFrame(nullptr, &position);
    (void)aviGetVideoFrameData(nullptr, &info, &size);
    (void)aviGetStreamSummary(nullptr, 0, &summary);
    VxHostErrorClear();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    (void)input_file();
    null_arguments();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Input in{data, size};
    VxHostErrorClear();
    input_file().write(data, size);
    run_one(in, nullptr);
    run_one(in, input_file().name().c_str());
    // The reader's own handle on the file (the cache's) must be closed again.
    const int open = descriptors_on_file();
    check(open == -1 || open == 1, "the reader left a descriptor open on the file");
    VxHostErrorClear();
    return 0;
}
