// Writes small hand-made AVI files for the fuzzing seed corpus: the layouts
// ffmpeg does not write for small files (OpenDML indexes, extension segments,
// record lists, idx1 offsets from other bases), run-length video and a few
// damaged variants.
//
// Usage: make_seed_inputs OUTPUT_DIR
//        make_seed_inputs --regressions OUTPUT_DIR   (the files of regressions/)
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kHasIndex = 0x10;
constexpr uint32_t kMustUseIndex = 0x20;
constexpr uint32_t kKeyFrame = 0x10;
constexpr uint32_t kNoTime = 0x100;
constexpr uint32_t kNotKeyBit = 0x80000000u;

uint32_t fcc(const char (&s)[5]) {
    return static_cast<uint32_t>(static_cast<unsigned char>(s[0])) |
           (static_cast<uint32_t>(static_cast<unsigned char>(s[1])) << 8) |
           (static_cast<uint32_t>(static_cast<unsigned char>(s[2])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(s[3])) << 24);
}

// A RIFF file under construction. begin()/end() nest chunks and patch sizes.
class Riff {
public:
    size_t size() const { return b_.size(); }
    const std::vector<uint8_t>& bytes() const { return b_; }

    void u8(uint8_t v) { b_.push_back(v); }
    void u16(uint16_t v) {
        u8(static_cast<uint8_t>(v));
        u8(static_cast<uint8_t>(v >> 8));
    }
    void u32(uint32_t v) {
        u16(static_cast<uint16_t>(v));
        u16(static_cast<uint16_t>(v >> 16));
    }
    void u64(uint64_t v) {
        u32(static_cast<uint32_t>(v));
        u32(static_cast<uint32_t>(v >> 32));
    }
    void id(const char (&s)[5]) { u32(fcc(s)); }
    void fill(size_t n, uint8_t v) { b_.insert(b_.end(), n, v); }
    void patch32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) b_[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
    void patch64(size_t at, uint64_t v) {
        patch32(at, static_cast<uint32_t>(v));
        patch32(at + 4, static_cast<uint32_t>(v >> 32));
    }
    uint32_t get32(size_t at) const {
        return static_cast<uint32_t>(b_[at]) | (static_cast<uint32_t>(b_[at + 1]) << 8) |
               (static_cast<uint32_t>(b_[at + 2]) << 16) |
               (static_cast<uint32_t>(b_[at + 3]) << 24);
    }
    void overwrite(size_t at, const Riff& other) {
        std::copy(other.b_.begin(), other.b_.end(), b_.begin() + static_cast<std::ptrdiff_t>(at));
    }
    void truncate(size_t n) { b_.resize(n); }

    // Starts a chunk; returns the position of its header.
    size_t begin(const char (&ckid)[5]) {
        const size_t at = size();
        id(ckid);
        u32(0);
        return at;
    }
    size_t list(const char (&kind)[5], const char (&type)[5]) {
        const size_t at = begin(kind);
        id(type);
        return at;
    }
    // Ends the chunk begun at `at`: its size, then a pad byte to an even length.
    void end(size_t at) {
        patch32(at + 4, static_cast<uint32_t>(size() - at - 8));
        if (size() & 1) u8(0);
    }
    // A data chunk of `n` bytes; returns the position of its header.
    size_t data(const char (&ckid)[5], size_t n, uint8_t seed) {
        const size_t at = begin(ckid);
        for (size_t i = 0; i < n; ++i) u8(static_cast<uint8_t>(seed + i * 7));
        end(at);
        return at;
    }

private:
    std::vector<uint8_t> b_;
};

struct VideoStream {
    uint32_t frames = 3;
    uint32_t start = 0;
    uint32_t strhSize = 56;
    const char* handler = "MJPG";
};

struct AudioStream {
    uint16_t blockAlign = 2;
    uint16_t channels = 1;
    uint32_t samples = 6;
    uint32_t start = 0;
    uint32_t strhSize = 56;
};

