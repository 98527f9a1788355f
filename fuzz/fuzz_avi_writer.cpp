// libFuzzer target for the AVI writer: each input is a call sequence (streams,
// chunks whole or in pieces, flags, records, the segment size and the size
// allowance). The file written is read back through the reader, and the first
// video and first audio stream must hold exactly the chunks the writer
// accepted; every chunk of the file must lie inside its parent.
//
// Input layout: a 4-byte header (flags, stream count, expected frames,
// allowance), one byte per stream (its kind), then 4-byte operations.
#include <VexaInfo.h>
#include <fcntl.h>
#include <unistd.h>
#include <vxmedia/avireader.h>
#include <vxmedia/aviwriter.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/riff_walk.h"
#include "writer/writer_internal.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vx::fourcc;

constexpr uint64_t kMaxBytesPerInput = 3u << 20;  // enough for a few 1 MiB segments
constexpr uint32_t kWb = 'w' | ('b' << 8);

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_avi_writer: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

struct Chunk {
    Bytes data;
    uint32_t flags;
};

struct Stream {
    uint32_t fccType;
    uint32_t ckType;
    uint32_t blockAlign;  // audio: chunks hold whole blocks
    std::vector<Chunk> chunks;
};

class Reader {
public:
    Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    uint8_t u8() { return at_ < n_ ? p_[at_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | u8() << 8); }
    bool done() const { return at_ >= n_; }

private:
    const uint8_t* p_;
    size_t n_;
    size_t at_ = 0;
};

// Contents that differ by chunk; the input only chooses the sizes.
Bytes contents(uint32_t n, uint32_t serial) {
    Bytes b(n);
    uint32_t x = serial * 2654435761u + 1;
    for (uint32_t i = 0; i < n; i += 4) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        std::memcpy(b.data() + i, &x, std::min<uint32_t>(4, n - i));
    }
    return b;
}

std::string g_path;

Bytes read_file() {
    Bytes b;
    const int fd = ::open(g_path.c_str(), O_RDONLY | O_CLOEXEC);
    check(fd >= 0, "cannot open the file written");
    uint8_t buf[1 << 16];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) b.insert(b.end(), buf, buf + n);
    ::close(fd);
    return b;
}

