// Files made by the library's writer (through vxavi remux and vxavi demo),
// read by programs written elsewhere: ffprobe must demux them without a
// warning into exactly the packets that went in, mediainfo must see the
// multi-segment ones as OpenDML, and GStreamer's avidemux must demux them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "avi_checks.h"
#include "media_files.h"
#include "support/riff_walk.h"

namespace vxtest {
namespace {

CommandResult vxavi(const std::string& args) {
    return run_command(shell_quote(VXAVI_PATH) + " " + args);
}

bool have_mediainfo() {
    static const bool have = have_program("mediainfo");
    return have;
}

bool have_gstreamer() {
    static const bool have = have_program("gst-launch-1.0") && have_program("gst-inspect-1.0") &&
                             run_command("gst-inspect-1.0 avidemux >/dev/null").exitCode == 0;
    return have;
}

// Same count, sizes, MD5s and (with `keyFlags`) key flags, packet by packet.
void expect_same_packets(const std::vector<Packet>& got, const std::vector<Packet>& want,
                         bool keyFlags, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what << ": packet count";
    int bad = 0;
    for (std::size_t i = 0; i < got.size() && bad < 5; ++i) {
        const bool same = got[i].size == want[i].size && got[i].md5 == want[i].md5 &&
                          (!keyFlags || got[i].key == want[i].key);
        if (!same) {
            ++bad;
            ADD_FAILURE() << what << ": packet " << i << " is size " << got[i].size << " md5 "
                          << got[i].md5 << (got[i].key ? " key" : "") << ", expected size "
                          << want[i].size << " md5 " << want[i].md5 << (want[i].key ? " key" : "");
        }
    }
}

// The streams' order of chunks in the file, from ffprobe's positions.
std::vector<int> stream_sequence(std::vector<Packet> packets, const std::map<int, int>& renumber) {
    std::stable_sort(packets.begin(), packets.end(),
                     [](const Packet& a, const Packet& b) { return a.pos < b.pos; });
    std::vector<int> out;
    for (const Packet& p : packets)
        if (const auto it = renumber.find(p.stream); it != renumber.end())
            out.push_back(it->second);
    return out;
}

// Interleave records ("LIST" "rec ") in the movie lists of the file.
std::size_t record_count(const std::string& path) {
    const std::vector<unsigned char> bytes =
        read_range(path, 0, static_cast<uint32_t>(file_size(path)));
    const RiffView file(bytes);
    std::size_t n = 0;
    for (const vx::RiffChunk& form : file.top()) {
        vx::RiffChunk movi;
        if (!file.child(form, vx::fourcc("LIST"), vx::fourcc("movi"), &movi)) continue;
        file.walker().members(movi, [&](const vx::RiffChunk& c) {
            n += c.id == vx::fourcc("LIST") && c.listType == vx::fourcc("rec ");
            return true;
        });
    }
    return n;
}

// RIFF segments, as vxavi info counts them.
uint32_t segment_count(const std::string& path) {
    const CommandResult r = vxavi("info " + shell_quote(path));
    const std::size_t at = r.out.find("Segments");
    EXPECT_NE(at, std::string::npos) << r.out << r.err;
    return at == std::string::npos
               ? 0
               : static_cast<uint32_t>(std::strtoul(r.out.c_str() + at + 8, nullptr, 10));
}

// The checks every written file passes, with the other programs present.
void expect_others_read_it(const std::string& path, bool multiSegment, bool hasAudio) {
    SCOPED_TRACE(path);
    const CommandResult probe = run_command("ffprobe -v warning " + shell_quote(path));
    EXPECT_EQ(probe.exitCode, 0);
    EXPECT_EQ(probe.out + probe.err, "") << "ffprobe complained";

    if (have_mediainfo()) {
        const CommandResult mi = run_command(
            "mediainfo --Inform='General;%Format%|%Format_Profile%' " + shell_quote(path));
        EXPECT_EQ(mi.exitCode, 0) << mi.err;
        EXPECT_EQ(mi.out, multiSegment ? "AVI|OpenDML\n" : "AVI|\n") << "mediainfo's view";
    }

    if (have_gstreamer()) {
        // A queue per branch: one streaming thread feeds both sinks, which
        // must not block each other while prerolling.
        std::string pipeline = "gst-launch-1.0 -q filesrc location=" + shell_quote(path) +
                               " ! avidemux name=d d.video_0 ! queue ! fakesink";
        if (hasAudio) pipeline += " d.audio_0 ! queue ! fakesink";
        const CommandResult gst = run_command("timeout 120 " + pipeline);
        EXPECT_EQ(gst.exitCode, 0) << gst.out << gst.err;
        EXPECT_EQ((gst.out + gst.err).find("ERROR"), std::string::npos) << gst.out << gst.err;
    }
}

// The source's streams that remux copies: the video and the first audio
// stream, numbered in their order in the source.
std::map<int, int> copied_streams(const MediaFile& source) {
    int video = -1, audio = -1;
    for (const ProbeStream& s : source.streams) {
        if (s.type == "video" && video < 0) video = s.index;
        if (s.type == "audio" && audio < 0) audio = s.index;
    }
    std::map<int, int> out;
    int next = 0;
    for (const int s : std::set<int>{video, audio})
        if (s >= 0) out[s] = next++;
    return out;
}

void expect_remux_matches(const MediaFile& source, const std::string& out, bool keyFlags) {
    const std::map<int, int> copied = copied_streams(source);
    const std::vector<Packet> written = ffprobe_packets(out);
    std::set<int> streamsWritten;
    for (const Packet& p : written) streamsWritten.insert(p.stream);
    EXPECT_EQ(streamsWritten.size(), copied.size()) << out << ": streams with packets";
    for (const auto& [from, to] : copied)
        expect_same_packets(packets_of(written, to), packets_of(source.packets, from), keyFlags,
                            out + " stream " + std::to_string(to));
    std::map<int, int> same;
    for (const auto& [from, to] : copied) same[to] = to;
    EXPECT_EQ(stream_sequence(written, same), stream_sequence(source.packets, copied))
        << out << ": chunks not in the source's order";
}

// ffprobe's "pts,duration" of each audio packet, in seconds.
std::string audio_times(const std::string& path) {
    return run_command("ffprobe -v error -select_streams a:0 -show_entries packet=pts_time,duration_time "
                       "-of csv=p=0 " +
                       shell_quote(path))
        .out;
}

class RemuxMediaTest : public ::testing::TestWithParam<Media> {
protected:
    void SetUp() override {
        if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
        file_ = &media_file(GetParam());
        ASSERT_FALSE(file_->path.empty()) << "ffmpeg could not write " << file_->name;
    }
    const MediaFile* file_ = nullptr;
    TempDir dir_;
};

TEST_P(RemuxMediaTest, FfprobeSeesTheSourcePackets) {
    for (const bool interleave : {false, true}) {
        const std::string out = dir_.file(file_->name + (interleave ? "-rec.avi" : ".avi"));
        const CommandResult r = vxavi("remux " + shell_quote(file_->path) + " " + shell_quote(out) +
                                      (interleave ? " --interleave" : ""));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        // Not a terminal: no progress lines.
        EXPECT_EQ(r.out + r.err, "");
        // Without an index in the source ffprobe has no key flags to compare.
        expect_remux_matches(*file_, out, file_->indexKind != "rebuilt");
        const CommandResult probe = run_command("ffprobe -v warning " + shell_quote(out));
        EXPECT_EQ(probe.out + probe.err, "") << out << ": ffprobe complained";
        // Variable-rate audio keeps its clock: every packet's time and duration.
        if (file_->vbrAudio) {
            EXPECT_EQ(audio_times(out), audio_times(file_->path)) << out;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Generated, RemuxMediaTest, ::testing::ValuesIn(all_media()),
                         [](const auto& info) { return media_name(info.param); });

// A source made by ffmpeg large enough for many 1 MiB segments.
class WrittenFilesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!have_ffmpeg()) return;
        dir_ = new TempDir;
        source_ = new MediaFile;
        source_->name = "sharp";
        const std::string path = dir_->file("sharp.avi");
        const CommandResult r = run_command(
            "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=640x480:rate=25 -f lavfi -i "
            "sine=frequency=440:sample_rate=44100 -t 8 -c:v mpeg4 -q:v 2 -g 12 -c:a pcm_s16le "
            "-ac 2 " +
            shell_quote(path));
        if (r.exitCode != 0) return;
        source_->path = path;
        source_->packets = ffprobe_packets(path);
        source_->streams = ffprobe_streams(path);
    }
    static void TearDownTestSuite() {
        delete source_;
        delete dir_;
        source_ = nullptr;
        dir_ = nullptr;
    }
    void SetUp() override {
        if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
        ASSERT_FALSE(source_->path.empty()) << "ffmpeg could not write the source file";
    }
    std::string remux(const std::string& name, const std::string& options) {
        const std::string out = dir_->file(name);
        const CommandResult r =
            vxavi("remux " + shell_quote(source_->path) + " " + shell_quote(out) + " " + options);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return out;
    }
    static TempDir* dir_;
    static MediaFile* source_;
};
TempDir* WrittenFilesTest::dir_ = nullptr;
MediaFile* WrittenFilesTest::source_ = nullptr;

TEST_F(WrittenFilesTest, ClassicRemuxIsReadByOthers) {
    const std::string out = remux("classic.avi", "");
    EXPECT_EQ(segment_count(out), 1u);
    EXPECT_EQ(record_count(out), 0u);
    expect_remux_matches(*source_, out, true);
    expect_others_read_it(out, false, true);
}

TEST_F(WrittenFilesTest, InterleavedRemuxIsReadByOthers) {
    const std::string out = remux("interleaved.avi", "--interleave");
    EXPECT_EQ(segment_count(out), 1u);
    // One record per video chunk, plus one for audio ahead of the first.
    const std::size_t frames = packets_of(source_->packets, 0).size();
    EXPECT_GE(record_count(out), frames);
    EXPECT_LE(record_count(out), frames + 1);
    expect_remux_matches(*source_, out, true);
    expect_others_read_it(out, false, true);
}

TEST_F(WrittenFilesTest, OpenDmlRemuxIsReadByOthers) {
    for (const bool interleave : {false, true}) {
        const std::string out =
            remux(interleave ? "odml-rec.avi" : "odml.avi",
                  std::string("--segment-mb 1") + (interleave ? " --interleave" : ""));
        EXPECT_GE(segment_count(out), 2u) << out;
        expect_remux_matches(*source_, out, true);
        expect_others_read_it(out, true, true);
    }
}

TEST(VxaviRemuxTest, RefusesBadSegmentSizes) {
    for (const char* bad : {"0", "2049", "x", "-1"}) {
        const CommandResult r = vxavi(std::string("remux a.avi b.avi --segment-mb ") + bad);
        EXPECT_EQ(r.exitCode, 2) << bad;
    }
    EXPECT_EQ(vxavi("remux only-one.avi").exitCode, 2);
}

TEST(VxaviRemuxTest, LeavesNoTemporaryProfileBehind) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
    const MediaFile& f = media_file(Media::kClassic);
    ASSERT_FALSE(f.path.empty());
    TempDir tmp, outDir;
    const CommandResult r = run_command(
        "TMPDIR=" + shell_quote(tmp.path()) + " " + shell_quote(VXAVI_PATH) + " remux " +
        shell_quote(f.path) + " " + shell_quote(outDir.file("out.avi")) + " --segment-mb 1");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path()));
}