void avih(Riff& f, uint32_t flags, uint32_t frames, uint32_t streams) {
    const size_t at = f.begin("avih");
    f.u32(40000);  // 25 frames per second
    f.u32(100000);
    f.u32(0);
    f.u32(flags);
    f.u32(frames);
    f.u32(0);
    f.u32(streams);
    f.u32(4096);
    f.u32(8);
    f.u32(8);
    f.fill(16, 0);
    f.end(at);
}

// "strh" written `size` bytes long: 48 (no frame rectangle), 56 (16-bit
// rectangle, the usual) or 64 (32-bit rectangle).
void strh(Riff& f, const char (&type)[5], uint32_t handler, uint32_t scale, uint32_t rate,
          uint32_t start, uint32_t length, uint32_t sampleSize, uint32_t size) {
    const size_t at = f.begin("strh");
    f.id(type);
    f.u32(handler);
    f.u32(0);  // flags
    f.u16(0);  // priority
    f.u16(0);  // language
    f.u32(0);  // initial frames
    f.u32(scale);
    f.u32(rate);
    f.u32(start);
    f.u32(length);
    f.u32(4096);
    f.u32(0xFFFFFFFFu);
    f.u32(sampleSize);
    if (size >= 56) f.fill(size - 48, 0);
    f.end(at);
}

void video_strf(Riff& f, const char* handler) {
    const size_t at = f.begin("strf");
    f.u32(40);
    f.u32(8);
    f.u32(8);
    f.u16(1);
    f.u16(24);
    f.u32(static_cast<uint32_t>(static_cast<unsigned char>(handler[0])) |
          (static_cast<uint32_t>(static_cast<unsigned char>(handler[1])) << 8) |
          (static_cast<uint32_t>(static_cast<unsigned char>(handler[2])) << 16) |
          (static_cast<uint32_t>(static_cast<unsigned char>(handler[3])) << 24));
    f.u32(192);
    f.fill(16, 0);
    f.end(at);
}

void audio_strf(Riff& f, const AudioStream& a) {
    const size_t at = f.begin("strf");
    f.u16(1);  // PCM
    f.u16(a.channels);
    f.u32(8000);
    f.u32(8000u * a.blockAlign);
    f.u16(a.blockAlign);
    f.u16(static_cast<uint16_t>(a.channels ? 8 * a.blockAlign / a.channels : 8));
    f.u16(0);
    f.end(at);
}

uint32_t handler_fcc(const char* h) {
    return static_cast<uint32_t>(static_cast<unsigned char>(h[0])) |
           (static_cast<uint32_t>(static_cast<unsigned char>(h[1])) << 8) |
           (static_cast<uint32_t>(static_cast<unsigned char>(h[2])) << 16) |
           (static_cast<uint32_t>(static_cast<unsigned char>(h[3])) << 24);
}

void video_strl(Riff& f, const VideoStream& v) {
    strh(f, "vids", handler_fcc(v.handler), 1, 25, v.start, v.frames, 0, v.strhSize);
    video_strf(f, v.handler);
}

void audio_strl(Riff& f, const AudioStream& a) {
    strh(f, "auds", 0, a.blockAlign ? a.blockAlign : 1, 8000u * (a.blockAlign ? a.blockAlign : 1),
         a.start, a.samples, a.blockAlign, a.strhSize);
    audio_strf(f, a);
}

struct Indexed {
    uint32_t ckid;
    uint32_t flags;
    size_t header;  // position of the chunk header
    uint32_t size;
};

// "idx1" with offsets counted from `base` (the position of the chunk header
// minus base is stored).
void idx1(Riff& f, const std::vector<Indexed>& entries, int64_t base) {
    const size_t at = f.begin("idx1");
    for (const Indexed& e : entries) {
        f.u32(e.ckid);
        f.u32(e.flags);
        f.u32(static_cast<uint32_t>(static_cast<int64_t>(e.header) - base));
        f.u32(e.size);
    }
    f.end(at);
}

