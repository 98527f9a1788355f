// The Windows build of the vxavi tool, run under Wine on the same generated
// files: it must report every frame as ffprobe sees it and print exactly what
// the native tool prints. On Windows the tool opens the file by name, so its
// frames come through the reader's unbuffered block cache.
//
// Runs only when VX_WINE_VXAVI names the Windows vxavi.exe; WINEPREFIX and
// WINEDEBUG come from the environment.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "json_value.h"
#include "media_files.h"

namespace vxtest {
namespace {

std::string wine_vxavi() {
    const char* exe = std::getenv("VX_WINE_VXAVI");
    return exe != nullptr ? exe : "";
}

// Asked for the Windows tool, but cannot run it: a failure, not a skip.
std::string cannot_run_wine() {
    if (!have_program("wine")) return "VX_WINE_VXAVI is set but wine is not on PATH";
    if (!std::filesystem::is_regular_file(wine_vxavi()))
        return "VX_WINE_VXAVI names no file: " + wine_vxavi();
    return {};
}

// The path as a Windows program is given it: through Wine's Z: drive, which
// maps the Unix root.
std::string windows_path(const std::string& unixPath) {
    std::string out = "Z:";
    for (char c : std::filesystem::absolute(unixPath).string()) out += c == '/' ? '\\' : c;
    return out;
}

// The Windows C runtime writes standard output in text mode; only its line
// ends differ by design.
std::string unix_lines(const CommandResult& r) {
    std::string out;
    for (std::size_t i = 0; i < r.out.size(); ++i)
        if (!(r.out[i] == '\r' && i + 1 < r.out.size() && r.out[i + 1] == '\n')) out += r.out[i];
    return out;
}

CommandResult run_windows(const std::string& command, const std::string& path) {
    return run_command("wine " + shell_quote(wine_vxavi()) + " " + command + " " +
                       shell_quote(windows_path(path)));
}

CommandResult run_native(const std::string& command, const std::string& path) {
    return run_command(shell_quote(VXAVI_PATH) + " " + command + " " + shell_quote(path));
}

// Where two outputs first part, for a failure message that a 1300-line
// listing would otherwise bury.
std::string first_difference(const std::string& windows, const std::string& native) {
    if (windows == native) return {};
    std::size_t line = 1, start = 0, i = 0;
    for (; i < windows.size() && i < native.size() && windows[i] == native[i]; ++i)
        if (windows[i] == '\n') ++line, start = i + 1;
    const auto line_at = [&](const std::string& s) {
        return s.substr(start, s.find('\n', start) - start);
    };
    return "line " + std::to_string(line) + ":\n  windows: " + line_at(windows) +
           "\n  native:  " + line_at(native);
}

int video_stream(const std::vector<ProbeStream>& streams) {
    for (const ProbeStream& s : streams)
        if (s.type == "video") return s.index;
    return -1;
}

// Both tools' `frames --json` and `info` on `path`; `packets` are ffprobe's
// with CRC-32 hashes.
void check_windows_tool(const std::string& path, const std::vector<Packet>& packets, int video,
                        bool keyFlags) {
    ASSERT_GE(video, 0) << "ffprobe found no video stream in " << path;
    const CommandResult winFrames = run_windows("frames --json", path);
    ASSERT_EQ(winFrames.exitCode, 0) << winFrames.err;
    const CommandResult nativeFrames = run_native("frames --json", path);
    ASSERT_EQ(nativeFrames.exitCode, 0) << nativeFrames.err;
    const std::string frames = unix_lines(winFrames);
    EXPECT_EQ(first_difference(frames, nativeFrames.out), "") << "frames --json of " << path;

    std::string error;
    const auto doc = Json::parse(frames, &error);
    ASSERT_TRUE(doc) << error;
    const std::vector<Packet> expected = packets_of(packets, video);
    std::size_t next = 0;
    int mismatches = 0;
    for (std::size_t i = 0; i < doc->size() && mismatches < 5; ++i) {
        const Json& f = (*doc)[i];
        if (f["size"].u64() == 0) continue;  // ffprobe has no packet for an empty chunk
        ASSERT_LT(next, expected.size()) << "frame " << i << " has no ffprobe packet";
        const Packet& want = expected[next++];
        const bool same = f["size"].u64() == want.size && f["crc32"].str() == want.crc32 &&
                          (want.pos < 0 || f["offset"].u64() == static_cast<uint64_t>(want.pos)) &&
                          (!keyFlags || f["key"].boolean() == want.key);
        if (!same) {
            ++mismatches;
            ADD_FAILURE() << path << " frame " << i << ": windows tool gives size "
                          << f["size"].u64() << " crc " << f["crc32"].str() << " offset "
                          << f["offset"].u64() << (f["key"].boolean() ? " key" : "")
                          << "; ffprobe size " << want.size << " crc " << want.crc32 << " pos "
                          << want.pos << (want.key ? " key" : "");
        }
    }
    if (mismatches == 0) {
        EXPECT_EQ(next, expected.size()) << "ffprobe packets left over in " << path;
    }

    const CommandResult winInfo = run_windows("info", path);
    ASSERT_EQ(winInfo.exitCode, 0) << winInfo.err;
    const CommandResult nativeInfo = run_native("info", path);
    ASSERT_EQ(nativeInfo.exitCode, 0) << nativeInfo.err;
    // Each tool names the file as it was given it, on the first line.
    std::string expectedInfo = nativeInfo.out;
    const std::size_t at = expectedInfo.find(path);
    ASSERT_LT(at, expectedInfo.find('\n')) << expectedInfo;
    expectedInfo.replace(at, path.size(), windows_path(path));
    EXPECT_EQ(first_difference(unix_lines(winInfo), expectedInfo), "") << "info of " << path;
}

class WineVxaviTest : public ::testing::TestWithParam<Media> {
protected:
    void SetUp() override {
        if (wine_vxavi().empty()) GTEST_SKIP() << "VX_WINE_VXAVI does not name a vxavi.exe";
        const std::string why = cannot_run_wine();
        ASSERT_EQ(why, "");
        if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
        file_ = &media_file(GetParam());
        ASSERT_FALSE(file_->path.empty()) << "ffmpeg could not write " << file_->name;
    }
    const MediaFile* file_ = nullptr;
};

TEST_P(WineVxaviTest, ReportsTheSameFramesAndInfoAsTheNativeTool) {
    // The shared media carries MD5 hashes; the tool prints CRC-32.
    const std::vector<Packet> packets = ffprobe_packets(file_->path, DataHash::kCrc32);
    check_windows_tool(file_->path, packets, video_stream(file_->streams),
                       file_->indexKind != "rebuilt");
}

INSTANTIATE_TEST_SUITE_P(Wine, WineVxaviTest, ::testing::ValuesIn(all_media()),
                         [](const ::testing::TestParamInfo<Media>& info) {
                             return media_name(info.param);
                         });

class WineVxaviLargeFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (wine_vxavi().empty() || !cannot_run_wine().empty() || !have_ffmpeg()) return;
        dir_ = new TempDir();
        path_ = make_large_avi(*dir_, &skipReason_);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
        large_avi_removed();
        path_.clear();
    }
    void SetUp() override {
        if (wine_vxavi().empty()) GTEST_SKIP() << "VX_WINE_VXAVI does not name a vxavi.exe";
        const std::string why = cannot_run_wine();
        ASSERT_EQ(why, "");
        if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
        if (!skipReason_.empty()) GTEST_SKIP() << skipReason_;
        ASSERT_FALSE(path_.empty());
    }

