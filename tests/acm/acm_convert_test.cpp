// Conversions through the manager and the real modules, judged by ffmpeg:
// what the encoders make is read back by ffprobe and ffmpeg, and what
// ffmpeg's encoders make decodes here to ffmpeg's own samples.
#include <cstdio>

#include "acm_fixture.h"

namespace vxtest {
namespace {

using namespace vx::platform;

std::string ffprobe_codec(const std::string& path) {
    const CommandResult r = run_command(
        "ffprobe -v error -show_entries stream=codec_name -of csv=p=0 " + shell_quote(path));
    return r.out.substr(0, r.out.find_first_of("\r\n"));
}

Bytes ffmpeg_s16(const std::string& path, const std::string& options = "") {
    const CommandResult r = run_command("ffmpeg -v error -nostdin -i " + shell_quote(path) + " " +
                                        options + " -f s16le -");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return Bytes(r.out.begin(), r.out.end());
}

struct Encode {
    uint16_t tag;
    uint32_t rate;
    uint16_t channels;
    const char* codec;  // as ffprobe names it
    double minSnr;      // dB, against the source, decoded by ffmpeg
};

class AcmEncodeTest : public AcmTest, public ::testing::WithParamInterface<Encode> {};

TEST_P(AcmEncodeTest, FfmpegReadsWhatTheEncoderMakes) {
    if (!have_ffmpeg_tools()) GTEST_SKIP() << "ffmpeg is not on PATH";
    const Encode& e = GetParam();
    const Bytes source = test_signal(e.rate, e.channels, 1.5);
    const Bytes from = pcm(e.rate, e.channels);
    Bytes to(64);
    reinterpret_cast<WAVEFORMATEX*>(to.data())->wFormatTag = e.tag;
    ASSERT_EQ(acm_format_suggest(nullptr, wfx(from), reinterpret_cast<WAVEFORMATEX*>(to.data()), 64,
                                 kAcmFormatSuggestWFormatTag),
              kMmNoError);
    to.resize(sizeof(WAVEFORMATEX) + wfx(to)->cbSize);
    AcmStream s = nullptr;
    ASSERT_EQ(acm_stream_open(&s, nullptr, wfx(from), wfx(to), kAcmStreamOpenNonRealtime),
              kMmNoError);
    // Pieces that cut blocks anywhere.
    const Conversion c = convert(s, source, 3001 * 2 * e.channels);
    ASSERT_EQ(c.result, kMmNoError);
    EXPECT_EQ(c.unused, 0u) << "the last part block is padded";
    EXPECT_EQ(c.out.size() % wfx(to)->nBlockAlign, 0u);
    // One call with the size the stream gives takes the whole source.
    uint32_t room = 0;
    ASSERT_EQ(acm_stream_size(s, uint32_t(source.size()), &room, kAcmStreamSizeSource), kMmNoError);
    EXPECT_EQ(room, c.out.size());
    EXPECT_EQ(acm_stream_close(s, 0), kMmNoError);

    const std::string path = dir_.file("out.wav");
    write_file(path, wav_file(to, c.out));
    EXPECT_EQ(ffprobe_codec(path), e.codec);
    const Bytes decoded = ffmpeg_s16(path);
    ASSERT_GE(decoded.size(), source.size());
    const double snr = snr_db(source, decoded);
    RecordProperty("snr_db", std::to_string(snr));
    std::printf("%-16s %5u Hz %u ch: SNR %.1f dB\n", e.codec, e.rate, e.channels, snr);
    EXPECT_GE(snr, e.minSnr);
}

// The bounds sit a few dB under what these signals give; G.711 keeps about
// 38 dB, ADPCM about 25, GSM (a speech coder, here on tones) much less.
INSTANTIATE_TEST_SUITE_P(Codecs, AcmEncodeTest,
                         ::testing::Values(Encode{0x11, 8000, 1, "adpcm_ima_wav", 20},
                                           Encode{0x11, 44100, 2, "adpcm_ima_wav", 20},
                                           Encode{2, 22050, 1, "adpcm_ms", 20},
                                           Encode{2, 48000, 2, "adpcm_ms", 20},
                                           Encode{6, 8000, 1, "pcm_alaw", 30},
                                           Encode{7, 16000, 2, "pcm_mulaw", 30},
                                           Encode{0x31, 8000, 1, "gsm_ms", 3}));

struct Decode {
    const char* name;
    const char* ffmpeg;  // output options making the file
    const char* file;    // its name: .wav files are read for format and data
    uint32_t rate;
    uint16_t channels;
};

class AcmDecodeTest : public AcmTest, public ::testing::WithParamInterface<Decode> {};

// MP3 comes as a bare stream: the format is built as an AVI's would be.
Bytes mp3_format(uint32_t rate, uint16_t channels) {
    return wave_format(0x55, channels, rate, 0, 1, 16000,
                       {1, 0, 2, 0, 0, 0, 0, 0, 0xA0, 0x01, 1, 0, 0, 0});
}

TEST_P(AcmDecodeTest, DecodesFfmpegsFilesToFfmpegsSamples) {
    if (!have_ffmpeg_tools()) GTEST_SKIP() << "ffmpeg is not on PATH";
    const Decode& d = GetParam();
    const std::string path = dir_.file(d.file);
    const CommandResult made =
        run_command("ffmpeg -v error -nostdin -f lavfi -i 'sine=f=440:r=" + std::to_string(d.rate) +
                    ":d=1.2,aformat=s16' -ac " + std::to_string(d.channels) + " " + d.ffmpeg +
                    " -y " + shell_quote(path));
    ASSERT_EQ(made.exitCode, 0) << made.err;
    Bytes format, data;
    if (std::string(d.file).ends_with(".wav")) {
        ASSERT_TRUE(read_wav(read_file(path), &format, &data));
    } else {
        format = mp3_format(d.rate, d.channels);
        data = read_file(path);
    }
    AcmStream s = nullptr;
    ASSERT_EQ(acm_stream_open(&s, nullptr, wfx(format), wfx(pcm(d.rate, d.channels)), 0),
              kMmNoError);
    const Conversion c = convert(s, data, 4099);  // cuts blocks and frames anywhere
    EXPECT_EQ(acm_stream_close(s, 0), kMmNoError);
    ASSERT_EQ(c.result, kMmNoError);
    const Bytes want = ffmpeg_s16(path);
    // ffmpeg drops the last part block of a file; the driver leaves it unused.
    EXPECT_LT(c.unused, std::max<std::size_t>(wfx(format)->nBlockAlign, 2));
    EXPECT_EQ(c.out.size(), want.size());
    const double snr = snr_db(want, c.out);
    std::printf("%-16s %5u Hz %u ch: %zu bytes, SNR against ffmpeg %.1f dB\n", d.name, d.rate,
                d.channels, c.out.size(), snr);
    EXPECT_TRUE(c.out == want) << "SNR " << snr << " dB";
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, AcmDecodeTest,
    ::testing::Values(
        Decode{"ima_stereo", "-c:a adpcm_ima_wav", "ima.wav", 44100, 2},
        Decode{"ima_small_blocks", "-c:a adpcm_ima_wav -block_size 256", "ima.wav", 8000, 1},
        Decode{"ms_adpcm", "-c:a adpcm_ms", "ms.wav", 22050, 1},
        Decode{"alaw", "-c:a pcm_alaw", "alaw.wav", 8000, 1},
        Decode{"mulaw", "-c:a pcm_mulaw", "mulaw.wav", 11025, 2},
        Decode{"gsm", "-c:a libgsm_ms", "gsm.wav", 8000, 1},
        Decode{"mp3_stereo", "-c:a libmp3lame -b:a 128k -write_xing 0 -id3v2_version 0", "a.mp3",
               44100, 2},
        Decode{"mp3_mono_lsf", "-c:a libmp3lame -b:a 32k -write_xing 0 -id3v2_version 0", "b.mp3",
               22050, 1}),
    [](const ::testing::TestParamInfo<Decode>& p) { return std::string(p.param.name); });

// Damaged data decodes to something of the right length, never a crash
// (the sanitizer build watches the decoders' reads).
TEST_F(AcmTest, DamagedDataDecodesWithoutHarm) {
    Bytes noise(65 * 64);
    uint32_t x = 12345;
    for (uint8_t& b : noise) b = uint8_t((x = x * 1103515245 + 12345) >> 16);
    const Bytes ima = wave_format(0x11, 1, 8000, 4, 256, 4055, {0xF9, 0x01});
    Bytes ms = wave_format(2, 1, 8000, 4, 256, 4096, Bytes(32, 0));
    const int16_t pairs[7][2] = {{256, 0}, {512, -256}, {0, 0},     {192, 64},
                                 {240, 0}, {460, -208}, {392, -232}};
    ms[18] = 0xF4, ms[19] = 0x01, ms[20] = 7;
    for (int i = 0; i < 7; ++i)
        for (int j = 0; j < 2; ++j)
            ms[22 + 4 * i + 2 * j] = uint8_t(pairs[i][j]),
                                ms[23 + 4 * i + 2 * j] = uint8_t(uint16_t(pairs[i][j]) >> 8);
    const Bytes gsm = wave_format(0x31, 1, 8000, 0, 65, 1625, {0x40, 0x01});
    struct Case {
        const char* what;
        Bytes format;
        std::size_t samples;  // expected for the noise, per channel
    } const cases[] = {{"IMA ADPCM", ima, 16 * 505},
                       {"MS ADPCM", ms, 16 * 500},
                       {"GSM 6.10", gsm, 64 * 320},
                       {"MP3", mp3_format(44100, 2), 0}};
    for (const Case& c : cases) {
        AcmStream s = nullptr;
        const Bytes to = pcm(wfx(c.format)->nSamplesPerSec, wfx(c.format)->nChannels);
        ASSERT_EQ(acm_stream_open(&s, nullptr, wfx(c.format), wfx(to), 0), kMmNoError) << c.what;
        const Conversion got = convert(s, noise, 1000);
        EXPECT_EQ(acm_stream_close(s, 0), kMmNoError);
        EXPECT_EQ(got.result, kMmNoError) << c.what;
        if (c.samples != 0) {
            EXPECT_EQ(got.out.size(), c.samples * 2) << c.what;
        }
    }
}

// The PCM converter against ffmpeg's own resampling (the same library).
TEST_F(AcmTest, PcmConverterMatchesFfmpegsResampling) {
    if (!have_ffmpeg_tools()) GTEST_SKIP() << "ffmpeg is not on PATH";
    struct Case {
        uint32_t rate;
        uint16_t channels, bits;
        uint32_t toRate;
        uint16_t toChannels, toBits;
        double minSnr;
    } const cases[] = {{44100, 2, 16, 44100, 1, 16, 200},
                       {22050, 1, 16, 22050, 1, 8, 30},
                       {44100, 2, 16, 8000, 1, 16, 40},
                       {8000, 1, 8, 48000, 2, 16, 30}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.rate) + " to " + std::to_string(k.toRate));
        Bytes source = test_signal(k.rate, k.channels, 1.0);
        const Bytes from = pcm(k.rate, k.channels, k.bits);
        if (k.bits == 8) {
            Bytes eight(source.size() / 2);
            for (std::size_t i = 0; i < eight.size(); ++i)
                eight[i] = uint8_t((sample_at(source, i) >> 8) + 128);
            source = eight;
        }
        AcmStream s = nullptr;
        ASSERT_EQ(
            acm_stream_open(&s, nullptr, wfx(from), wfx(pcm(k.toRate, k.toChannels, k.toBits)), 0),
            kMmNoError);
        const Conversion c = convert(s, source, 4000);
        EXPECT_EQ(acm_stream_close(s, 0), kMmNoError);
        ASSERT_EQ(c.result, kMmNoError);
        const std::string in = dir_.file("in.wav"), out = dir_.file("out.wav");
        write_file(in, wav_file(from, source));
        write_file(out, wav_file(pcm(k.toRate, k.toChannels, k.toBits), c.out));
        // Both as 16-bit at the target layout, ffmpeg converting the source;
        // 8-bit output is compared with ffmpeg's 16 bits, within its noise.
        const Bytes want = ffmpeg_s16(
            in, "-ar " + std::to_string(k.toRate) + " -ac " + std::to_string(k.toChannels));
        const Bytes got = ffmpeg_s16(out);
        const double snr = snr_db(want, got);
        std::printf("PCM %u/%u/%u -> %u/%u/%u: %zu vs %zu bytes, SNR %.1f dB\n", k.rate, k.channels,
                    k.bits, k.toRate, k.toChannels, k.toBits, got.size(), want.size(), snr);
        EXPECT_GE(snr, k.minSnr);
        EXPECT_NEAR(double(got.size()), double(want.size()), 0.01 * want.size());
    }
}

}  // namespace
}  // namespace vxtest