// A standard index chunk ("ix00" or an inline "indx") over chunks of one stream.
// `longs` 2 is a frame index, 3 a field index.
size_t standard_index(Riff& f, const char (&ckid)[5], uint32_t streamId,
                      const std::vector<Indexed>& entries, uint64_t base, uint16_t longs) {
    const size_t at = f.begin(ckid);
    f.u16(longs);
    f.u8(longs == 3 ? 1 : 0);  // sub type
    f.u8(1);                   // index of chunks
    f.u32(static_cast<uint32_t>(entries.size()));
    f.u32(streamId);
    f.u64(base);
    f.u32(0);
    for (const Indexed& e : entries) {
        f.u32(static_cast<uint32_t>(e.header + 8 - base));
        f.u32(e.size | ((e.flags & kKeyFrame) ? 0 : kNotKeyBit));
        if (longs == 3) f.u32(e.size / 2);
    }
    f.end(at);
    return at;
}

// A super index with room for `slots` entries; the entries are patched later.
size_t super_index(Riff& f, uint32_t streamId, uint32_t slots, uint8_t subType) {
    const size_t at = f.begin("indx");
    f.u16(4);
    f.u8(subType);
    f.u8(0);  // index of indexes
    f.u32(0);
    f.u32(streamId);
    f.fill(12, 0);
    f.fill(16u * slots, 0);
    f.end(at);
    return at;
}

void add_super_entry(Riff& f, size_t indx, uint32_t slot, size_t ix, uint32_t duration) {
    const size_t entry = indx + 8 + 24 + 16u * slot;
    f.patch64(entry, ix);
    f.patch32(entry + 8, f.get32(ix + 4) + 8);  // the whole chunk, header included
    f.patch32(entry + 12, duration);
    f.patch32(indx + 8 + 4, slot + 1);
}

// Interleaved 00dc / 01wb chunks; every third video frame is a key frame.
void interleave(Riff& f, uint32_t frames, uint32_t audioChunks, uint16_t blockAlign,
                std::vector<Indexed>* video, std::vector<Indexed>* audio, uint8_t seed) {
    const uint32_t n = frames > audioChunks ? frames : audioChunks;
    for (uint32_t i = 0; i < n; ++i) {
        if (i < frames) {
            const uint32_t size = 16 + 5 * i;
            const size_t at = f.data("00dc", size, static_cast<uint8_t>(seed + i));
            video->push_back({fcc("00dc"), i % 3 == 0 ? kKeyFrame : 0u, at, size});
        }
        if (i < audioChunks) {
            const uint32_t size = 2u * blockAlign;
            const size_t at = f.data("01wb", size, static_cast<uint8_t>(seed + 100 + i));
            audio->push_back({fcc("01wb"), kKeyFrame, at, size});
        }
    }
}

std::vector<Indexed> joined(const std::vector<Indexed>& a, const std::vector<Indexed>& b) {
    std::vector<Indexed> all = a;
    all.insert(all.end(), b.begin(), b.end());
    return all;
}

// A plain interleaved file: audio and video, idx1 relative to "movi".
Riff classic(uint32_t aviFlags, int idx1Base) {
    Riff f;
    const VideoStream v;
    const AudioStream a;
    const size_t riff = f.list("RIFF", "AVI ");
    const size_t hdrl = f.list("LIST", "hdrl");
    avih(f, aviFlags, v.frames, 2);
    size_t s = f.list("LIST", "strl");
    video_strl(f, v);
    f.end(s);
    s = f.list("LIST", "strl");
    audio_strl(f, a);
    f.end(s);
    f.end(hdrl);
    const size_t movi = f.list("LIST", "movi");
    std::vector<Indexed> vi, ai;
    interleave(f, v.frames, a.samples / 2, a.blockAlign, &vi, &ai, 1);
    f.end(movi);
    // 0: from the "movi" word; 1: absolute; 2: from the movi list's data end.
    const int64_t base = idx1Base == 0   ? static_cast<int64_t>(movi + 8)
                         : idx1Base == 1 ? 0
                                         : static_cast<int64_t>(movi + 12);
    idx1(f, joined(vi, ai), base);
    f.end(riff);
    return f;
}

