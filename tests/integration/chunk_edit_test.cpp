// Chunk edits of files from ffmpeg (new chunks go into its "JUNK" padding in
// front of the movie list, then behind the index) and of files from our
// writer (new chunks go into its filler): ffprobe still lists every packet
// unchanged and has nothing to warn about, the reader reads every sample, and
// the getters return what was set.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "avi_checks.h"
#include "media_files.h"
#include "unit/chunks_fixture.h"

namespace vxtest {
namespace {

CommandResult run_vxavi(const std::string& args) {
    return run_command(std::string(VXAVI_PATH) + " " + args);
}

struct EditSource {
    std::string name;
    Media media;
    std::string remux;  // vxavi remux options; empty: ffmpeg's file itself
};

void PrintTo(const EditSource& s, std::ostream* os) { *os << s.name; }

class ChunkEditFiles : public ::testing::TestWithParam<EditSource> {
protected:
    void SetUp() override {
        if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
        const MediaFile& m = media_file(GetParam().media);
        ASSERT_FALSE(m.path.empty());
        path_ = dir_.file("edit.avi");
        if (GetParam().remux.empty()) {
            std::filesystem::copy_file(m.path, path_);
        } else {
            const CommandResult r = run_vxavi("remux " + shell_quote(m.path) + " " +
                                              shell_quote(path_) + " " + GetParam().remux);
            ASSERT_EQ(r.exitCode, 0) << r.err;
        }
        packets_ = ffprobe_packets(path_);
        ASSERT_FALSE(packets_.empty());
        fd_ = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_GE(fd_, 0);
    }
    void TearDown() override {
        if (fd_ >= 0) ::close(fd_);
    }
    // A rebuilt index (no idx1) has no key flags to compare.
    static CheckOptions options() {
        CheckOptions o;
        o.keyFlags = GetParam().media != Media::kNoIdx1;
        return o;
    }
    HANDLE h() const { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(fd_)); }

    void expect_unchanged_movie() {
        EXPECT_EQ(check_well_formed(read_whole(path_)), "");
        const std::vector<Packet> now = ffprobe_packets(path_);
        ASSERT_EQ(now.size(), packets_.size());
        for (std::size_t i = 0; i < now.size(); ++i) {
            EXPECT_EQ(now[i].md5, packets_[i].md5) << "packet " << i;
            EXPECT_EQ(now[i].pos, packets_[i].pos) << "packet " << i;
            EXPECT_EQ(now[i].stream, packets_[i].stream) << "packet " << i;
        }
        const CommandResult warn = run_command("ffprobe -v warning -show_packets -show_streams " +
                                               shell_quote(path_) + " >/dev/null");
        EXPECT_EQ(warn.exitCode, 0);
        EXPECT_EQ(warn.err, "");
        check_video(path_, packets_of(packets_, 0), false, options());
    }

