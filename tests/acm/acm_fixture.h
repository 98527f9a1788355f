// Tests of the Linux audio compression manager through the platform calls,
// with the two audio driver modules installed by a profile of the test's own
// and ffmpeg as the independent judge of what they make.
#pragma once

#include <gtest/gtest.h>
#include <vxmedia/acm_driver.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "integration/test_support.h"
#include "platform/audio_codec.h"
#include "support/riff_builder.h"
#include "support/riff_walk.h"

namespace vxtest {

namespace acm = vx::platform;
using Bytes = std::vector<uint8_t>;

inline bool have_ffmpeg_tools() {
    static const bool have = have_program("ffmpeg") && have_program("ffprobe");
    return have;
}

// A WAVEFORMATEX and its extra bytes.
inline Bytes wave_format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                         uint16_t blockAlign, uint32_t bytesPerSecond, const Bytes& extra = {}) {
    Bytes f(sizeof(WAVEFORMATEX) + extra.size());
    auto* w = reinterpret_cast<WAVEFORMATEX*>(f.data());
    *w = {
        tag, channels, rate, bytesPerSecond, blockAlign, bits, static_cast<uint16_t>(extra.size())};
    std::copy(extra.begin(), extra.end(), f.begin() + sizeof(WAVEFORMATEX));
    return f;
}
inline Bytes pcm(uint32_t rate, uint16_t channels, uint16_t bits = 16) {
    const auto align = static_cast<uint16_t>(channels * bits / 8);
    return wave_format(1, channels, rate, bits, align, rate * align);
}
inline const WAVEFORMATEX* wfx(const Bytes& f) {
    return reinterpret_cast<const WAVEFORMATEX*>(f.data());
}

// Two tones and a slow sweep, different in each channel: 16-bit
// interleaved samples.
inline Bytes test_signal(uint32_t rate, uint16_t channels, double seconds) {
    const auto frames = static_cast<std::size_t>(rate * seconds);
    Bytes out(frames * channels * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        for (uint16_t c = 0; c < channels; ++c) {
            const double v = 0.3 * std::sin(2 * M_PI * (330 + 110 * c) * t) +
                             0.2 * std::sin(2 * M_PI * (700 + 300 * t) * t);
            const auto s = static_cast<int16_t>(std::lrint(v * 32767));
            out[(i * channels + c) * 2] = static_cast<uint8_t>(s);
            out[(i * channels + c) * 2 + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s) >> 8);
        }
    }
    return out;
}

inline int16_t sample_at(const Bytes& b, std::size_t i) {
    return static_cast<int16_t>(b[2 * i] | b[2 * i + 1] << 8);
}

// Signal-to-noise ratio of `got` against `want` over the samples both have,
// in dB (200 for identical samples).
inline double snr_db(const Bytes& want, const Bytes& got) {
    const std::size_t n = std::min(want.size(), got.size()) / 2;
    double signal = 0, noise = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const double w = sample_at(want, i), g = sample_at(got, i);
        signal += w * w;
        noise += (w - g) * (w - g);
    }
    return noise == 0 ? 200 : 10 * std::log10(signal / noise);
}

// A WAV file of `format` (its own size) and `data`.
inline Bytes wav_file(const Bytes& format, const Bytes& data) {
    RiffBuilder b;
    b.riff("WAVE");
    const auto* w = wfx(format);
    b.chunk("fmt ", w->wFormatTag == 1 ? Bytes(format.begin(), format.begin() + 16) : format);
    b.chunk("data", data);
    return b.finish();
}

// The format and data of a WAV file; false when it has none.
inline bool read_wav(const Bytes& file, Bytes* format, Bytes* data) {
    RiffView view(file);
    vx::RiffChunk fmt, dat;
    if (!view.find(vx::fourcc("fmt "), 0, view.size(), &fmt) ||
        !view.find(vx::fourcc("data"), 0, view.size(), &dat))
        return false;
    format->assign(file.begin() + fmt.dataPos(), file.begin() + fmt.end);
    if (format->size() < sizeof(WAVEFORMATEX)) format->resize(sizeof(WAVEFORMATEX), 0);
    data->assign(file.begin() + dat.dataPos(), file.begin() + dat.end);
    return true;
}