// OpenDML: super indexes pointing at ix## chunks in the first segment and in
// an AVIX segment, plus idx1 for the first segment.
Riff odml(bool fieldIndex) {
    Riff f;
    VideoStream v;
    v.frames = 5;
    AudioStream a;
    a.samples = 10;
    const size_t riff = f.list("RIFF", "AVI ");
    const size_t hdrl = f.list("LIST", "hdrl");
    avih(f, kHasIndex, 3, 2);
    size_t s = f.list("LIST", "strl");
    video_strl(f, v);
    const size_t vindx = super_index(f, fcc("00dc"), 2, fieldIndex ? 1 : 0);
    f.end(s);
    s = f.list("LIST", "strl");
    audio_strl(f, a);
    const size_t aindx = super_index(f, fcc("01wb"), 2, 0);
    f.end(s);
    const size_t odmlList = f.list("LIST", "odml");
    const size_t dmlh = f.begin("dmlh");
    f.u32(v.frames);
    f.fill(244, 0);
    f.end(dmlh);
    f.end(odmlList);
    f.end(hdrl);

    std::vector<Indexed> vi, ai;
    const size_t movi = f.list("LIST", "movi");
    interleave(f, 3, 3, a.blockAlign, &vi, &ai, 10);
    const size_t ix00 = standard_index(f, "ix00", fcc("00dc"), vi, movi, fieldIndex ? 3 : 2);
    const size_t ix01 = standard_index(f, "ix01", fcc("01wb"), ai, movi, 2);
    f.end(movi);
    idx1(f, joined(vi, ai), static_cast<int64_t>(movi + 8));
    f.end(riff);
    add_super_entry(f, vindx, 0, ix00, 3);
    add_super_entry(f, aindx, 0, ix01, 6);

    const size_t avix = f.list("RIFF", "AVIX");
    const size_t movi2 = f.list("LIST", "movi");
    std::vector<Indexed> vi2, ai2;
    interleave(f, 2, 2, a.blockAlign, &vi2, &ai2, 40);
    const size_t ix00b = standard_index(f, "ix00", fcc("00dc"), vi2, movi2, fieldIndex ? 3 : 2);
    const size_t ix01b = standard_index(f, "ix01", fcc("01wb"), ai2, movi2, 2);
    f.end(movi2);
    f.end(avix);
    add_super_entry(f, vindx, 1, ix00b, 2);
    add_super_entry(f, aindx, 1, ix01b, 4);
    return f;
}

// "indx" that is itself a standard index with absolute offsets; no idx1.
Riff odml_inline() {
    Riff f;
    const VideoStream v;
    const size_t riff = f.list("RIFF", "AVI ");
    const size_t hdrl = f.list("LIST", "hdrl");
    avih(f, 0, v.frames, 1);
    const size_t s = f.list("LIST", "strl");
    video_strl(f, v);
    const size_t indx = f.size();
    // Written once to learn the size, then again over itself with the offsets.
    std::vector<Indexed> placeholder(v.frames, Indexed{fcc("00dc"), kKeyFrame, 0, 0});
    standard_index(f, "indx", fcc("00dc"), placeholder, 0, 2);
    f.end(s);
    f.end(hdrl);
    const size_t movi = f.list("LIST", "movi");
    std::vector<Indexed> vi, ai;
    interleave(f, v.frames, 0, 1, &vi, &ai, 20);
    f.end(movi);
    f.end(riff);
    Riff real;
    standard_index(real, "indx", fcc("00dc"), vi, 0, 2);
    f.overwrite(indx, real);
    return f;
}