    static TempDir* dir_;
    static std::string path_;
    static std::string skipReason_;
};

TempDir* WineVxaviLargeFileTest::dir_ = nullptr;
std::string WineVxaviLargeFileTest::path_;
std::string WineVxaviLargeFileTest::skipReason_;

// Past 1 GiB, frames in the "AVIX" segment, found through OpenDML indexes.
TEST_F(WineVxaviLargeFileTest, ReportsTheSameFramesAndInfoAsTheNativeTool) {
    const std::vector<Packet> packets = ffprobe_packets(path_, DataHash::kCrc32);
    ASSERT_EQ(packets.size(), kLargeFrames);
    check_windows_tool(path_, packets, 0, true);
}

// Video decoded on both platforms by real codecs: the system's own video codec
// under Wine, the libavcodec driver module natively. 16-bit "CRAM" pictures
// have one right answer, so both must list ffmpeg's pictures exactly.
TEST(WineVxaviDecodeTest, BothPlatformsDecodeVideo1AsFfmpegDoes) {
    if (wine_vxavi().empty()) GTEST_SKIP() << "VX_WINE_VXAVI does not name a vxavi.exe";
    ASSERT_EQ(cannot_run_wine(), "");
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not on PATH";
    TempDir dir;
    const std::string avi = dir.file("cram.avi"), raw = dir.file("cram.rgb");
    constexpr std::size_t kFrames = 8, kPixels = 176 * 144;
    run_command(
        "ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=176x144:rate=25 -frames:v 8 "
        "-c:v msvideo1 " +
        shell_quote(avi));
    run_command("ffmpeg -v error -nostdin -y -i " + shell_quote(avi) +
                " -f rawvideo -pix_fmt rgb555le " + shell_quote(raw));
    const std::vector<unsigned char> pictures = read_range(raw, 0, kFrames * kPixels * 2);
    ASSERT_EQ(pictures.size(), kFrames * kPixels * 2);
    std::vector<std::string> want;
    for (std::size_t f = 0; f < kFrames; ++f) {
        std::vector<unsigned char> bgr;
        for (std::size_t i = 0; i < kPixels; ++i) {
            const unsigned v = pictures[2 * (f * kPixels + i)] | pictures[2 * (f * kPixels + i) + 1]
                                                                     << 8;
            for (int k = 0; k < 3; ++k) {
                const unsigned c = (v >> (5 * k)) & 31;
                bgr.push_back(static_cast<unsigned char>(c << 3 | c >> 2));
            }
        }
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x", crc32_bitwise(bgr.data(), bgr.size()));
        want.push_back(crc);
    }
    const auto crcs = [](const std::string& listing) {
        std::string error;
        std::vector<std::string> out;
        if (const auto doc = Json::parse(listing, &error))
            for (std::size_t i = 0; i < doc->size(); ++i) out.push_back((*doc)[i]["crc32"].str());
        return out;
    };
    const CommandResult windows = run_windows("decode --json", avi);
    ASSERT_EQ(windows.exitCode, 0) << windows.err;
    EXPECT_EQ(crcs(unix_lines(windows)), want) << "the system's codec under Wine";
#ifdef VX_LAVC_DRIVER_PATH
    std::ofstream(dir.file("profile.ini")) << "[drivers32]\nvidc.lavc=" VX_LAVC_DRIVER_PATH "\n";
    const CommandResult native =
        run_command("VXMEDIA_PROFILE=" + shell_quote(dir.file("profile.ini")) + " " +
                    shell_quote(VXAVI_PATH) + " decode --json " + shell_quote(avi));
    ASSERT_EQ(native.exitCode, 0) << native.err;
    EXPECT_EQ(crcs(native.out), want) << "the libavcodec driver module";
#endif
}