    TempDir dir_;
    std::string path_;
    std::vector<Packet> packets_;
    int fd_ = -1;
};

TEST_P(ChunkEditFiles, EverySetterAndARandomSequenceKeepThePackets) {
    const uint64_t size = file_size(path_);
    const AviTimeData t = time_data("01:00:00:00", "01:00:00;00", "A001", "B001", "take 3");
    ASSERT_EQ(vfwAddTimeData(h(), &t), 0);
    if (GetParam().remux.empty()) {
        EXPECT_EQ(file_size(path_), size) << "in the padding";
        const Bytes b = read_whole(path_);
        const auto at = [&](const char* text) {
            return std::search(b.begin(), b.end(), text, text + 4) - b.begin();
        };
        EXPECT_LT(at("Cdat"), at("movi"));
    }
    expect_unchanged_movie();
    ASSERT_EQ(vfwSetPullUpData(h(), 2, 3), 0);
    ASSERT_EQ(vfwSetAspectData(h(), 16, 15), 0);
    ASSERT_EQ(vfwSetMetaData(h(), Fcc("Xodd"), "odd", 3), 0);
    expect_unchanged_movie();

    std::mt19937 rng(7);
    std::string comment;
    int32_t aspect = 0;
    for (int step = 0; step < 40; ++step) {
        switch (rng() % 3) {
            case 0: {
                comment = "comment " + std::string(rng() % 200, 'c');
                const AviTimeData next = time_data("", "", "A002", "", comment.c_str());
                ASSERT_EQ(vfwAddTimeData(h(), &next), 0);
                break;
            }
            case 1:
                aspect = static_cast<int32_t>(rng() % 1000);
                ASSERT_EQ(vfwSetAspectData(h(), aspect, 11), 0);
                break;
            default: {
                const Bytes data = pattern(rng() % 600, static_cast<uint8_t>(step));
                ASSERT_EQ(vfwSetMetaData(h(), Fcc("Xodd"), data.data(),
                                         static_cast<uint32_t>(data.size())),
                          0);
                break;
            }
        }
    }
    expect_unchanged_movie();
    const TimeTexts got = get_texts(h());
    EXPECT_STREQ(got.tcO, "01:00:00:00");
    EXPECT_STREQ(got.tcA, "01:00:00;00");
    if (!comment.empty()) {
        EXPECT_STREQ(got.cmnt, comment.c_str());
    }
    int32_t a = 0, b = 0;
    ASSERT_EQ(vfwGetPullUpData(h(), &a, &b), 1);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(b, 3);
    ASSERT_EQ(vfwGetAspectData(h(), &a, &b), 1);
    if (aspect != 0) {
        EXPECT_EQ(a, aspect);
    }
}

TEST_P(ChunkEditFiles, AFailedWriteLosesNoPacket) {
    const AviTimeData t = time_data("01:00:00:00", "", "A001", "", "take 3");
    VxHostInjectFault(VX_FAULT_SHORT_WRITE, 0);
    EXPECT_NE(vfwAddTimeData(h(), &t), 0);
    VxHostClearFaults();
    const std::vector<Packet> now = ffprobe_packets(path_);
    ASSERT_EQ(now.size(), packets_.size());
    for (std::size_t i = 0; i < now.size(); ++i) EXPECT_EQ(now[i].md5, packets_[i].md5) << i;
    check_video(path_, packets_of(packets_, 0), false, options());
}

INSTANTIATE_TEST_SUITE_P(
    Files, ChunkEditFiles,
    ::testing::Values(EditSource{"ffmpeg_classic", Media::kClassic, ""},
                      EditSource{"ffmpeg_three_audio", Media::kThreeAudio, ""},
                      EditSource{"ffmpeg_no_idx1", Media::kNoIdx1, ""},
                      EditSource{"writer_classic", Media::kClassic, "--interleave"},
                      EditSource{"writer_opendml", Media::kClassic, "--segment-mb 1"}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace vxtest

namespace vxtest {
namespace {

TEST(VxaviTagTest, SetsWhatTagsThenShows) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
    const MediaFile& m = media_file(Media::kClassic);
    TempDir dir;
    const std::string path = dir.file("tag.avi");
    std::filesystem::copy_file(m.path, path);
    const CommandResult set =
        run_vxavi("tag " + shell_quote(path) +
                  " --timecode 01:00:00:00 --reel 'Reel 1' --comment 'a comment' --pullup 2,3 "
                  "--aspect 10:11 --meta Xabc=hello");
    ASSERT_EQ(set.exitCode, 0) << set.err;
    // Only the alternate reel changes: the others stay.
    ASSERT_EQ(run_vxavi("tag " + shell_quote(path) + " --reel-alt B").exitCode, 0);
    const CommandResult shown = run_vxavi("tags " + shell_quote(path));
    ASSERT_EQ(shown.exitCode, 0) << shown.err;
    for (const char* want :
         {"timecode       01:00:00:00\n", "reel           Reel 1\n", "reel-alt       B\n",
          "comment        a comment\n", "pullup         2,3\n", "aspect         10:11\n",
          "meta Xabc      5 bytes\n"}) {
        EXPECT_NE(shown.out.find(want), std::string::npos) << want << shown.out;
    }
    EXPECT_EQ(ffprobe_packets(path).size(), m.packets.size());

    EXPECT_EQ(run_vxavi("tag " + shell_quote(path)).exitCode, 2);
    EXPECT_EQ(run_vxavi("tag " + shell_quote(path) + " --aspect 4x3").exitCode, 2);
    EXPECT_EQ(run_vxavi("tag " + shell_quote(path) + " --meta movi=x").exitCode, 2);
    EXPECT_EQ(run_vxavi("tag " + shell_quote(path) + " --timecode 0123456789012345678").exitCode,
              2);
    const std::string text = dir.file("text.avi");
    std::ofstream(text) << "not a RIFF file at all";
    EXPECT_EQ(run_vxavi("tags " + shell_quote(text)).exitCode, 1);
    EXPECT_EQ(run_vxavi("tag " + shell_quote(text) + " --pullup 1,2").exitCode, 1);
}

}  // namespace
}  // namespace vxtest
