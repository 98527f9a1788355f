// A file past 1 GiB, which ffmpeg continues in an "AVIX" segment and indexes
// with OpenDML super and standard indexes only.
#include <gtest/gtest.h>

#include "avi_checks.h"
#include "json_value.h"
#include "media_files.h"

namespace vxtest {
namespace {

constexpr uint32_t kFrames = kLargeFrames;
constexpr uint32_t kFrameBytes = kLargeFrameBytes;

class LargeFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!have_ffmpeg()) return;
        dir_ = new TempDir();
        const std::string out = make_large_avi(*dir_, &skipReason_);
        if (out.empty()) return;
        path_ = out;
        packets_ = ffprobe_packets(out);
    }
    static void TearDownTestSuite() {
        delete dir_;  // removes the 1.2 GB file
        dir_ = nullptr;
        large_avi_removed();
        path_.clear();
        packets_.clear();
    }
    void SetUp() override {
        if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
        if (!skipReason_.empty()) GTEST_SKIP() << skipReason_;
        ASSERT_FALSE(path_.empty());
        ASSERT_EQ(packets_.size(), kFrames);
    }

    static TempDir* dir_;
    static std::string path_;
    static std::string skipReason_;
    static std::vector<Packet> packets_;
};

TempDir* LargeFileTest::dir_ = nullptr;
std::string LargeFileTest::path_;
std::string LargeFileTest::skipReason_;
std::vector<Packet> LargeFileTest::packets_;

TEST_F(LargeFileTest, OdmlIndexReachesIntoTheExtensionSegment) {
    OpenedAvi avi(path_, false);
    ASSERT_TRUE(avi.ok()) << first_logged_site();
    const AviStreamIndex& v = avi.reader()->videoIndex;
    ASSERT_EQ(v.count, kFrames);
    EXPECT_EQ(v.chunkId, VX_MAKEFOURCC('0', '0', 'd', 'c'));
    EXPECT_GT(v.entries[kFrames - 1].offset, 1ull << 30);
    for (uint32_t i = 0; i < v.count; ++i) {
        ASSERT_EQ(v.entries[i].size, kFrameBytes) << "entry " << i;
        ASSERT_EQ(v.entries[i].flags, static_cast<uint32_t>(AVIIF_KEYFRAME)) << "entry " << i;
    }
    // The main header counts the first segment's frames only.
    EXPECT_LT(avi.reader()->mainHeader.dwTotalFrames, kFrames);
}

TEST_F(LargeFileTest, FramesMatchWithoutFileName) { check_video(path_, packets_, false); }

TEST_F(LargeFileTest, FramesMatchThroughBlockCache) { check_video(path_, packets_, true); }

TEST_F(LargeFileTest, ToolReportsBothSegments) {
    const CommandResult r =
        run_command(shell_quote(VXAVI_PATH) + " info --json " + shell_quote(path_));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::string error;
    const auto doc = Json::parse(r.out, &error);
    ASSERT_TRUE(doc) << error;
    EXPECT_EQ((*doc)["segmentCount"].u64(), 2u);
    EXPECT_EQ((*doc)["segments"][0]["form"].str(), "AVI ");
    EXPECT_EQ((*doc)["segments"][1]["form"].str(), "AVIX");
    EXPECT_EQ((*doc)["videoIndex"]["kind"].str(), "OpenDML");
    EXPECT_EQ((*doc)["videoIndex"]["entries"].u64(), kFrames);
    EXPECT_EQ((*doc)["videoIndex"]["totalBytes"].u64(), 1ull * kFrames * kFrameBytes);
    EXPECT_TRUE((*doc)["audioIndex"].is_null());
}

}  // namespace
}  // namespace vxtest
