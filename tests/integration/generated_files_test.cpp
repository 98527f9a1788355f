// Files that ffmpeg writes during the run, read back through the library and
// compared with what ffprobe demuxes from them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "avi_checks.h"
#include "md5.h"
#include "media_files.h"

namespace vxtest {
namespace {

class GeneratedFileTest : public ::testing::TestWithParam<Media> {
protected:
    void SetUp() override {
        if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
        file_ = &media_file(GetParam());
        ASSERT_FALSE(file_->path.empty()) << "ffmpeg could not write " << file_->name;
        ASSERT_FALSE(file_->packets.empty()) << "ffprobe found no packets in " << file_->path;
    }
    CheckOptions options() const {
        CheckOptions o;
        o.keyFlags = file_->indexKind != "rebuilt";
        return o;
    }
    const MediaFile* file_ = nullptr;
};

uint32_t format_u32(const AviStreamRecord& s, uint32_t at) {
    const auto* p = static_cast<const unsigned char*>(s.format);
    return p[at] | p[at + 1] << 8 | p[at + 2] << 16 | static_cast<uint32_t>(p[at + 3]) << 24;
}
uint32_t format_u16(const AviStreamRecord& s, uint32_t at) {
    const auto* p = static_cast<const unsigned char*>(s.format);
    return p[at] | p[at + 1] << 8;
}

TEST_P(GeneratedFileTest, StreamHeadersAgreeWithFfprobe) {
    OpenedAvi avi(file_->path, false);
    ASSERT_TRUE(avi.ok()) << first_logged_site();
    AviReader* r = avi.reader();
    ASSERT_EQ(aviGetStreamCount(r), file_->streams.size());
    int firstVideo = -1, firstAudio = -1;
    for (const ProbeStream& ps : file_->streams) {
        const AviStreamRecord* s = aviGetAVIStream(r, static_cast<uint32_t>(ps.index));
        ASSERT_NE(s, nullptr);
        ASSERT_NE(s->format, nullptr);
        if (ps.type == "video") {
            EXPECT_EQ(s->header.fccType, VX_MAKEFOURCC('v', 'i', 'd', 's'));
            ASSERT_GE(s->formatSize, 40u);
            EXPECT_EQ(static_cast<int>(format_u32(*s, 4)), ps.width);
            // Raw frames stored top-down carry a negative height.
            EXPECT_EQ(std::abs(static_cast<int32_t>(format_u32(*s, 8))), ps.height);
            if (firstVideo < 0) firstVideo = ps.index;
        } else if (ps.type == "audio") {
            EXPECT_EQ(s->header.fccType, VX_MAKEFOURCC('a', 'u', 'd', 's'));
            ASSERT_GE(s->formatSize, 16u);
            EXPECT_EQ(static_cast<int>(format_u16(*s, 2)), ps.channels);
            EXPECT_EQ(static_cast<int>(format_u32(*s, 4)), ps.sampleRate);
            // A block, or for variable-rate audio a chunk (size 0).
            if (file_->vbrAudio && ps.index == r->audioStream)
                EXPECT_EQ(s->header.dwSampleSize, 0u);
            else
                EXPECT_EQ(s->header.dwSampleSize, format_u16(*s, 12)) << "nBlockAlign";
            if (firstAudio < 0) firstAudio = ps.index;
        }
    }
    EXPECT_EQ(r->videoStream, firstVideo);
    EXPECT_EQ(r->audioStream, firstAudio);
    EXPECT_EQ(aviGetAVIStream(r, aviGetStreamCount(r)), nullptr);
}

TEST_P(GeneratedFileTest, VideoFramesMatchWithoutFileName) {
    check_video(file_->path, file_->packets, false, options());
}

TEST_P(GeneratedFileTest, VideoFramesMatchThroughBlockCache) {
    check_video(file_->path, file_->packets, true, options());
}

TEST_P(GeneratedFileTest, AudioMatches) {
    OpenedAvi avi(file_->path, false);
    ASSERT_TRUE(avi.ok());
    if (avi.reader()->audioStream < 0) GTEST_SKIP() << "no audio stream";
    check_audio(file_->path, file_->packets, options().keyFlags);
}

// A rebuilt index knows no key frames: every frame is a delta frame and the
// key-frame search goes back to the first entry.
TEST_P(GeneratedFileTest, IndexFlagsFollowTheIndexKind) {
    OpenedAvi avi(file_->path, false);
    ASSERT_TRUE(avi.ok());
    AviReader* r = avi.reader();
    const AviStreamIndex& v = r->videoIndex;
    ASSERT_GT(v.count, 2u);
    AviStreamSummary sum{};
    ASSERT_EQ(aviGetStreamSummary(r, r->videoStream, &sum), 0);
    uint32_t position = v.count - 1;
    ASSERT_EQ(aviFindKeyFrame(r, &position), 0);
    if (file_->indexKind == "rebuilt") {
        EXPECT_EQ(sum.keyEntries, 0u);
        EXPECT_EQ(sum.deltaEntries, v.count - sum.emptyEntries);
        EXPECT_EQ(position, 0u);
    } else {
        EXPECT_GT(sum.keyEntries, 0u);
        EXPECT_NE(v.entries[position].flags & AVIIF_KEYFRAME, 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, GeneratedFileTest, ::testing::ValuesIn(all_media()),
                         [](const ::testing::TestParamInfo<Media>& info) {
                             return media_name(info.param);
                         });

class GeneratedLayoutTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
    }
};

// Stream numbers stay the file's; caller numbers 0 and 1 still mean video
// and audio.
TEST_F(GeneratedLayoutTest, AudioBeforeVideoKeepsStreamNumbers) {
    const MediaFile& f = media_file(Media::kAudioFirst);
    ASSERT_FALSE(f.path.empty());
    OpenedAvi avi(f.path, false);
    ASSERT_TRUE(avi.ok());
    AviReader* r = avi.reader();
    EXPECT_EQ(r->videoStream, 1);
    EXPECT_EQ(r->audioStream, 0);
    EXPECT_EQ(r->videoIndex.chunkId, VX_MAKEFOURCC('0', '1', 'd', 'c'));
    EXPECT_EQ(r->audioIndex.chunkId, VX_MAKEFOURCC('0', '0', 'w', 'b'));

    uint32_t size = 0;
    ASSERT_EQ(aviReadFrame(r, 0, nullptr, &size, nullptr), 0);
    std::vector<unsigned char> frame(size), data(size);
    ASSERT_EQ(aviReadFrame(r, 0, frame.data(), &size, nullptr), 0);
    uint32_t dataSize = size;
    ASSERT_EQ(aviReadData(r, 0, 0, 1, data.data(), &dataSize, nullptr, nullptr), 0);
    EXPECT_EQ(dataSize, size);
    EXPECT_EQ(data, frame);
}

// Only the first audio stream is indexed; the others are described.
TEST_F(GeneratedLayoutTest, ThreeAudioStreamsChooseTheFirst) {
    const MediaFile& f = media_file(Media::kThreeAudio);
    ASSERT_FALSE(f.path.empty());
    OpenedAvi avi(f.path, false);
    ASSERT_TRUE(avi.ok());
    AviReader* r = avi.reader();
    ASSERT_EQ(aviGetStreamCount(r), 4u);
    EXPECT_EQ(r->audioStream, 1);
    EXPECT_EQ(packets_of(f.packets, 1).size(), r->audioIndex.count);
    for (uint32_t s = 2; s < 4; ++s) {
        AviStreamSummary sum{1, 1, 1, 1, 1, 1};
        EXPECT_EQ(aviGetStreamSummary(r, static_cast<int32_t>(s), &sum), AVIERR_BADPARAM);
        EXPECT_EQ(sum.entries, 0u);
        unsigned char b[16];
        uint32_t size = sizeof b;
        EXPECT_EQ(aviReadData(r, static_cast<int32_t>(s), 0, 1, b, &size, nullptr, nullptr),
                  AVIERR_BADPARAM);
    }
}

// Frames of 2.25 MiB span cache blocks: they come as copies, never as a
// pointer into one block, and read the same in any order.
TEST_F(GeneratedLayoutTest, FramesLargerThanACacheBlock) {
    const MediaFile& f = media_file(Media::kBigFrames);
    ASSERT_FALSE(f.path.empty());
    OpenedAvi avi(f.path, true);
    ASSERT_TRUE(avi.ok());
    AviReader* r = avi.reader();
    const std::vector<Packet> video = packets_of(f.packets, r->videoStream);
    ASSERT_EQ(r->videoIndex.count, video.size());
    ASSERT_GT(r->videoIndex.entries[0].size, 2u << 20);

    unsigned char* data = nullptr;
    uint32_t size = 0, flags = 0;
    EXPECT_NE(aviReadFramePtr(r, 3, &data, &size, &flags, 1), 0);
    EXPECT_EQ(data, nullptr);

    std::vector<unsigned char> buffer(r->videoIndex.entries[0].size);
    for (int32_t i = static_cast<int32_t>(video.size()) - 1; i >= 0; i -= 2) {
        size = static_cast<uint32_t>(buffer.size());
        ASSERT_EQ(aviReadFrame(r, i, buffer.data(), &size, nullptr), 0);
        EXPECT_EQ(md5_hex(buffer.data(), size), video[i].md5) << "frame " << i;
        ASSERT_EQ(aviReadFramePtr(r, i - 1, &data, &size, &flags, 0), 0);
        EXPECT_EQ(md5_hex(data, size), video[std::max(i - 1, 0)].md5) << "frame " << i - 1;
        aviReadFramePtrRelease(data);
    }
}

}  // namespace
}  // namespace vxtest
