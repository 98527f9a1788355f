// vxavi tag on files other programs wrote: each file of the corpus is either
// tagged with ffprobe's packets unchanged or refused and left byte for byte
// as it was; small ffmpeg files, with and without frames, take the new lists
// into their padding; a tag that has no room for one of its parts is undone.
#include <gtest/gtest.h>

#include <filesystem>

#include "media_files.h"
#include "unit/chunks_fixture.h"

namespace vxtest {
namespace {

namespace fs = std::filesystem;

CommandResult tag(const std::string& path, const std::string& options) {
    return run_command(std::string(VXAVI_PATH) + " tag " + shell_quote(path) + " " + options);
}

// What ffmpeg misread as a packet behind a short index depended on the texts.
struct Texts {
    std::string comment, timecode;
};
const Texts kTexts[] = {
    {"take 3", "01:00:00:00"}, {"00dc01wb", "00:00:00:00"}, {std::string(255, 'c'), "10:11:12:13"}};

CommandResult tag_all(const std::string& path, const Texts& t) {
    return tag(path, "--comment " + shell_quote(t.comment) + " --timecode " + t.timecode +
                         " --aspect 16:9");
}

// ffprobe's packets as it prints them: position, size, timing and MD5.
std::string packets(const std::string& path) {
    return run_command("ffprobe -v error -show_packets -show_data_hash MD5 -of compact " +
                       shell_quote(path))
        .out;
}

void copy_writable(const std::string& from, const std::string& to) {
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
}

void expect_tagged(const std::string& path, const Texts& t) {
    const TimeTexts got = get_texts(Opened(path));
    EXPECT_EQ(got.tcO, t.timecode);
    EXPECT_EQ(got.cmnt, t.comment);
    int32_t n = 0, d = 0;
    EXPECT_EQ(vfwGetAspectData(Opened(path), &n, &d), 1);
    EXPECT_EQ(std::pair(n, d), std::pair(16, 9));
}

struct CorpusTag {
    const char* file;
    bool tagged;
};

void PrintTo(const CorpusTag& c, std::ostream* os) { *os << c.file; }

const CorpusTag kCorpus[] = {
    {"androidx_lavf60_h264_mp3_cbr_bytes.avi", true},
    {"aviglitch_lavf52_fmp4_mp3.avi", true},
    {"corkami_lavf57_one_png_frame.avi", true},
    // The form claims more than the file holds, and there is no padding.
    {"exiftool_canon_mvi_mjpg_pcm_header_only.avi", false},
    {"exiftool_pentax_kx_mjpg_pcm_odml_header_only.avi", false},
    {"filescraper_lavf56_jpeg2000.avi", true},
    // Not an "AVI " form, and a byte follows it.
    {"filescraper_lavf56_jpeg2000_bad_form_type.avi", false},
    {"filescraper_lavf56_jpeg2000_truncated_idx1.avi", true},
    {"filescraper_lavf56_jpeg2000_truncated_no_idx1.avi", true},
    {"filescraper_lavf56_mpeg2_mp3.avi", true},
    {"hachoir_virtualdubmod_xvid_mp3_truncated.avi", true},
    {"jcodec_lavf58_h264_aac.avi", true},
    // No padding: appended behind a full index.
    {"media3avi_odml_h264_pcm_ix00.avi", true},
    {"mimetype_lavf58_fmp4_mp3.avi", true},
    {"mimetype_lavf58_header_only_8k.avi", false},
    // Its index runs past the form's end.
    {"mjpegavi_mjpg_riff_size_short.avi", false},
    {"pyvx_mencoder_fmp4.avi", true},
    {"small_lavf57_zero_frames.avi", true},
};

class TagCorpus : public ::testing::TestWithParam<CorpusTag> {};

TEST_P(TagCorpus, KeepsThePacketsOrLeavesTheFileAsItWas) {
    const std::string source = std::string(VX_CORPUS_DIR) + "/" + GetParam().file;
    if (!fs::exists(source)) GTEST_SKIP() << "corpus file missing: " << source;
    if (!have_ffmpeg()) GTEST_SKIP() << "ffprobe is not on PATH";
    const std::string before = packets(source);
    const Bytes original = read_whole(source);
    TempDir dir;
    const std::string path = dir.file("tag.avi");
    for (const Texts& t : kTexts) {
        SCOPED_TRACE(t.comment);
        copy_writable(source, path);
        const CommandResult r = tag_all(path, t);
        if (!GetParam().tagged) {
            EXPECT_EQ(r.exitCode, 1) << r.err;
            EXPECT_EQ(read_whole(path), original);
            continue;
        }
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(packets(path), before);
        expect_tagged(path, t);
    }
}

INSTANTIATE_TEST_SUITE_P(Corpus, TagCorpus, ::testing::ValuesIn(kCorpus),
                         [](const ::testing::TestParamInfo<CorpusTag>& info) {
                             const std::string name = info.param.file;
                             return name.substr(0, name.find('.'));
                         });

struct MadeFile {
    const char* name;
    const char* ffmpeg;  // inputs and codecs
};

void PrintTo(const MadeFile& m, std::ostream* os) { *os << m.name; }

class TagFfmpegFile : public ::testing::TestWithParam<MadeFile> {};

TEST_P(TagFfmpegFile, TheListsGoIntoItsPaddingAndThePacketsStay) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
    TempDir dir;
    const std::string made = dir.file("made.avi"), path = dir.file("tag.avi");
    const CommandResult r = run_command("ffmpeg -v error -nostdin -y " +
                                        std::string(GetParam().ffmpeg) + " " + shell_quote(made));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string before = packets(made);
    for (const Texts& t : kTexts) {
        SCOPED_TRACE(t.comment);
        copy_writable(made, path);
        ASSERT_EQ(tag_all(path, t).exitCode, 0);
        EXPECT_EQ(file_size(path), file_size(made)) << "nothing appended";
        EXPECT_EQ(check_well_formed(read_whole(path)), "");
        EXPECT_EQ(packets(path), before);
        expect_tagged(path, t);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, TagFfmpegFile,
    ::testing::Values(MadeFile{"mjpeg_one_frame",
                               "-f lavfi -i testsrc=size=32x24:rate=25 -frames:v 1 -c:v mjpeg"},
                      MadeFile{"mpeg4_no_frames",
                               "-f lavfi -i testsrc=size=32x24:rate=25 -frames:v 0 -c:v mpeg4"},
                      MadeFile{"mpeg4_pcm",
                               "-f lavfi -i testsrc=size=32x24:rate=25 -f lavfi -i sine -t 0.4 "
                               "-c:v mpeg4 -c:a pcm_s16le"}),
    [](const auto& info) { return std::string(info.param.name); });

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

    CommandResult r = tag_all(file.path(), kTexts[0]);
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
