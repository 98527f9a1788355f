// vxavi demo: writes a short AVI file from nothing, a moving test pattern
// and a tone, as a plain file and as an interleaved one, then shows what
// `info` reads from each.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "avi_output.h"
#include "commands.h"
#include "printing.h"
#include "progress.h"
#include "util/byte_io.h"

namespace vxavi {

namespace {

constexpr int32_t kWidth = 320;
constexpr int32_t kHeight = 240;
constexpr uint32_t kFps = 25;
constexpr uint32_t kFrames = 4 * kFps;
constexpr uint32_t kFrameBytes = kWidth * kHeight * 3;
constexpr uint32_t kSampleRate = 44100;
constexpr uint32_t kChannels = 2;
constexpr uint32_t kBlockAlign = kChannels * 2;
constexpr uint32_t kSamplesPerFrame = kSampleRate / kFps;
constexpr uint32_t kBiRgb = 0;
constexpr uint16_t kWavePcm = 1;
constexpr double kTwoPi = 6.283185307179586;

// Eight colour bars scrolling left, with a white square crossing the
// picture, as 24-bit BGR rows from the bottom up.
void draw_frame(uint32_t frame, std::vector<unsigned char>& pixels) {
    static const unsigned char kBars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0},
                                              {0, 255, 0},     {255, 0, 255}, {0, 0, 255},
                                              {255, 0, 0},     {0, 0, 0}};  // B, G, R
    pixels.resize(kFrameBytes);
    const int32_t shift = static_cast<int32_t>(frame) * 4;
    const int32_t box = 40;
    const int32_t boxX = static_cast<int32_t>(frame * (kWidth - box) / (kFrames - 1));
    const int32_t boxY = (kHeight - box) / 2;
    for (int32_t y = 0; y < kHeight; ++y) {
        // Bottom-up: the first row in memory is the picture's last.
        unsigned char* row = pixels.data() + static_cast<std::size_t>(kHeight - 1 - y) * kWidth * 3;
        for (int32_t x = 0; x < kWidth; ++x) {
            const int32_t bar = ((x + shift) % kWidth) * 8 / kWidth;
            const bool inBox = x >= boxX && x < boxX + box && y >= boxY && y < boxY + box;
            for (int c = 0; c < 3; ++c) row[x * 3 + c] = inBox ? 255 : kBars[bar][c];
        }
    }
}

// A 440 Hz tone, the same on both channels, one frame's worth from `first`.
void tone(uint64_t first, std::vector<unsigned char>& bytes) {
    bytes.resize(kSamplesPerFrame * kBlockAlign);
    for (uint32_t i = 0; i < kSamplesPerFrame; ++i) {
        const double t = static_cast<double>(first + i) / kSampleRate;
        const auto v = static_cast<int16_t>(std::lround(8000.0 * std::sin(kTwoPi * 440.0 * t)));
        for (uint32_t c = 0; c < kChannels; ++c)
            vx::put16(&bytes[i * kBlockAlign + c * 2], static_cast<uint16_t>(v));
    }
}

bool write_demo(const std::string& path, bool interleaved) {
    MainAVIHeader header{};
    header.dwMicroSecPerFrame = 1000000 / kFps;
    header.dwMaxBytesPerSec = kFrameBytes * kFps + kSampleRate * kBlockAlign;
    header.dwFlags = interleaved ? AVIF_ISINTERLEAVED : 0;
    header.dwTotalFrames = kFrames;
    header.dwWidth = kWidth;
    header.dwHeight = kHeight;
    std::optional<AviOutput> out = AviOutput::create(path, header);
    if (!out) return false;

    BITMAPINFOHEADER bih{};
    bih.biSize = sizeof bih;
    bih.biWidth = kWidth;
    bih.biHeight = kHeight;  // positive: bottom-up rows
    bih.biPlanes = 1;
    bih.biBitCount = 24;
    bih.biCompression = kBiRgb;
    bih.biSizeImage = kFrameBytes;
    AVIStreamHeader video{};
    video.fccType = VX_MAKEFOURCC('v', 'i', 'd', 's');
    video.dwScale = 1;
    video.dwRate = kFps;
    video.dwQuality = UINT32_MAX;
    video.rcFrame.right = kWidth;
    video.rcFrame.bottom = kHeight;
    const int32_t videoStream = out->add_stream(video, &bih, sizeof bih);
    if (videoStream < 0) return false;

    WAVEFORMATEX wfx{};
    wfx.wFormatTag = kWavePcm;
    wfx.nChannels = kChannels;
    wfx.nSamplesPerSec = kSampleRate;
    wfx.nAvgBytesPerSec = kSampleRate * kBlockAlign;
    wfx.nBlockAlign = kBlockAlign;
    wfx.wBitsPerSample = 16;
    AVIStreamHeader audio{};
    audio.fccType = VX_MAKEFOURCC('a', 'u', 'd', 's');
    audio.dwScale = kBlockAlign;
    audio.dwRate = kSampleRate * kBlockAlign;
    audio.dwSampleSize = kBlockAlign;
    audio.dwQuality = UINT32_MAX;
    const int32_t audioStream = out->add_stream(audio, &wfx, sizeof wfx);
    if (audioStream < 0) return false;

    Progress progress("demo", kFrames);
    std::vector<unsigned char> pixels, samples;
    uint64_t sample = 0;
    for (uint32_t f = 0; f < kFrames; ++f) {
        draw_frame(f, pixels);
        tone(sample, samples);
        // Raw frames are all key frames; every audio chunk starts anywhere.
        if (!out->write(videoStream, pixels.data(), kFrameBytes, chunk_type('d', 'b'),
                        AVIIF_KEYFRAME) ||
            !out->write(audioStream, samples.data(), static_cast<uint32_t>(samples.size()),
                        kTypeAudio, AVIIF_KEYFRAME))
            return false;
        if (interleaved && !out->end_record()) return false;
        sample += kSamplesPerFrame;
        progress.update(f + 1, out->bytes());
    }
    progress.finish();
    return out->close(kFrames, static_cast<uint32_t>(sample));
}

// "dir/name.avi" -> "dir/name-interleaved.avi"
std::string interleaved_name(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return hasExtension ? path.substr(0, dot) + "-interleaved" + path.substr(dot)
                        : path + "-interleaved";
}

}  // namespace

int run_demo(const Options& options) {
    const std::string plain = options.path.empty() ? "vxavi-demo.avi" : options.path;
    const std::string interleaved = interleaved_name(plain);
    SegmentSize segmentSize;
    if (options.segmentMb && !segmentSize.set(*options.segmentMb)) return kExitUsage;
    if (!write_demo(plain, false) || !write_demo(interleaved, true)) return kExitFileError;
    for (const std::string* path : {&plain, &interleaved}) {
        if (!write_stdout((path == &plain ? "== " : "\n== ") + *path + "\n")) return kExitFileError;
        Options info;
        info.path = *path;
        if (const int status = run_info(info); status != kExitOk) return status;
    }
    return kExitOk;
}

}  // namespace vxavi
