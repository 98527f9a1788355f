// AVI files from other programs: each either opens and reads exactly what
// ffprobe demuxes from it, or fails to open with a format error.
#include <gtest/gtest.h>

#include <filesystem>

#include "avi_checks.h"
#include "media_files.h"

namespace vxtest {
namespace {

struct CorpusCase {
    const char* file;
    VXRESULT open;     // expected aviOpen result
    int videoEntries;  // -1: no video stream
    bool keyFlags;     // false for indexes rebuilt from the movie list
    // CBR MP3 whose header counts 100 units per chunk with a stored sample
    // size of 1: its chunks are not whole blocks, bytes are not its unit.
    bool audioBySampleNumber = true;
};

std::ostream& operator<<(std::ostream& os, const CorpusCase& c) { return os << c.file; }

const CorpusCase kCases[] = {
    // Cut inside movi, no idx1: the index is rebuilt; the second audio chunk
    // keeps the bytes the file has.
    {"hachoir_virtualdubmod_xvid_mp3_truncated.avi", 0, 0, false},
    {"mimetype_lavf58_fmp4_mp3.avi", 0, 51, true},
    {"mimetype_lavf58_header_only_8k.avi", AVIERR_BADFORMAT, -1, false},
    {"filescraper_lavf56_mpeg2_mp3.avi", 0, 60, true},
    {"filescraper_lavf56_jpeg2000.avi", 0, 31, true},
    {"filescraper_lavf56_jpeg2000_truncated_no_idx1.avi", 0, 31, false},
    // idx1 cut in its last entry: the movie list after the last whole entry
    // gives the last frame.
    {"filescraper_lavf56_jpeg2000_truncated_idx1.avi", 0, 31, true},
    {"filescraper_lavf56_jpeg2000_bad_form_type.avi", AVIERR_BADFORMAT, -1, false},
    {"pyvx_mencoder_fmp4.avi", 0, 136, true},
    {"aviglitch_lavf52_fmp4_mp3.avi", 0, 500, true},
    // Headers of camera files whose media was stripped.
    {"exiftool_pentax_kx_mjpg_pcm_odml_header_only.avi", 0, 0, false},
    {"exiftool_canon_mvi_mjpg_pcm_header_only.avi", 0, 0, false},
    {"media3avi_odml_h264_pcm_ix00.avi", 0, 96, true},
    // Its idx1 gives the padded chunk sizes, one more than the chunk
    // headers for odd chunks: the headers' sizes win.
    {"mjpegavi_mjpg_riff_size_short.avi", 0, 11, true},
    {"small_lavf57_zero_frames.avi", 0, 0, true},
    {"corkami_lavf57_one_png_frame.avi", 0, 1, true},
    {"androidx_lavf60_h264_mp3_cbr_bytes.avi", 0, 59, true, false},
    {"jcodec_lavf58_h264_aac.avi", 0, 840, true},
};

class CorpusTest : public ::testing::TestWithParam<CorpusCase> {
protected:
    void SetUp() override {
        path_ = std::string(VX_CORPUS_DIR) + "/" + GetParam().file;
        if (!std::filesystem::exists(path_)) GTEST_SKIP() << "corpus file missing: " << path_;
    }
    std::string path_;
};

TEST_P(CorpusTest, OpensAsExpected) {
    const CorpusCase& c = GetParam();
    for (const bool withName : {false, true}) {
        OpenedAvi avi(path_, withName);
        ASSERT_EQ(avi.result(), c.open) << first_logged_site();
        if (c.open != 0) {
            EXPECT_EQ(avi.reader(), nullptr);
            continue;
        }
        ASSERT_NE(avi.reader(), nullptr);
        if (c.videoEntries < 0) {
            EXPECT_LT(avi.reader()->videoStream, 0);
        } else {
            EXPECT_EQ(avi.reader()->videoIndex.count, static_cast<uint32_t>(c.videoEntries));
        }
    }
}

TEST_P(CorpusTest, SamplesMatchFfprobe) {
    const CorpusCase& c = GetParam();
    if (c.open != 0) GTEST_SKIP() << "does not open";
    if (!have_ffmpeg()) GTEST_SKIP() << "ffprobe is not on PATH";
    const std::vector<Packet> packets = ffprobe_packets(path_);
    OpenedAvi avi(path_, false);
    ASSERT_TRUE(avi.ok());
    CheckOptions options;
    options.keyFlags = c.keyFlags;
    if (avi.reader()->videoStream >= 0 && avi.reader()->videoIndex.count != 0) {
        check_video(path_, packets, false, options);
        check_video(path_, packets, true, options);
    }
    if (avi.reader()->audioStream >= 0 && avi.reader()->audioIndex.count != 0)
        check_audio(path_, packets, c.keyFlags, c.audioBySampleNumber);
}

INSTANTIATE_TEST_SUITE_P(Corpus, CorpusTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<CorpusCase>& info) {
                             std::string name = info.param.file;
                             name = name.substr(0, name.find('.'));
                             return name;
                         });

}  // namespace
}  // namespace vxtest
