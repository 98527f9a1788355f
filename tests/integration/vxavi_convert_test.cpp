// vxavi convert through every shipped compressor and audio codec, judged by
// ffprobe and ffmpeg; vxavi codecs as the host sees the lists.
#include "driver_profile.h"

#ifdef VX_LAVC_DRIVER_PATH

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "json_value.h"

namespace vxtest {
namespace {

class ConvertTest : public DriverProfileTest {
protected:
    // A raw 24-bit source with a 16-bit mono tone, made by ffmpeg once per
    // size.
    std::string source(const std::string& size, const std::string& rate, int sampleRate) {
        const std::string path =
            dir_.file("src-" + size + "-" + std::to_string(sampleRate) + ".avi");
        const CommandResult made = run_command(
            "ffmpeg -v error -nostdin -y -f lavfi -i testsrc2=size=" + size + ":rate=" + rate +
            " -f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(sampleRate) +
            " -t 1 -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le -ac 1 " + shell_quote(path));
        EXPECT_EQ(made.exitCode, 0) << made.err;
        return path;
    }
    static std::string probe(const std::string& file, const char* stream, const char* entries) {
        const CommandResult r =
            run_command("ffprobe -v error -select_streams " + std::string(stream) +
                        " -show_entries stream=" + entries + " -of csv=p=0 " + shell_quote(file));
        EXPECT_EQ(r.err, "");
        return r.out.substr(0, r.out.find_last_not_of("\r\n") + 1);
    }
};

TEST_F(ConvertTest, EveryCompressorWritesWhatFfmpegDecodes) {
    struct Case {
        const char* code;
        const char* ffmpegName;
        double minPsnr;  // 0: lossless
        bool dv;
    };
    const Case cases[] = {
        {"MJPG", "mjpeg", 30, false},    {"FFV1", "ffv1", 0, false},
        {"HFYU", "huffyuv", 0, false},   {"FMP4", "mpeg4", 30, false},
        {"MSVC", "msvideo1", 25, false}, {"cvid", "cinepak", 25, false},
        {"dvsd", "dvvideo", 35, true},
    };
    const std::string small = source("160x120", "10", 22050);
    const std::string dv = source("720x480", "30000/1001", 22050);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        const std::string& in = c.dv ? dv : small;
        const std::string out = dir_.file(std::string("out-") + c.code + ".avi");
        const CommandResult run =
            vxavi("convert " + in + " " + out + " --video " + c.code + " --keyint 5");
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(probe(out, "v", "codec_name"), c.ffmpegName);
        // Every frame decodes silently, and looks like the source.
        const CommandResult psnr =
            run_command("ffmpeg -nostdin -i " + shell_quote(out) + " -i " + shell_quote(in) +
                        " -lavfi '[0:v][1:v]psnr' -f null - 2>&1 | grep -E 'error|Error|PSNR'");
        const std::size_t at = psnr.out.find("average:");
        ASSERT_NE(at, std::string::npos) << psnr.out;
        EXPECT_EQ(psnr.out.find("rror"), std::string::npos) << psnr.out;
        const std::string average = psnr.out.substr(at + 8, psnr.out.find(' ', at) - at - 8);
        std::printf("%s: PSNR %s dB\n", c.code, average.c_str());
        if (c.minPsnr == 0)
            EXPECT_EQ(average, "inf");
        else
            EXPECT_GE(std::atof(average.c_str()), c.minPsnr);
        // The source's audio rides along unchanged, and our decoder reads
        // the result back frame by frame.
        EXPECT_EQ(probe(out, "a", "codec_name"), "pcm_s16le");
        const CommandResult back = vxavi("decode " + out);
        EXPECT_EQ(back.exitCode, 0) << back.err;
        EXPECT_EQ(std::count(back.out.begin(), back.out.end(), '\n') - 1, c.dv ? 30 : 10);
    }
}

#ifdef VX_MSACM_LAVC_PATH
TEST_F(ConvertTest, EveryAudioCodecWritesWhatFfmpegDecodes) {
    struct Case {
        const char* tag;
        const char* ffmpegName;
    };
    const Case cases[] = {{"0x11", "adpcm_ima_wav"},
                          {"2", "adpcm_ms"},
                          {"6", "pcm_alaw"},
                          {"7", "pcm_mulaw"},
                          {"0x31", "gsm_ms"}};
    const std::string in = source("64x48", "10", 8000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tag);
        const std::string out = dir_.file(std::string("audio-") + c.tag + ".avi");
        const CommandResult run =
            vxavi("convert " + in + " " + out + " --video FFV1 --audio " + c.tag);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(probe(out, "a", "codec_name,sample_rate,channels"),
                  std::string(c.ffmpegName) + ",8000,1");
        // All of the second of sound, decoded without a complaint.
        const CommandResult decoded = run_command("ffmpeg -v error -nostdin -i " +
                                                  shell_quote(out) + " -vn -f s16le -ac 1 -");
        EXPECT_EQ(decoded.err, "");
        EXPECT_NEAR(static_cast<double>(decoded.out.size()), 16000.0, 16000 * 0.05);
    }
    // A tag no installed codec makes is refused with a reason.
    const CommandResult none =
        vxavi("convert " + in + " " + dir_.file("none.avi") + " --video FFV1 --audio 0x7777");
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("no installed audio codec"), std::string::npos) << none.err;
}
#endif

TEST_F(ConvertTest, CodecsListsTheShippedCodecs) {
    const CommandResult run = vxavi("codecs --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::string error;
    const std::optional<Json> parsed = Json::parse(run.out, &error);
    ASSERT_TRUE(parsed) << error;
    const Json& json = *parsed;
    std::string handlers;
    for (std::size_t i = 0; i < json["video"].size(); ++i)
        handlers += json["video"][i]["handler"].str() + " ";
    // DV takes only its own frame sizes, not the list's 320 x 240 probe; the
    // host's own DV entry comes last.
    EXPECT_EQ(handlers, "MJPG FMP4 FFV1 HFYU MSVC cvid dvsd ");
#ifdef VX_MSACM_LAVC_PATH
    std::string tags;
    const Json& audio = json["audio"]["codecs"];
    for (std::size_t i = 0; i < audio.size(); ++i)
        tags += std::to_string(audio[i]["tag"].u64()) + " ";
    EXPECT_EQ(tags, "17 2 6 7 49 ");  // MP3 is never offered
    EXPECT_EQ(audio[0]["driver"].str(), audio[4]["driver"].str());
    EXPECT_FALSE(audio[0]["driver"].str().empty());
    EXPECT_NE(audio[0]["driver"].str().rfind("0x", 0), 0u) << "a name, not an id";
    EXPECT_EQ(json["audio"]["singleTagPosition"].u64(), 5u);
#endif
    EXPECT_EQ(vxavi("convert a.avi b.avi").exitCode, 2) << "--video is required";
    EXPECT_EQ(vxavi("convert a.avi b.avi --video TOOLONG").exitCode, 2);
}

}  // namespace
}  // namespace vxtest

#endif