inline Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
inline void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// What a stream makes of `source` fed in pieces of `chunk` bytes, as a
// player feeds it: whole blocks (BLOCKALIGN) until the last piece, which
// ends the stream and is repeated until nothing more comes out. The
// destination buffer is sized by acm_stream_size.
struct Conversion {
    uint32_t result = 0;
    Bytes out;
    std::size_t unused = 0;  // source bytes never consumed
};
inline Conversion convert(acm::AcmStream stream, const Bytes& source, uint32_t chunk) {
    Conversion c;
    uint32_t room = 0;
    c.result = acm::acm_stream_size(stream, chunk, &room, acm::kAcmStreamSizeSource);
    if (c.result != 0) return c;
    Bytes in(chunk), out(room);
    acm::AcmStreamHeader h{};
    h.cbStruct = sizeof h;
    h.pbSrc = in.data();
    h.cbSrcLength = chunk;
    h.pbDst = out.data();
    h.cbDstLength = room;
    if ((c.result = acm::acm_stream_prepare_header(stream, &h, 0)) != 0) return c;
    std::size_t fed = 0, held = 0;
    for (int calls = 0; calls < 1000000; ++calls) {
        const std::size_t take = std::min<std::size_t>(chunk - held, source.size() - fed);
        std::memcpy(in.data() + held, source.data() + fed, take);
        fed += take;
        held += take;
        const bool last = fed == source.size();
        h.cbSrcLength = static_cast<uint32_t>(held);
        const uint32_t flags =
            (calls == 0 ? acm::kAcmStreamConvertStart : 0) |
            (last ? acm::kAcmStreamConvertEnd : acm::kAcmStreamConvertBlockAlign);
        if ((c.result = acm::acm_stream_convert(stream, &h, flags)) != 0) break;
        c.out.insert(c.out.end(), out.begin(), out.begin() + h.cbDstLengthUsed);
        std::memmove(in.data(), in.data() + h.cbSrcLengthUsed, held - h.cbSrcLengthUsed);
        held -= h.cbSrcLengthUsed;
        if (last && h.cbDstLengthUsed == 0 && h.cbSrcLengthUsed == 0) break;
    }
    c.unused = held;
    h.cbSrcLength = chunk;
    const uint32_t unprepared = acm::acm_stream_unprepare_header(stream, &h, 0);
    if (c.result == 0) c.result = unprepared;
    return c;
}

class AcmTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* old = std::getenv("VXMEDIA_PROFILE")) saved_ = old, hadProfile_ = true;
        std::ofstream(dir_.file("profile.ini")) << "[drivers32]\n"
                                                   "msacm.lavc=" VX_MSACM_LAVC_PATH
                                                   "\n"
                                                   "vidc.none=/nonexistent/vidc.so\n"
                                                   "msacm.missing=/nonexistent/msacm.so\n"
                                                   "msacm.pcm=" VX_MSACM_PCM_PATH "\n";
        setenv("VXMEDIA_PROFILE", dir_.file("profile.ini").c_str(), 1);
    }
    void TearDown() override {
        if (hadProfile_)
            setenv("VXMEDIA_PROFILE", saved_.c_str(), 1);
        else
            unsetenv("VXMEDIA_PROFILE");
    }

    // The enabled drivers' ids, in order.
    static std::vector<acm::AcmDriverId> driver_ids() {
        std::vector<acm::AcmDriverId> ids;
        acm::acm_driver_enum(
            [](acm::AcmDriverId id, void* context, uint32_t) {
                static_cast<std::vector<acm::AcmDriverId>*>(context)->push_back(id);
                return true;
            },
            &ids, 0);
        return ids;
    }
    static std::string short_name(acm::AcmDriverId id) {
        acm::AcmDriverDetails d{};
        d.cbStruct = sizeof d;
        return acm::acm_driver_details(id, &d, 0) == 0 ? d.szShortName : "";
    }
    // An open driver by short name.
    static acm::AcmDriver open_driver(const std::string& name) {
        for (acm::AcmDriverId id : driver_ids()) {
            acm::AcmDriver driver = nullptr;
            if (short_name(id) == name && acm::acm_driver_open(&driver, id, 0) == 0) return driver;
        }
        return nullptr;
    }

    TempDir dir_;
    std::string saved_;
    bool hadProfile_ = false;
};

}  // namespace vxtest