// Chunks grouped in "rec " lists; with or without idx1 (then the reader walks
// the movie list).
Riff records(bool withIdx1) {
    Riff f;
    const VideoStream v;
    const AudioStream a;
    const size_t riff = f.list("RIFF", "AVI ");
    const size_t hdrl = f.list("LIST", "hdrl");
    avih(f, withIdx1 ? kHasIndex : 0, v.frames, 2);
    size_t s = f.list("LIST", "strl");
    video_strl(f, v);
    f.end(s);
    s = f.list("LIST", "strl");
    audio_strl(f, a);
    f.end(s);
    f.end(hdrl);
    const size_t movi = f.list("LIST", "movi");
    std::vector<Indexed> all;
    for (uint32_t i = 0; i < v.frames; ++i) {
        const size_t rec = f.list("LIST", "rec ");
        all.push_back({fcc("rec "), 0, rec, 0});
        const size_t vd = f.data("00dc", 11 + i, static_cast<uint8_t>(i));
        all.push_back({fcc("00dc"), kKeyFrame, vd, 11 + i});
        const size_t ad = f.data("01wb", 4, static_cast<uint8_t>(50 + i));
        all.push_back({fcc("01wb"), kKeyFrame, ad, 4});
        f.end(rec);
        all[all.size() - 3].size = static_cast<uint32_t>(f.size() - rec - 8);
    }
    f.end(movi);
    if (withIdx1) idx1(f, all, static_cast<int64_t>(movi + 8));
    f.end(riff);
    return f;
}

// Streams the reader passes over (text, a second video and audio stream),
// "strd", "JUNK", odd chunk sizes, a palette change without time, empty
// frames, a stream start offset and short stream headers.
Riff mixed() {
    Riff f;
    VideoStream v;
    v.frames = 6;
    v.start = 2;
    v.strhSize = 48;
    AudioStream a;
    a.blockAlign = 4;
    a.channels = 2;
    a.samples = 9;
    a.start = 1;
    a.strhSize = 64;
    const size_t riff = f.list("RIFF", "AVI ");
    const size_t hdrl = f.list("LIST", "hdrl");
    avih(f, kHasIndex | kMustUseIndex, v.frames, 5);
    size_t s = f.list("LIST", "strl");
    strh(f, "txts", 0, 1, 1, 0, 1, 0, 56);
    f.data("strf", 3, 0);
    f.end(s);
    s = f.list("LIST", "strl");
    video_strl(f, v);
    f.data("strd", 5, 9);
    f.data("strn", 7, 65);
    f.end(s);
    s = f.list("LIST", "strl");
    audio_strl(f, a);
    f.end(s);
    s = f.list("LIST", "strl");
    video_strl(f, VideoStream{});
    f.end(s);
    s = f.list("LIST", "strl");
    audio_strl(f, AudioStream{});
    f.end(s);
    f.data("JUNK", 13, 0);
    f.end(hdrl);
    f.data("JUNK", 31, 0);
    const size_t movi = f.list("LIST", "movi");
    std::vector<Indexed> all;
    for (uint32_t i = 0; i < v.frames; ++i) {
        if (i == 2) {
            const size_t pc = f.data("01pc", 8, 3);
            all.push_back({fcc("01pc"), kNoTime, pc, 8});
        }
        const uint32_t size = i == 3 ? 0 : 9 + 2 * i;
        const size_t vd = f.data("01dc", size, static_cast<uint8_t>(i));
        all.push_back({fcc("01dc"), i == 0 || i == 4 ? kKeyFrame : 0u, vd, size});
        const size_t ad = f.data("02wb", 6 + 4 * (i % 2), static_cast<uint8_t>(90 + i));
        all.push_back({fcc("02wb"), kKeyFrame, ad, 6u + 4u * (i % 2)});
        const size_t td = f.data("00tx", 5, 0);
        all.push_back({fcc("00tx"), 0, td, 5});
        const size_t other = f.data("03dc", 3, 0);
        all.push_back({fcc("03dc"), kKeyFrame, other, 3});
    }
    f.end(movi);
    idx1(f, all, static_cast<int64_t>(movi + 8));
    f.end(riff);
    return f;
}

// Cut short inside the movie list: no idx1, sizes that run past the end.
Riff truncated() {
    Riff f = classic(kHasIndex, 0);
    f.truncate(f.size() - 120);
    return f;
}