// The system's compressor and audio codecs under Wine: MS-RLE video (8-bit
// input) and IMA ADPCM audio, read back by ffprobe and decoded by ffmpeg
// without a complaint; the lists name them.
TEST(WineVxaviConvertTest, ConvertsThroughTheSystemCodecs) {
    if (wine_vxavi().empty()) GTEST_SKIP() << "VX_WINE_VXAVI does not name a vxavi.exe";
    ASSERT_EQ(cannot_run_wine(), "");
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg is not on PATH";
    TempDir dir;
    const std::string in = dir.file("src.avi"), out = dir.file("rle.avi");
    run_command(
        "ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=160x120:rate=10 -f lavfi "
        "-i sine=sample_rate=22050 -t 1 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le "
        "-ac 1 " +
        shell_quote(in));
    const CommandResult run = run_command(
        "wine " + shell_quote(wine_vxavi()) + " convert " + shell_quote(windows_path(in)) + " " +
        shell_quote(windows_path(out)) + " --video MRLE --audio 0x11");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const CommandResult probe = run_command(
        "ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + shell_quote(out));
    EXPECT_EQ(probe.out, "msrle\nadpcm_ima_wav\n") << probe.err;
    const CommandResult decoded =
        run_command("ffmpeg -v error -nostdin -i " + shell_quote(out) + " -f null -");
    EXPECT_EQ(decoded.exitCode, 0);
    EXPECT_EQ(decoded.err, "");
    const CommandResult lists = run_command("wine " + shell_quote(wine_vxavi()) + " codecs");
    ASSERT_EQ(lists.exitCode, 0) << lists.err;
    EXPECT_NE(lists.out.find("MRLE"), std::string::npos) << lists.out;
    EXPECT_NE(lists.out.find("0x0011"), std::string::npos) << lists.out;
}

}  // namespace
}  // namespace vxtest
