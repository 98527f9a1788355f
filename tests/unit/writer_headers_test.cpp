// Header values the writer derives from the streams and completes at close,
// and the segment-size setting.
#include "unit/writer_fixture.h"

namespace {

using namespace vxtest;

class WriterHeaders : public WriterTest {
protected:
    int32_t add(AVIStreamHeader h, const void* format, uint32_t size) {
        int32_t n = -1;
        EXPECT_EQ(avifileAddStream(writer_, &n, &h, format, size), 0);
        return n;
    }
};

TEST_F(WriterHeaders, StreamDeclarationsFillDerivedFields) {
    open();
    AVIStreamHeader a = audio_header();
    a.dwRate = 0;
    a.dwScale = 99;
    const WAVEFORMATEX wf = audio_format();
    add(a, &wf, sizeof wf);
    AVIStreamHeader v = video_header(0, 30000);
    v.dwSampleSize = 5;
    const BITMAPINFOHEADER f1 = video_format(320, 240);
    add(v, &f1, sizeof f1);
    AVIStreamHeader t = video_header(3, 7);
    t.fccType = Fcc("txts");
    t.dwSampleSize = 9;
    add(t, "abc", 3);

    const AVIStreamHeader& sa = writer_->streams[0].header;
    EXPECT_EQ(sa.dwRate, 192000u);
    EXPECT_EQ(sa.dwScale, 4u);
    EXPECT_EQ(sa.dwSampleSize, 4u);
    const AVIStreamHeader& sv = writer_->streams[1].header;
    EXPECT_EQ(sv.dwRate, 15u) << "both replaced, not only the zero";
    EXPECT_EQ(sv.dwScale, 1u);
    EXPECT_EQ(sv.dwSampleSize, 0u);
    const AVIStreamHeader& st = writer_->streams[2].header;
    EXPECT_EQ(st.dwRate, 7u);
    EXPECT_EQ(st.dwScale, 3u);
    EXPECT_EQ(st.dwSampleSize, 0u);

    // The frame size only grows; a top-down bitmap counts its rows.
    const BITMAPINFOHEADER f2 = video_format(720, 480);
    add(video_header(), &f2, sizeof f2);
    EXPECT_EQ(writer_->mainHeader.dwWidth, 720u);
    EXPECT_EQ(writer_->mainHeader.dwHeight, 480u);
    const BITMAPINFOHEADER f3 = video_format(640, -576);
    add(video_header(), &f3, sizeof f3);
    EXPECT_EQ(writer_->mainHeader.dwWidth, 720u);
    EXPECT_EQ(writer_->mainHeader.dwHeight, 576u);
    EXPECT_EQ(writer_->mainHeader.dwStreams, 5u);
}

TEST_F(WriterHeaders, VideoFirstFileTakesTheCountsGivenAtClose) {
    open();
    const BITMAPINFOHEADER f = video_format();
    add(video_header(1001, 30000), &f, sizeof f);
    add_audio();
    for (uint32_t i = 0; i < 300; ++i) {
        ASSERT_EQ(write(0, payload(0, i, 3), kDc, AVIIF_KEYFRAME), 0);
        if (i % 10 == 0) {
            ASSERT_EQ(write(1, payload(1, i, 16016), kWb, AVIIF_KEYFRAME), 0);
        }
    }
    ASSERT_EQ(close(300, 480480), 0);
    AviReader* r = read_back();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->mainHeader.dwMicroSecPerFrame, 33366u);
    EXPECT_EQ(r->mainHeader.dwTotalFrames, 300u);
    EXPECT_TRUE(r->mainHeader.dwFlags & AVIF_HASINDEX);
    EXPECT_EQ(r->streams[0].header.dwLength, 300u);
    EXPECT_EQ(r->streams[1].header.dwLength, 480480u);
    const Bytes b = file_bytes();
    const int64_t junq = find_chunk(b, Fcc("JUNQ"), 12, b.size());
    EXPECT_LT(find_chunk(b, Fcc("indx"), 12, junq), 0);
    EXPECT_LT(find_chunk(b, Fcc("dmlh"), 12, junq), 0);
}

TEST_F(WriterHeaders, SecondStreamKeepsItsOwnLengthUnlessItIsAudio) {
    open();
    add_video();
    AVIStreamHeader t = video_header();
    t.fccType = Fcc("txts");
    add(t, "subtitle", 8);
    for (uint32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(write(0, payload(0, i, 10), kDc, AVIIF_KEYFRAME), 0);
        ASSERT_EQ(write(1, payload(1, i, 5), 't' | ('x' << 8), AVIIF_KEYFRAME), 0);
    }
    ASSERT_EQ(close(3, 123456), 0);
    AviReader* r = read_back();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->streams[1].header.dwLength, 3u);
}