// Regression: an idx1 entry whose size runs far past the end of the file.
Riff huge_frame_size() {
    Riff f;
    VideoStream v;
    v.frames = 2;
    const size_t riff = f.list("RIFF", "AVI ");
    const size_t hdrl = f.list("LIST", "hdrl");
    avih(f, kHasIndex, v.frames, 1);
    const size_t s = f.list("LIST", "strl");
    video_strl(f, v);
    f.end(s);
    f.end(hdrl);
    const size_t movi = f.list("LIST", "movi");
    std::vector<Indexed> vi, ai;
    interleave(f, v.frames, 0, 1, &vi, &ai, 5);
    f.end(movi);
    for (Indexed& e : vi) e.size = 0xFFFFFFF0u;
    idx1(f, vi, static_cast<int64_t>(movi + 8));
    f.end(riff);
    return f;
}

// Regression: every super index entry names the same standard index, so a
// small file claims an index many times its own size.
Riff repeated_standard_index(uint32_t superEntries, uint32_t chunkEntries) {
    Riff f;
    VideoStream v;
    v.frames = 1;
    const size_t riff = f.list("RIFF", "AVI ");
    const size_t hdrl = f.list("LIST", "hdrl");
    avih(f, kHasIndex, 1, 1);
    const size_t s = f.list("LIST", "strl");
    video_strl(f, v);
    const size_t indx = super_index(f, fcc("00dc"), superEntries, 0);
    f.end(s);
    f.end(hdrl);
    const size_t movi = f.list("LIST", "movi");
    std::vector<Indexed> vi, ai;
    interleave(f, 1, 0, 1, &vi, &ai, 7);
    vi.resize(chunkEntries, vi[0]);
    const size_t ix = standard_index(f, "ix00", fcc("00dc"), vi, movi, 2);
    f.end(movi);
    f.end(riff);
    for (uint32_t i = 0; i < superEntries; ++i) add_super_entry(f, indx, i, ix, chunkEntries);
    return f;
}

// Regression: an audio stream starting just below sample 2^32, so that its
// second entry starts past 32-bit sample numbers.
Riff audio_past_32_bits() {
    Riff f;
    AudioStream a;
    a.blockAlign = 1;
    a.start = 0xFFFFFFFEu;
    a.samples = 44;
    const size_t riff = f.list("RIFF", "AVI ");
    const size_t hdrl = f.list("LIST", "hdrl");
    avih(f, kHasIndex, 0, 1);
    const size_t s = f.list("LIST", "strl");
    audio_strl(f, a);
    f.end(s);
    f.end(hdrl);
    const size_t movi = f.list("LIST", "movi");
    const size_t c0 = f.data("00wb", 4, 1);
    const size_t c1 = f.data("00wb", 40, 60);
    f.end(movi);
    idx1(f, {{fcc("00wb"), kKeyFrame, c0, 4}, {fcc("00wb"), kKeyFrame, c1, 40}},
         static_cast<int64_t>(movi + 8));
    f.end(riff);
    return f;
}

