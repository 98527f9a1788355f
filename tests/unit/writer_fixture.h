// Shared fixture of the writer's unit tests: a scratch output file, stream
// declarations, chunk contents, and reading the result back through the
// library's own reader.
#pragma once

#include <gtest/gtest.h>
#include <vxmedia/vxmedia.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/reader_fixture.h"
#include "writer/writer_internal.h"

namespace vxtest {

inline constexpr uint32_t kDc = 'd' | ('c' << 8);
inline constexpr uint32_t kWb = 'w' | ('b' << 8);
inline constexpr uint64_t kMiB = 1u << 20;

// Contents that differ by stream, chunk and position.
inline Bytes payload(uint32_t stream, uint32_t index, uint32_t size) {
    Bytes b(size);
    uint32_t x = stream * 7919u + index * 104729u + 1;
    for (auto& c : b) c = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 16);
    return b;
}

inline AVIStreamHeader stream_header(const char (&type)[5], uint32_t scale = 1,
                                     uint32_t rate = 25) {
    AVIStreamHeader h{};
    h.fccType = Fcc(type);
    h.dwScale = scale;
    h.dwRate = rate;
    return h;
}
inline BITMAPINFOHEADER video_format(int32_t width = 320, int32_t height = 240) {
    BITMAPINFOHEADER f{};
    f.biSize = sizeof f;
    f.biWidth = width;
    f.biHeight = height;
    return f;
}
// 16-bit stereo PCM at 48 kHz.
inline WAVEFORMATEX audio_format(uint32_t bytesPerSec = 192000) {
    WAVEFORMATEX f{};
    f.wFormatTag = 1;
    f.nChannels = 2;
    f.nSamplesPerSec = 48000;
    f.nAvgBytesPerSec = bytesPerSec;
    f.nBlockAlign = 4;
    return f;
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
        MainAVIHeader m{};
        m.dwFlags = flags;
        m.dwTotalFrames = expectedFrames;
        ASSERT_EQ(avifileOpen(&writer_, path_.c_str(), &m), 0);
    }
    int32_t add(const AVIStreamHeader& h, const void* format, uint32_t size) {
        int32_t n = -1;
        EXPECT_EQ(avifileAddStream(writer_, &n, &h, format, size), 0);
        return n;
    }
    void add_video() {
        const BITMAPINFOHEADER f = video_format();
        add(stream_header("vids"), &f, sizeof f);
    }
    void add_audio() {
        const WAVEFORMATEX f = audio_format();
        add(stream_header("auds"), &f, sizeof f);
    }
    VXRESULT write(int32_t stream, const Bytes& data, uint32_t type = kDc,
                   uint32_t flags = AVIIF_KEYFRAME) {
        return avifileWrite(writer_, stream, data.data(), static_cast<uint32_t>(data.size()), type,
                            flags);
    }
    VXRESULT close(uint32_t videoFrames, uint32_t audioLength = 0) {
        const VXRESULT rc = avifileClose(writer_, videoFrames, audioLength);
        writer_ = nullptr;
        return rc;
    }
    Bytes file_bytes() const {
        std::ifstream in(path_, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    AviReader* read_back() {
        close_reader();
        handle_ = open_file(path_, Access::kRead);
        EXPECT_EQ(aviOpen(&reader_, handle_, nullptr), 0);
        return reader_;
    }
    void close_reader() {
        if (reader_ != nullptr) aviClose(reader_);
        reader_ = nullptr;
        if (handle_ != INVALID_HANDLE_VALUE) close_file(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
    // Reads the file back and compares every video frame (bytes, size, key
    // flag: all keys unless `keys` says otherwise) and the audio bytes.
    void expect_contents(const std::vector<Bytes>& frames, std::vector<bool> keys = {},
                         const Bytes& audio = {}) {
        ASSERT_NE(read_back(), nullptr);
        if (keys.empty()) keys.assign(frames.size(), true);
        ASSERT_EQ(reader_->videoIndex.count, frames.size());
        for (size_t i = 0; i < frames.size(); ++i) {
            Bytes got(frames[i].size() + 16);
            uint32_t size = static_cast<uint32_t>(got.size()), flags = 0;
            ASSERT_EQ(aviReadFrame(reader_, static_cast<int32_t>(i), got.data(), &size, &flags), 0);
            got.resize(size);
            EXPECT_EQ(got, frames[i]) << "frame " << i;
            EXPECT_EQ((flags & AVIIF_KEYFRAME) != 0, keys[i]) << "frame " << i;
        }
        if (audio.empty()) return;
        Bytes got(audio.size());
        uint32_t count = 0, size = static_cast<uint32_t>(got.size());
        ASSERT_EQ(aviReadAudSamples(reader_, 0, &count, got.data(), &size), 0);
        EXPECT_EQ(got, audio);
    }

    std::string path_;
    AviWriter* writer_ = nullptr;
    AviReader* reader_ = nullptr;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace vxtest
