// vxavi tag on files other programs wrote: each file of the corpus is either
// tagged with ffprobe's packets unchanged or refused and left byte for byte
// as it was; small ffmpeg files, with and without frames, take the new lists
// into their padding; a tag that has no room for one of its parts is undone.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "media_files.h"
#include "unit/chunks_fixture.h"

namespace vxtest {
namespace {

namespace fs = std::filesystem;

CommandResult tag(const std::string& path, const std::string& options) {
    return run_command(std::string(VXAVI_PATH) + " tag " + shell_quote(path) + " " + options);
}

// What ffmpeg misread as a packet behind a short index depended on the texts.
const std::pair<std::string, const char*> kTexts[] = {
    {"take 3", "01:00:00:00"}, {"00dc01wb", "00:00:00:00"}, {std::string(255, 'c'), "10:11:12:13"}};

CommandResult tag_all(const std::string& path, const std::string& comment, const char* timecode) {
    return tag(path,
               "--comment " + shell_quote(comment) + " --timecode " + timecode + " --aspect 16:9");
}

// ffprobe's packets as it prints them: position, size, timing and MD5.
std::string packets(const std::string& path) {
    return run_command("ffprobe -v error -show_packets -show_data_hash MD5 -of compact " +
                       shell_quote(path))
        .out;
}

// Tags copies of `source` with each of kTexts. Tagged: ffprobe's packets
// stay and the getters return what was set (`inPadding`: nothing was
// appended); else vxavi fails and the copy keeps every byte.
void tag_copies(const std::string& source, bool tagged, bool inPadding) {
    const std::string before = packets(source);
    const Bytes original = read_whole(source);
    TempDir dir;
    const std::string path = dir.file("tag.avi");
    for (const auto& [comment, timecode] : kTexts) {
        SCOPED_TRACE(timecode);
        fs::copy_file(source, path, fs::copy_options::overwrite_existing);
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
        const CommandResult r = tag_all(path, comment, timecode);
        if (!tagged) {
            EXPECT_EQ(r.exitCode, 1) << r.err;
            EXPECT_EQ(read_whole(path), original);
            continue;
        }
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(packets(path), before);
        if (inPadding) {
            EXPECT_EQ(file_size(path), original.size());
            EXPECT_EQ(check_well_formed(read_whole(path)), "");
        }
        const TimeTexts got = get_texts(Opened(path));
        EXPECT_STREQ(got.tcO, timecode);
        EXPECT_EQ(got.cmnt, comment);
        int32_t n = 0, d = 0;
        EXPECT_EQ(vfwGetAspectData(Opened(path), &n, &d), 1);
        EXPECT_EQ(std::pair(n, d), std::pair(16, 9));
    }
}

TEST(TagCorpus, EachFileKeepsItsPacketsOrIsLeftAsItWas) {
    if (!fs::is_directory(VX_CORPUS_DIR)) GTEST_SKIP() << "no corpus at " << VX_CORPUS_DIR;
    if (!have_ffmpeg()) GTEST_SKIP() << "ffprobe is not on PATH";
    // No padding and no room to append: forms that claim more than the file
    // holds, end before their index or are followed by a byte.
    const std::set<std::string> refused = {"exiftool_canon_mvi_mjpg_pcm_header_only.avi",
                                           "exiftool_pentax_kx_mjpg_pcm_odml_header_only.avi",
                                           "filescraper_lavf56_jpeg2000_bad_form_type.avi",
                                           "mimetype_lavf58_header_only_8k.avi",
                                           "mjpegavi_mjpg_riff_size_short.avi"};
    int files = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(VX_CORPUS_DIR)) {
        const std::string name = e.path().filename().string();
        if (e.path().extension() != ".avi") continue;
        SCOPED_TRACE(name);
        tag_copies(e.path().string(), refused.count(name) == 0, false);
        ++files;
    }
    EXPECT_GT(files, 0);
}

class TagFfmpegFile : public ::testing::TestWithParam<const char*> {};

TEST_P(TagFfmpegFile, TheListsGoIntoItsPaddingAndThePacketsStay) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
    TempDir dir;
    const std::string made = dir.file("made.avi");
    const CommandResult r =
        run_command("ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=32x24:rate=25 " +
                    std::string(GetParam()) + " " + shell_quote(made));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    tag_copies(made, true, true);
}

std::string made_name(const ::testing::TestParamInfo<const char*>& info) {
    static const char* const kNames[] = {"mjpeg_one_frame", "mpeg4_no_frames", "mpeg4_pcm"};
    return kNames[info.index];
}

INSTANTIATE_TEST_SUITE_P(Files, TagFfmpegFile,
                         ::testing::Values("-frames:v 1 -c:v mjpeg", "-frames:v 0 -c:v mpeg4",
                                           "-f lavfi -i sine -t 0.4 -c:v mpeg4 -c:a pcm_s16le"),
                         made_name);

// Padding with room for the time data lists but not for the aspect chunk,
// and a byte behind the form so that nothing can be appended.
TEST(TagUndo, ATagThatFailsPartWayLeavesTheFileAsItWas) {
    RiffBuilder b;
    b.riff("AVI ");
    b.list("hdrl");
    b.chunk("avih", Bytes(56, 0));
    b.end();
    b.chunk("JUNK", Bytes(VX_TDAT_LIST_BYTES + VX_CDAT_LIST_BYTES - 8, 0));
    b.list("movi");
    b.chunk("00dc", pattern(40, 1));
    b.end();
    b.end();
    b.u8(0);
    const Bytes original = b.finish();
    TempAviFile file(original);

    CommandResult r = tag_all(file.path(), "take 3", "01:00:00:00");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("cannot set the aspect ratio"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("left as it was"), std::string::npos) << r.err;
    EXPECT_EQ(read_whole(file.path()), original);

    // A metadata file that cannot be read stops the tag before any edit.
    r = tag(file.path(), "--comment x --meta Xabc=@" + shell_quote(file.path() + ".missing"));
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(read_whole(file.path()), original);

    // The time data alone fits.
    r = tag(file.path(), "--comment 'take 3' --timecode 01:02:03:04");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(get_texts(file.handle()).cmnt, std::string("take 3"));
}

}  // namespace
}  // namespace vxtest
