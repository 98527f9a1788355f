// Header values derived from the streams and completed at close, and the
// segment-size setting.
#include "unit/writer_fixture.h"

namespace {

using namespace vxtest;

TEST_F(WriterTest, StreamDeclarationsFillDerivedFields) {
    open();
    const WAVEFORMATEX wf = audio_format();
    add(stream_header("auds", 99, 0), &wf, sizeof wf);
    const BITMAPINFOHEADER f1 = video_format(320, 240);
    add(stream_header("vids", 0, 30000), &f1, sizeof f1);
    add(stream_header("txts", 3, 7), "abc", 3);
    const AVIStreamHeader& a = writer_->streams[0].header;
    EXPECT_EQ(a.dwRate, 192000u);
    EXPECT_EQ(a.dwScale, 4u);
    EXPECT_EQ(a.dwSampleSize, 4u);
    const AVIStreamHeader& v = writer_->streams[1].header;
    EXPECT_EQ(v.dwRate, 15u) << "both replaced, not only the zero";
    EXPECT_EQ(v.dwScale, 1u);
    const AVIStreamHeader& t = writer_->streams[2].header;
    EXPECT_EQ(t.dwRate, 7u);
    EXPECT_EQ(t.dwScale, 3u);
    // The frame size only grows; a top-down bitmap counts its rows.
    const BITMAPINFOHEADER f2 = video_format(720, 480), f3 = video_format(640, -576);
    add(stream_header("vids"), &f2, sizeof f2);
    add(stream_header("vids"), &f3, sizeof f3);
    EXPECT_EQ(writer_->mainHeader.dwWidth, 720u);
    EXPECT_EQ(writer_->mainHeader.dwHeight, 576u);
}

// Audio whose chunks are its samples (sample size 0 in the caller's header)
// keeps the caller's clock when its format is compressed; PCM-like formats
// are blocks whatever the header says; no rate is ever 0.
TEST_F(WriterTest, AudioSampleSizeFollowsTheFormatKind) {
    const struct {
        const char* name;
        uint16_t tag;
        uint32_t sampleSize, scale, rate, byteRate;
        uint32_t wantSize, wantScale, wantRate, wantLength;
    } cases[] = {
        {"MP3 from its caller", 0x55, 0, 32, 1225, 0, 0, 32, 1225, 3},
        {"PCM with size 0 in the header", 1, 0, 1, 44100, 192000, 4, 4, 192000, 78},
        {"extensible PCM, size 0", 0xFFFE, 0, 1, 44100, 192000, 4, 4, 192000, 78},
        {"PCM without a byte rate", 1, 0, 1, 0, 0, 4, 1, 48000, 78},
        {"MP3 without any rate", 0x55, 1152, 0, 0, 0, 4, 1, 48000, 78},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        open();
        // WAVEFORMATEXTENSIBLE's layout, PCM subtype, for every case.
        uint8_t format[40] = {};
        WAVEFORMATEX wf = audio_format(c.byteRate);
        wf.wFormatTag = c.tag;
        wf.cbSize = 22;
        std::memcpy(format, &wf, 18);
        format[24] = 1;
        AVIStreamHeader h = stream_header("auds", c.scale, c.rate);
        h.dwSampleSize = c.sampleSize;
        add(h, format, sizeof format);
        for (const uint32_t bytes : {104u, 105u, 104u}) ASSERT_EQ(write(0, Bytes(bytes, 1)), 0);
        const AVIStreamHeader& got = writer_->streams[0].header;
        EXPECT_EQ(got.dwSampleSize, c.wantSize);
        EXPECT_EQ(got.dwScale, c.wantScale);
        EXPECT_EQ(got.dwRate, c.wantRate);
        EXPECT_EQ(got.dwLength, c.wantLength);
        ASSERT_EQ(close(0, 0), 0);
    }
}

struct CloseCase {
    const char* name;
    const char* first;   // stream 0's type
    const char* second;  // stream 1's type, or null
    uint32_t audioRate;  // nAvgBytesPerSec of audio streams
    uint32_t wantMicroSec, wantTotal, wantLength0, wantLength1;
};

class WriterClose : public WriterTest, public ::testing::WithParamInterface<CloseCase> {};

// Streams at 30000/1001 with 300 chunks each, closed with 300 frames and an
// audio length of 480000.
TEST_P(WriterClose, CompletesMainAndStreamHeaders) {
    const CloseCase& c = GetParam();
    open();
    const BITMAPINFOHEADER vf = video_format();
    const WAVEFORMATEX af = audio_format(c.audioRate);
    for (const char* type : {c.first, c.second}) {
        if (type == nullptr) continue;
        const bool audio = std::string(type) == "auds";
        AVIStreamHeader h = stream_header("vids", 1001, 30000);
        std::memcpy(&h.fccType, type, 4);
        add(h, audio ? static_cast<const void*>(&af) : &vf, audio ? sizeof af : sizeof vf);
    }
    for (uint32_t i = 0; i < 300; ++i) {
        for (int32_t s = 0; s < (c.second ? 2 : 1); ++s) ASSERT_EQ(write(s, payload(s, i, 4)), 0);
    }
    ASSERT_EQ(close(300, 480000), 0);
    ASSERT_NE(read_back(), nullptr);
    EXPECT_EQ(reader_->mainHeader.dwMicroSecPerFrame, c.wantMicroSec);
    EXPECT_EQ(reader_->mainHeader.dwTotalFrames, c.wantTotal);
    EXPECT_EQ(reader_->streams[0].header.dwLength, c.wantLength0);
    if (c.second) {
        EXPECT_EQ(reader_->streams[1].header.dwLength, c.wantLength1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Writer, WriterClose,
    ::testing::Values(CloseCase{"VideoAndAudio", "vids", "auds", 192000, 33366, 300, 300, 480000},
                      // Only an audio second stream takes the audio length.
                      CloseCase{"VideoAndText", "vids", "txts", 192000, 33366, 300, 300, 300},
                      CloseCase{"AudioOnly", "auds", nullptr, 192000, 1000, 10000, 480000, 0},
                      // No byte rate in the format: blocks are counted by its
                      // sample rate, never at a rate of 0.
                      CloseCase{"AudioWithoutRate", "auds", nullptr, 0, 1000, 10000, 480000, 0}),
    [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
// The setting comes from the INI file named by VXMEDIA_PROFILE on Linux.
TEST_F(WriterTest, SegmentSettingIsClampedAndReadOnce) {
    const std::string ini = make_temp_file("vxini");
    set_env("VXMEDIA_PROFILE", ini.c_str());
    auto setting_with = [&](const char* text) {
        std::ofstream(ini) << text;
        vx::writer::set_segment_mib_for_testing(0);
        return vx::writer::segment_mib();
    };
    EXPECT_EQ(setting_with("[Override]\nAVIChunkMB=0\n"), 1u);
    EXPECT_EQ(setting_with("[Override]\nAVIChunkMB=-5\n"), 1u);
    EXPECT_EQ(setting_with("[Override]\nAVIChunkMB=5000\n"), 2048u);
    EXPECT_EQ(setting_with("[Other]\nAVIChunkMB=3\n"), 2048u);
    EXPECT_EQ(setting_with("[override]\naviChunkMB=3\n"), 3u);
    std::ofstream(ini) << "[Override]\nAVIChunkMB=7\n";
    open();
    EXPECT_EQ(writer_->segmentSize, 3u << 20) << "read once per process";
    unset_env("VXMEDIA_PROFILE");
    remove_file(ini);
}
#else
TEST_F(WriterTest, SegmentSettingComesFromTheProfile) {
    const char* expected = std::getenv("VX_TEST_WININI_AVICHUNKMB");
    if (expected == nullptr || expected[0] == '\0') GTEST_SKIP() << "WIN.INI was not prepared";
    vx::writer::set_segment_mib_for_testing(0);
    EXPECT_EQ(vx::writer::segment_mib(), std::strtoul(expected, nullptr, 10));
}
#endif

}  // namespace
