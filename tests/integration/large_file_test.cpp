// A file past 1 GiB, which ffmpeg continues in an "AVIX" segment and indexes
// with OpenDML super and standard indexes only.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>

#include "avi_checks.h"
#include "json_value.h"
#include "media_files.h"

namespace vxtest {
namespace {

constexpr uint32_t kFrames = 1300;
constexpr uint32_t kFrameBytes = 640 * 480 * 3;

// A run stopped from outside (a test timeout) must not leave 1.2 GB behind.
char g_largePath[4096];

void remove_large_file_and_die(int sig) {
    if (g_largePath[0] != '\0') ::unlink(g_largePath);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void guard_large_file(const std::string& path) {
    if (path.size() >= sizeof g_largePath) return;
    std::memcpy(g_largePath, path.c_str(), path.size() + 1);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGABRT}) std::signal(sig, remove_large_file_and_die);
}

class LargeFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!have_ffmpeg()) return;
        dir_ = new TempDir();
        std::error_code ec;
        const auto space = std::filesystem::space(dir_->path(), ec);
        if (ec || space.available < (3ull << 29)) {
            skipReason_ = "less than 1.5 GiB free in " + dir_->path();
            return;
        }
        const std::string out = dir_->file("large.avi");
        guard_large_file(out);
        const CommandResult r = run_command(
            "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=640x480:rate=25 -frames:v " +
            std::to_string(kFrames) + " -c:v rawvideo -pix_fmt bgr24 " + shell_quote(out));
        if (r.exitCode != 0) {
            skipReason_ = "ffmpeg failed: " + r.err;
            return;
        }
        path_ = out;
        packets_ = ffprobe_packets(out);
    }
    static void TearDownTestSuite() {
        delete dir_;  // removes the 1.2 GB file
        dir_ = nullptr;
        g_largePath[0] = '\0';
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
