// Shared fixture of the writer's unit tests: a scratch output file, stream
// declarations, deterministic chunk contents, and reading the result back
// through the library's own reader.
#pragma once

#include <VexaInfo.h>
#include <gtest/gtest.h>
#include <vxmedia/vxmedia.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/reader_fixture.h"
#include "support/test_files.h"
#include "writer/writer_internal.h"

namespace vxtest {

inline constexpr const char* kAviEasy = "Src/VFW/VfwAviEasy";
inline constexpr uint32_t kDc = 'd' | ('c' << 8);
inline constexpr uint32_t kWb = 'w' | ('b' << 8);

inline uint32_t rd32(const Bytes& b, uint64_t at) {
    uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}
inline uint64_t rd64(const Bytes& b, uint64_t at) {
    uint64_t v = 0;
    std::memcpy(&v, b.data() + at, 8);
    return v;
}

// Chunk contents that differ by stream, chunk and position.
inline Bytes payload(uint32_t stream, uint32_t index, uint32_t size) {
    Bytes b(size);
    uint32_t x = stream * 7919u + index * 104729u + 1;
    for (auto& c : b) {
        x = x * 1103515245u + 12345u;
        c = static_cast<uint8_t>(x >> 16);
    }
    return b;
}

inline AVIStreamHeader video_header(uint32_t scale = 1, uint32_t rate = 25) {
    AVIStreamHeader h{};
    h.fccType = Fcc("vids");
    h.fccHandler = Fcc("DIB ");
    h.dwScale = scale;
    h.dwRate = rate;
    h.dwQuality = 0xFFFFFFFFu;
    return h;
}
inline BITMAPINFOHEADER video_format(int32_t width = 320, int32_t height = 240) {
    BITMAPINFOHEADER f{};
    f.biSize = sizeof f;
    f.biWidth = width;
    f.biHeight = height;
    f.biPlanes = 1;
    f.biBitCount = 24;
    return f;
}
inline AVIStreamHeader audio_header() {
    AVIStreamHeader h{};
    h.fccType = Fcc("auds");
    h.dwQuality = 0xFFFFFFFFu;
    return h;
}
// 16-bit stereo PCM at 48 kHz.
inline WAVEFORMATEX audio_format(uint32_t bytesPerSec = 192000) {
    WAVEFORMATEX f{};
    f.wFormatTag = 1;
    f.nChannels = 2;
    f.nSamplesPerSec = 48000;
    f.nAvgBytesPerSec = bytesPerSec;
    f.nBlockAlign = 4;
    f.wBitsPerSample = 16;
    return f;
}
inline MainAVIHeader main_header(uint32_t flags = 0, uint32_t expectedFrames = 0) {
    MainAVIHeader m{};
    m.dwFlags = flags;
    m.dwTotalFrames = expectedFrames;
    return m;
}

class WriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        VxHostErrorClear();
        VxHostClearFaults();
        vx::writer::set_segment_mib_for_testing(2048);
        path_ = make_temp_file("vxw");
        ASSERT_FALSE(path_.empty());
    }
    void TearDown() override {
        VxHostClearFaults();
        close_reader();
        if (writer_ != nullptr) avifileClose(writer_, 0, 0);
        remove_file(path_);
        unset_env("VEXAINFO_MAX_FILE_SIZE");
        vx::writer::set_segment_mib_for_testing(0);
    }

    void open(uint32_t flags = 0, uint32_t expectedFrames = 0) {
        const MainAVIHeader m = main_header(flags, expectedFrames);
        ASSERT_EQ(avifileOpen(&writer_, path_.c_str(), &m), 0);
    }
    int32_t add_video(int32_t width = 320, int32_t height = 240) {
        const AVIStreamHeader h = video_header();
        const BITMAPINFOHEADER f = video_format(width, height);
        int32_t n = -1;
        EXPECT_EQ(avifileAddStream(writer_, &n, &h, &f, sizeof f), 0);
        return n;
    }
    int32_t add_audio() {
        const AVIStreamHeader h = audio_header();
        const WAVEFORMATEX f = audio_format();
        int32_t n = -1;
        EXPECT_EQ(avifileAddStream(writer_, &n, &h, &f, sizeof f), 0);
        return n;
    }
    VXRESULT write(int32_t stream, const Bytes& data, uint32_t type, uint32_t flags) {
        return avifileWrite(writer_, stream, data.data(), static_cast<uint32_t>(data.size()), type,
                            flags);
    }
    VXRESULT close(uint32_t videoFrames, uint32_t audioLength) {
        const VXRESULT rc = avifileClose(writer_, videoFrames, audioLength);
        writer_ = nullptr;
        return rc;
    }

    Bytes file_bytes() const {
        std::ifstream in(path_, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    // Opens the written file with the library's reader.
    AviReader* read_back() {
        close_reader();
        handle_ = open_file(path_, Access::kRead);
        EXPECT_NE(handle_, INVALID_HANDLE_VALUE);
        AviReader* r = nullptr;
        EXPECT_EQ(aviOpen(&r, handle_, nullptr), 0);
        reader_ = r;
        return r;
    }
    void close_reader() {
        if (reader_ != nullptr) aviClose(reader_);
        reader_ = nullptr;
        if (handle_ != INVALID_HANDLE_VALUE) close_file(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    // Every video frame: bytes, size and key flag.
    void expect_frames(const std::vector<Bytes>& frames, const std::vector<bool>& keys) {
        ASSERT_NE(reader_, nullptr);
        ASSERT_EQ(reader_->videoIndex.count, frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            Bytes got(frames[i].size() + 16);
            uint32_t size = static_cast<uint32_t>(got.size());
            uint32_t flags = 0;
            ASSERT_EQ(aviReadFrame(reader_, static_cast<int32_t>(i), got.data(), &size, &flags), 0)
                << "frame " << i;
            ASSERT_EQ(size, frames[i].size()) << "frame " << i;
            got.resize(size);
            EXPECT_EQ(got, frames[i]) << "frame " << i;
            EXPECT_EQ((flags & AVIIF_KEYFRAME) != 0, keys[i]) << "frame " << i;
        }
    }
    void expect_audio(const Bytes& audio) {
        ASSERT_NE(reader_, nullptr);
        Bytes got(audio.size());
        uint32_t count = 0;
        uint32_t size = static_cast<uint32_t>(got.size());
        ASSERT_EQ(aviReadAudSamples(reader_, 0, &count, got.data(), &size), 0);
        EXPECT_EQ(size, audio.size());
        EXPECT_EQ(got, audio);
    }

    std::string path_;
    AviWriter* writer_ = nullptr;
    AviReader* reader_ = nullptr;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

// The top-level chunks of a file: id, position, size.
struct TopChunk {
    uint32_t id;
    uint32_t type;
    uint64_t position;
    uint32_t size;
};
inline std::vector<TopChunk> top_chunks(const Bytes& b) {
    std::vector<TopChunk> out;
    uint64_t at = 0;
    while (at + 12 <= b.size()) {
        const uint32_t size = rd32(b, at + 4);
        out.push_back({rd32(b, at), rd32(b, at + 8), at, size});
        at += 8 + static_cast<uint64_t>(size) + (size & 1);
    }
    return out;
}

// Finds the first chunk with `id` inside [from, to), walking nested lists.
inline int64_t find_chunk(const Bytes& b, uint32_t id, uint64_t from, uint64_t to) {
    uint64_t at = from;
    while (at + 8 <= to && at + 8 <= b.size()) {
        const uint32_t ck = rd32(b, at);
        const uint32_t size = rd32(b, at + 4);
        if (ck == id) return static_cast<int64_t>(at);
        if (ck == Fcc("LIST") || ck == Fcc("RIFF")) {
            const int64_t inner = find_chunk(b, id, at + 12, at + 8 + size);
            if (inner >= 0) return inner;
        }
        at += 8 + static_cast<uint64_t>(size) + (size & 1);
    }
    return -1;
}

}  // namespace vxtest