TEST_F(WriterHeaders, AudioFirstFileCountsMilliseconds) {
    open();
    add_audio();
    ASSERT_EQ(write(0, payload(0, 0, 4000), kWb, AVIIF_KEYFRAME), 0);
    ASSERT_EQ(close(77, 480000), 0);
    AviReader* r = read_back();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->mainHeader.dwMicroSecPerFrame, 1000u);
    EXPECT_EQ(r->mainHeader.dwTotalFrames, 10000u);
    EXPECT_EQ(r->streams[0].header.dwLength, 480000u);
}

TEST_F(WriterHeaders, AudioWithoutRateGivesNoFrameCount) {
    open();
    const WAVEFORMATEX f = audio_format(0);
    add(audio_header(), &f, sizeof f);
    ASSERT_EQ(write(0, payload(0, 0, 400), kWb, AVIIF_KEYFRAME), 0);
    ASSERT_EQ(close(0, 100), 0);
    AviReader* r = read_back();
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->mainHeader.dwTotalFrames, 0u);
    EXPECT_EQ(r->mainHeader.dwMicroSecPerFrame, 1000u);
}

TEST_F(WriterHeaders, ChunkIdsNameStreamAndType) {
    open();
    for (int i = 0; i < 12; ++i) add_video();
    ASSERT_EQ(write(0, payload(0, 0, 2), 0, AVIIF_KEYFRAME), 0);     // no type
    ASSERT_EQ(write(11, payload(0, 1, 2), 'd' | ('b' << 8), 0), 0);  // "db"
    ASSERT_EQ(write(1, payload(0, 2, 2), kWb | 0xABCD0000u, 0), 0);  // high bits ignored
    ASSERT_EQ(close(1, 0), 0);
    const Bytes b = file_bytes();
    const int64_t idx1 = find_chunk(b, Fcc("idx1"), 12, b.size());
    ASSERT_GT(idx1, 0);
    EXPECT_EQ(rd32(b, idx1 + 8), Fcc("00xx"));
    EXPECT_EQ(rd32(b, idx1 + 24), Fcc("0Bdb"));
    EXPECT_EQ(rd32(b, idx1 + 40), Fcc("01wb"));
}

#ifndef _WIN32
// The setting comes from the profile named by VXMEDIA_PROFILE on Linux.
class WriterSetting : public WriterTest {
protected:
    void TearDown() override {
        unset_env("VXMEDIA_PROFILE");
        if (!ini_.empty()) remove_file(ini_);
        WriterTest::TearDown();
    }
    uint32_t setting_with(const char* text) {
        if (ini_.empty()) ini_ = make_temp_file("vxini");
        std::ofstream(ini_) << text;
        set_env("VXMEDIA_PROFILE", ini_.c_str());
        vx::writer::set_segment_mib_for_testing(0);
        return vx::writer::segment_mib();
    }
    std::string ini_;
};

TEST_F(WriterSetting, ProfileValueIsClampedAndReadOnce) {
    EXPECT_EQ(setting_with("[Override]\nAVIChunkMB=16\n"), 16u);
    EXPECT_EQ(setting_with("[Override]\nAVIChunkMB=0\n"), 1u);
    EXPECT_EQ(setting_with("[Override]\nAVIChunkMB=-5\n"), 1u);
    EXPECT_EQ(setting_with("[Override]\nAVIChunkMB=5000\n"), 2048u);
    EXPECT_EQ(setting_with("[Other]\nAVIChunkMB=3\n"), 2048u);
    EXPECT_EQ(setting_with("[override]\naviChunkMB=3\n"), 3u);
    // Read once: a changed profile is not seen by later opens.
    std::ofstream(ini_) << "[Override]\nAVIChunkMB=7\n";
    open();
    EXPECT_EQ(vx::writer::segment_mib(), 3u);
    EXPECT_EQ(writer_->segmentSize, 3u << 20);
}
#else
TEST_F(WriterTest, SettingComesFromTheProfile) {
    const char* expected = std::getenv("VX_TEST_WININI_AVICHUNKMB");
    if (expected == nullptr || expected[0] == '\0') GTEST_SKIP() << "WIN.INI was not prepared";
    vx::writer::set_segment_mib_for_testing(0);
    EXPECT_EQ(vx::writer::segment_mib(), std::strtoul(expected, nullptr, 10));
}
#endif

}  // namespace