TEST(VxaviRemuxTest, RefusesToOverwriteItsInput) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
    const MediaFile& f = media_file(Media::kClassic);
    ASSERT_FALSE(f.path.empty());
    const uint64_t size = file_size(f.path);
    const std::string dir = f.path.substr(0, f.path.rfind('/'));
    const CommandResult r =
        vxavi("remux " + shell_quote(f.path) + " " + shell_quote(dir + "/./" + f.name + ".avi"));
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(file_size(f.path), size);
}

// The demo's files: 100 raw 320x240 frames and a 440 Hz tone in chunks of
// one frame's time (1764 samples). ffmpeg's demuxer hands PCM out in packets
// of at most 1024 samples, so the audio is compared as one byte stream.
class DemoTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
    }
    TempDir dir_;
};

constexpr uint32_t kToneSamples = 100 * 1764;

// 16-bit stereo samples of one unbroken 440 Hz sine: no chunk lost, repeated
// or cut short at a chunk edge.
void expect_tone(const std::string& pcm, const std::string& what) {
    ASSERT_EQ(pcm.size(), kToneSamples * 4u) << what;
    const auto* p = reinterpret_cast<const unsigned char*>(pcm.data());
    int bad = 0;
    for (uint32_t n = 0; n < kToneSamples && bad < 5; ++n) {
        const double want = 8000.0 * std::sin(2 * 3.141592653589793 * 440.0 * n / 44100.0);
        for (uint32_t c = 0; c < 2; ++c) {
            const auto got = static_cast<int16_t>(p[n * 4 + c * 2] | p[n * 4 + c * 2 + 1] << 8);
            if (std::abs(got - want) > 1.0) {
                ++bad;
                ADD_FAILURE() << what << ": sample " << n << " channel " << c << " is " << got
                              << ", expected " << want;
            }
        }
    }
}