void check_file(const std::vector<Stream>& streams, uint32_t extensions) {
    const Bytes b = read_file();
    const vxtest::RiffView view(b);
    // Every chunk and its pad byte end inside the parent; lists nest at most
    // 4 deep.
    const std::string fault = view.fault(4);
    if (!fault.empty()) fail(fault.c_str());
    const std::vector<vx::RiffChunk> forms = view.top();
    for (size_t i = 0; i < forms.size(); ++i)
        check(forms[i].listType == (i == 0 ? fourcc("AVI ") : fourcc("AVIX")), "a bad form type");
    check(forms.size() == extensions + 1, "the segment count differs from the writer's");

    int32_t video = -1, audio = -1;
    for (size_t i = 0; i < streams.size(); ++i) {
        if (video < 0 && streams[i].fccType == fourcc("vids")) video = static_cast<int32_t>(i);
        if (audio < 0 && streams[i].fccType == fourcc("auds")) audio = static_cast<int32_t>(i);
    }
    // idx1 leaves video chunks that take no time out; OpenDML indexes do not.
    std::vector<const Chunk*> frames, samples;
    if (video >= 0)
        for (const Chunk& c : streams[video].chunks)
            if (extensions > 0 || (c.flags & AVIIF_NO_TIME) == 0) frames.push_back(&c);
    if (audio >= 0)
        for (const Chunk& c : streams[audio].chunks) samples.push_back(&c);

    const int fd = ::open(g_path.c_str(), O_RDONLY | O_CLOEXEC);
    check(fd >= 0, "cannot open the file written");
    AviReader* r = nullptr;
    check(aviOpen(&r, reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd)), nullptr) == 0,
          "the reader refuses the file");
    check(r->videoStream == video && r->audioStream == audio, "the reader chose other streams");
    check(r->videoIndex.count == frames.size(), "video chunk count differs");
    check(r->audioIndex.count == samples.size(), "audio chunk count differs");
    const AviStreamIndex* indexes[2] = {&r->videoIndex, &r->audioIndex};
    const std::vector<const Chunk*>* wanted[2] = {&frames, &samples};
    for (int k = 0; k < 2; ++k) {
        for (uint32_t i = 0; i < indexes[k]->count; ++i) {
            const AviIndexEntry& e = indexes[k]->entries[i];
            const Chunk& c = *(*wanted[k])[i];
            check(e.size == c.data.size(), "a chunk size differs");
            check(e.offset + e.size <= b.size(), "a chunk past the end of the file");
            check(e.size == 0 || std::memcmp(b.data() + e.offset, c.data.data(), e.size) == 0,
                  "a chunk's bytes differ");
            if (k == 0)
                check(((e.flags & AVIIF_KEYFRAME) != 0) == ((c.flags & AVIIF_KEYFRAME) != 0),
                      "a key frame flag differs");
        }
    }
    aviClose(r);
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/fuzz_avi_writer_XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) fail("cannot create a temporary file");
    ::close(fd);
    g_path = pattern;
    std::atexit([] { ::unlink(g_path.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    const uint8_t mode = in.u8();
    const uint32_t streamCount = in.u8() % VX_WRITER_MAX_STREAMS + 1;
    const uint32_t expected = in.u8() * 8u;
    const uint8_t allowance = in.u8();

    VxHostErrorClear();
    vx::writer::set_segment_mib_for_testing((mode & 1) ? 1 : 2048);
    if (allowance != 0) {
        // 16 KiB steps up to 4 MiB: below, at and above one small segment.
        const std::string v = std::to_string(uint64_t{allowance} << 14);
        ::setenv("VEXAINFO_MAX_FILE_SIZE", v.c_str(), 1);
    }
    MainAVIHeader m{};
    m.dwFlags = (mode & 2) ? AVIF_ISINTERLEAVED : 0;
    m.dwTotalFrames = expected;
    AviWriter* w = nullptr;
    const VXRESULT opened = avifileOpen(&w, g_path.c_str(), &m);
    ::unsetenv("VEXAINFO_MAX_FILE_SIZE");
    check(opened == 0, "avifileOpen failed");

    std::vector<Stream> streams;
    for (uint32_t i = 0; i < streamCount; ++i) {
        const uint8_t kind = in.u8();
        Stream s{};
        AVIStreamHeader h{};
        h.dwScale = 1;
        h.dwRate = 25;
        int32_t n = -1;
        VXRESULT rc;
        if (kind % 3 == 0) {
            BITMAPINFOHEADER f{};
            f.biSize = sizeof f;
            f.biWidth = 16 * (kind + 1);
            f.biHeight = 9 * (kind + 1);
            s.fccType = h.fccType = fourcc("vids");
            s.ckType = (kind & 8) ? 'd' | ('b' << 8) : 'd' | ('c' << 8);
            rc = avifileAddStream(w, &n, &h, &f, sizeof f);
        } else if (kind % 3 == 1) {
            WAVEFORMATEX f{};
            f.wFormatTag = 1;
            f.nChannels = 2;
            f.nAvgBytesPerSec = 192000;
            f.nBlockAlign = static_cast<uint16_t>(1u << (kind >> 6));
            s.blockAlign = f.nBlockAlign;
            s.fccType = h.fccType = fourcc("auds");
            s.ckType = kWb;
            rc = avifileAddStream(w, &n, &h, &f, sizeof f);
        } else {
            const uint8_t f[7] = {kind, 1, 2, 3, 4, 5, 6};
            s.fccType = h.fccType = fourcc("txts");
            s.ckType = 't' | ('x' << 8);
            rc = avifileAddStream(w, &n, &h, f, kind % 8);
        }
        check(rc == 0 && n == static_cast<int32_t>(i), "avifileAddStream failed");
        streams.push_back(std::move(s));
    }

    // Each operation: flags (bit 0 key, 1 no time, 2 in pieces, 3 a larger
    // budget, 4 three pieces, 5 end the record first, 6-7 both: 100 KB),
    // stream, 16-bit size.
    uint64_t total = 0;
    uint32_t serial = 0;
    while (!in.done() && total < kMaxBytesPerInput) {
        const uint8_t op = in.u8();
        const uint32_t stream = in.u8() % streamCount;
        uint32_t length = in.u16();
        if ((op & 0xC0) == 0xC0) length = 100000 + (length & 1);
        if (op & 0x20) check(avifileEndRecord(w) == 0, "avifileEndRecord failed");
        Stream& s = streams[stream];
        // Audio comes in whole blocks: a part block takes no time, and an
        // OpenDML audio index whose chunks all take none is empty by design.
        if (s.blockAlign > 1) length -= length % s.blockAlign;
        const uint32_t flags = ((op & 1) ? AVIIF_KEYFRAME : 0) | ((op & 2) ? AVIIF_NO_TIME : 0);
        const Bytes bytes = contents(length, ++serial);
        total += length;

        VXRESULT rc = 0;
        if ((op & 4) == 0) {
            rc = avifileWrite(w, static_cast<int32_t>(stream), bytes.data(), length, s.ckType,
                              flags);
        } else {
            // In pieces of a size taken from the op; budget at least the bytes.
            AviChunkInfo chunk{};
            const uint32_t budget = (op & 8) ? length + 4096 : length;
            rc = avifileBeginWrite2(w, static_cast<int32_t>(stream), bytes.data(), length, budget,
                                    s.ckType, flags, &chunk);
            const uint32_t piece = (op & 0x10) ? length / 3 + 1 : length;
            for (uint32_t done = 0; rc == 0 && done < length; done += piece)
                rc = avifileContinueWrite(w, bytes.data() + done, std::min(piece, length - done),
                                          &chunk);
            if (rc == 0) rc = avifileEndWrite(w, static_cast<int32_t>(stream), flags, &chunk);
        }
        if (rc != 0) {
            // Only running out of segments or allowance may refuse a chunk.
            check(rc == AVIERR_USERABORT, "a chunk failed with something other than USERABORT");
            continue;
        }
        if (length == 0 && s.ckType == kWb) continue;  // never written
        s.chunks.push_back({bytes, flags});
    }
    const uint32_t extensions = w->extensionCount;
    check(avifileClose(w, 0, 0) == 0, "avifileClose failed");
    check_file(streams, extensions);
    vx::writer::set_segment_mib_for_testing(0);
    return 0;
}