// Run-length video, 16x8 with a colour table: coded as BI_RLE8 or BI_RLE4
// (`compression` 1 or 2) for a codec, or, with compression 0 and the "RLE "
// handler, whole images as key frames ("00db") and coded deltas ("00dc").
Riff run_length(uint16_t bits, uint32_t compression, uint32_t clrUsed) {
    constexpr int32_t kWidth = 16, kHeight = 8;
    constexpr uint32_t kFrames = 4;
    const uint32_t entries = clrUsed != 0 ? clrUsed : 1u << bits;
    const uint32_t imageBytes = (kWidth * bits + 31) / 32 * 4 * kHeight;
    Riff f;
    const size_t riff = f.list("RIFF", "AVI ");
    const size_t hdrl = f.list("LIST", "hdrl");
    avih(f, kHasIndex, kFrames, 1);
    const size_t s = f.list("LIST", "strl");
    strh(f, "vids", compression == 0 ? fcc("RLE ") : fcc("mrle"), 1, 25, 0, kFrames, 0, 56);
    const size_t strf = f.begin("strf");
    f.u32(40);
    f.u32(kWidth);
    f.u32(kHeight);
    f.u16(1);
    f.u16(bits);
    f.u32(compression);
    f.u32(compression == 0 ? imageBytes : 0);
    f.fill(8, 0);
    f.u32(clrUsed);
    f.u32(0);
    for (uint32_t i = 0; i < entries; ++i) f.u32(0x00030507u * (i + 1));
    f.end(strf);
    f.end(s);
    f.end(hdrl);
    const size_t movi = f.list("LIST", "movi");
    std::vector<Indexed> vi;
    for (uint32_t n = 0; n < kFrames; ++n) {
        const bool whole = compression == 0 && n % 2 == 0;
        const size_t at = f.begin(whole ? "00db" : "00dc");
        if (whole) {
            for (uint32_t i = 0; i < imageBytes; ++i) f.u8(static_cast<uint8_t>((i + n) % entries));
        } else if (compression == 0) {
            // A delta: three pixels right, one line up, a run of two, then an
            // absolute run of three.
            for (const uint8_t b : {0, 2, 3, 1, 2, 1, 0, 3, 2, 0, 1, 0, 0, 1}) f.u8(b);
        } else {
            for (int32_t y = 0; y < kHeight; ++y) {
                f.u8(kWidth);
                f.u8(static_cast<uint8_t>(bits == 4 ? ((y + n) % 16) << 4 | (y % 16)
                                                    : (y + n) % entries));
                f.u8(0);
                f.u8(y + 1 == kHeight ? 1 : 0);
            }
        }
        f.end(at);
        const bool key = compression != 0 || whole;
        vi.push_back({f.get32(at), key ? kKeyFrame : 0u, at, f.get32(at + 4)});
    }
    f.end(movi);
    idx1(f, vi, static_cast<int64_t>(movi + 8));
    f.end(riff);
    return f;
}

bool write(const std::string& dir, const char* name, const Riff& f) {
    const std::string path = dir + "/" + name;
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        std::perror(path.c_str());
        return false;
    }
    const bool ok = std::fwrite(f.bytes().data(), 1, f.size(), out) == f.size();
    return std::fclose(out) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
    const bool regressions = argc == 3 && std::string(argv[1]) == "--regressions";
    if (argc != 2 && !regressions) {
        std::fprintf(stderr, "usage: %s [--regressions] OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[argc - 1];
    bool ok = true;
    if (regressions) {
        // The inputs of fuzz/regressions/, kept there as files.
        ok &= write(dir, "frame_size_past_end.bin", huge_frame_size());
        ok &= write(dir, "odml_repeated_standard_index.bin", repeated_standard_index(100, 200));
        ok &= write(dir, "audio_cursor_past_32_bits.bin", audio_past_32_bits());
        return ok ? 0 : 1;
    }
    ok &= write(dir, "gen_classic_movi_relative.avi", classic(kHasIndex, 0));
    ok &= write(dir, "gen_classic_absolute.avi", classic(kHasIndex, 1));
    ok &= write(dir, "gen_classic_must_use_index.avi", classic(kHasIndex | kMustUseIndex, 2));
    ok &= write(dir, "gen_odml_frames.avi", odml(false));
    ok &= write(dir, "gen_odml_fields.avi", odml(true));
    ok &= write(dir, "gen_odml_inline_indx.avi", odml_inline());
    ok &= write(dir, "gen_rec_lists_idx1.avi", records(true));
    ok &= write(dir, "gen_rec_lists_no_idx1.avi", records(false));
    ok &= write(dir, "gen_mixed_streams.avi", mixed());
    ok &= write(dir, "gen_truncated.avi", truncated());
    ok &= write(dir, "gen_rle8.avi", run_length(8, 1, 6));
    ok &= write(dir, "gen_rle4.avi", run_length(4, 2, 0));
    ok &= write(dir, "gen_rle_whole_keys.avi", run_length(8, 0, 0));
    return ok ? 0 : 1;
}