// The audio as ffmpeg demuxes it, without decoding.
std::string ffmpeg_audio(const std::string& path) {
    const CommandResult r = run_command("ffmpeg -v error -nostdin -i " + shell_quote(path) +
                                        " -map 0:a -c copy -f s16le -");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return r.out;
}

// The audio as our reader reads it, sample by sample.
std::string reader_audio(const std::string& path) {
    OpenedAvi avi(path, false);
    EXPECT_TRUE(avi.ok()) << path;
    if (!avi.ok()) return {};
    std::string pcm(kToneSamples * 4, '\0');
    uint32_t count = 0, size = static_cast<uint32_t>(pcm.size());
    EXPECT_EQ(aviReadAudSamples(avi.reader(), 0, &count, pcm.data(), &size), 0) << path;
    EXPECT_EQ(count, kToneSamples) << path;
    pcm.resize(size);
    return pcm;
}

// ffprobe's packets and our reader against what the demo put in.
void expect_demo_content(const std::string& path, const std::vector<Packet>& reference) {
    SCOPED_TRACE(path);
    const std::vector<Packet> packets = ffprobe_packets(path);
    const std::vector<Packet> video = packets_of(packets, 0);
    ASSERT_EQ(video.size(), 100u);
    std::set<std::string> distinct;
    for (const Packet& p : video) {
        EXPECT_EQ(p.size, 320u * 240 * 3);
        EXPECT_TRUE(p.key);
        distinct.insert(p.md5);
    }
    EXPECT_EQ(distinct.size(), video.size()) << "the picture should move in every frame";
    if (!reference.empty())
        expect_same_packets(video, packets_of(reference, 0), true, "video against the first file");
    check_video(path, packets, true);
    expect_tone(ffmpeg_audio(path), "ffmpeg's audio");
    expect_tone(reader_audio(path), "our reader's audio");
}

TEST_F(DemoTest, WritesPlainAndInterleavedFilesThatOthersRead) {
    const std::string plain = dir_.file("demo.avi");
    const std::string interleaved = dir_.file("demo-interleaved.avi");
    const CommandResult r = vxavi("demo " + shell_quote(plain));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    // It shows the info of both.
    EXPECT_NE(r.out.find("File          " + plain), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("File          " + interleaved), std::string::npos) << r.out;
    EXPECT_EQ(record_count(plain), 0u);
    EXPECT_EQ(record_count(interleaved), 100u);
    const std::vector<Packet> reference = ffprobe_packets(plain);
    for (const std::string& f : {plain, interleaved}) {
        expect_demo_content(f, reference);
        expect_others_read_it(f, false, true);
    }
}

TEST_F(DemoTest, OneMegabyteSegmentsMakeOpenDmlFiles) {
    const std::string plain = dir_.file("small-segments.avi");
    const std::string interleaved = dir_.file("small-segments-interleaved.avi");
    const CommandResult r = vxavi("demo " + shell_quote(plain) + " --segment-mb 1");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<Packet> reference = ffprobe_packets(plain);
    for (const std::string& f : {plain, interleaved}) {
        // 23 MB in 1 MiB segments.
        EXPECT_GE(segment_count(f), 20u) << f;
        expect_demo_content(f, reference);
        expect_others_read_it(f, true, true);
    }
}

}  // namespace
}  // namespace vxtest
