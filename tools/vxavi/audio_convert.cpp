#include "audio_convert.h"

#include <vxmedia/vxcodecmgr.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "printing.h"
#include "util/byte_io.h"

namespace vxavi {

namespace {

constexpr uint16_t kPcm = 1;
constexpr uint32_t kFormatRoom = 1024;  // for any format a codec suggests

// A format as its bytes: the 18-byte record and its cbSize extra bytes.
std::vector<uint8_t> format_bytes(const WAVEFORMATEX& f, std::size_t room) {
    const std::size_t size = std::min<std::size_t>(18 + std::size_t{f.cbSize}, room);
    const auto* p = reinterpret_cast<const uint8_t*>(&f);
    return std::vector<uint8_t>(p, p + size);
}

std::string describe(const WAVEFORMATEX& f) {
    return "format tag " + hex32(f.wFormatTag).substr(6) + ", " + std::to_string(f.nSamplesPerSec) +
           " Hz, " + std::to_string(f.nChannels) + " channel(s), " +
           std::to_string(f.wBitsPerSample) + " bits";
}

// One conversion through an installed codec, fed whatever arrives and
// keeping what does not make a whole block.
class Stage {
public:
    ~Stage() {
        if (stream_ != nullptr) VxAcmStreamClose(stream_);
    }
    bool open(const WAVEFORMATEX* from, const WAVEFORMATEX* to) {
        return VxAcmStreamOpen(&stream_, nullptr, from, to) == 0;
    }
    // Appends to `out` what `in` converts to; with `end`, everything held.
    bool run(const uint8_t* in, std::size_t size, bool end, std::vector<uint8_t>* out) {
        pending_.insert(pending_.end(), in, in + size);
        std::size_t at = 0;
        // Bounded: a codec that keeps giving without taking ends the loop too.
        for (int round = 0; round < 100000; ++round) {
            const std::size_t remaining = pending_.size() - at;
            if (remaining == 0 && !end) break;
            const auto left = static_cast<uint32_t>(std::min<std::size_t>(remaining, 1u << 20));
            const bool last = end && left == remaining;
            uint32_t room = 0;
            if (left == 0 || VxAcmStreamSize(stream_, left, &room, 0) != 0 || room == 0)
                room = 16 * left + 65536;
            room = std::min<uint32_t>(room, 64u << 20);
            buffer_.resize(room);
            uint32_t flags = last ? VX_ACM_CONVERT_END : VX_ACM_CONVERT_BLOCKALIGN;
            if (!started_) flags |= VX_ACM_CONVERT_START;
            uint32_t used = 0, made = 0;
            const uint32_t rc = VxAcmStreamConvert(stream_, pending_.data() + at, left, &used,
                                                   buffer_.data(), room, &made, flags);
            if (rc != 0) {
                if (last && left == 0) break;  // nothing was held back
                print_error("the audio codec failed (" + std::to_string(rc) + ")");
                return false;
            }
            started_ = true;
            out->insert(out->end(), buffer_.begin(), buffer_.begin() + made);
            at += used;
            if (used == 0 && (made == 0 || !last)) break;
        }
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
        return true;
    }

private:
    VxAcmStream stream_ = nullptr;
    bool started_ = false;
    std::vector<uint8_t> pending_, buffer_;
};

}  // namespace

// The source decoded to PCM when it is not, then encoded to the target.
class AudioConverter {
public:
    Stage decode, encode;
    bool decoding = false;

    bool run(const uint8_t* in, std::size_t size, bool end, std::vector<uint8_t>* out) {
        if (!decoding) return encode.run(in, size, end, out);
        pcm_.clear();
        return decode.run(in, size, end, &pcm_) && encode.run(pcm_.data(), pcm_.size(), end, out);
    }

private:
    std::vector<uint8_t> pcm_;
};

namespace {

// The conversion to `tag` of the source format `source`; false after
// printing why there is none.
bool plan_conversion(const std::vector<uint8_t>& source, uint16_t tag, AudioPlan* plan) {
    std::vector<uint8_t> from(std::max<std::size_t>(source.size(), sizeof(WAVEFORMATEX)));
    std::memcpy(from.data(), source.data(), source.size());
    auto* in = reinterpret_cast<WAVEFORMATEX*>(from.data());
    // Extra bytes beyond the stored format are not the codec's to read.
    in->cbSize = static_cast<uint16_t>(
        std::min<std::size_t>(in->cbSize, source.size() > 18 ? source.size() - 18 : 0));
    auto converter = std::make_shared<AudioConverter>();
    WAVEFORMATEX pcm{};
    if (in->wFormatTag == kPcm) {
        pcm = *in;
        pcm.cbSize = 0;
    } else {
        pcm.wFormatTag = kPcm;
        if (VxAcmFormatSuggest(nullptr, in, &pcm, sizeof pcm, VX_ACM_SUGGEST_TAG) != 0 ||
            !converter->decode.open(in, &pcm)) {
            print_error("no installed audio codec decodes the source's " + describe(*in));
            return false;
        }
        converter->decoding = true;
    }
    std::vector<uint8_t> target(kFormatRoom);
    auto* out = reinterpret_cast<WAVEFORMATEX*>(target.data());
    out->wFormatTag = tag;
    if (VxAcmFormatSuggest(nullptr, &pcm, out, kFormatRoom, VX_ACM_SUGGEST_TAG) != 0 ||
        out->wFormatTag != tag || out->nBlockAlign == 0 || !converter->encode.open(&pcm, out)) {
        print_error("no installed audio codec converts PCM (" + describe(pcm) + ") to format tag " +
                    hex32(tag).substr(6));
        return false;
    }
    plan->format = format_bytes(*out, kFormatRoom);
    plan->blockAlign = out->nBlockAlign;
    plan->header = {};
    plan->header.fccType = VX_MAKEFOURCC('a', 'u', 'd', 's');
    plan->header.dwScale = out->nBlockAlign;
    plan->header.dwRate = out->nAvgBytesPerSec;
    plan->header.dwSampleSize = out->nBlockAlign;
    plan->header.dwQuality = 0xFFFFFFFFu;
    plan->converter = std::move(converter);
    return true;
}

constexpr uint32_t kAuds = VX_MAKEFOURCC('a', 'u', 'd', 's');

bool write_converted(const AudioPlan& plan, AviOutput& out, int32_t stream,
                     const std::vector<uint8_t>& bytes, uint64_t* length) {
    if (bytes.empty()) return true;
    if (!out.write(stream, bytes.data(), static_cast<uint32_t>(bytes.size()), kTypeAudio,
                   AVIIF_KEYFRAME))
        return false;
    *length += bytes.size() / plan.blockAlign;
    return true;
}

// Writes source chunks while `more(bytesReadSoFar)` says so.
template <typename More>
bool copy_chunks(const AviFile& avi, AudioPlan& plan, AviOutput& out, int32_t stream,
                 uint64_t* length, More more) {
    const AviStreamIndex& index = avi.reader()->audioIndex;
    std::vector<uint8_t> buffer;
    while (plan.nextChunk < index.count && more(plan.sourceBytes)) {
        const AviIndexEntry& e = index.entries[plan.nextChunk];
        if (e.size > avi.file().size()) {
            print_error("an audio index entry of " + std::to_string(e.size) +
                        " bytes is larger than the file");
            return false;
        }
        buffer.resize(e.size);
        if (e.size != 0 && !avi.file().read(e.offset, buffer.data(), e.size)) {
            print_error("cannot read audio chunk " + std::to_string(plan.nextChunk) +
                        " (outside the file)");
            return false;
        }
        ++plan.nextChunk;
        plan.sourceBytes += e.size;
        if (e.size == 0) continue;
        if (plan.converter) {
            std::vector<uint8_t> converted;
            if (!plan.converter->run(buffer.data(), e.size, false, &converted) ||
                !write_converted(plan, out, stream, converted, length))
                return false;
            continue;
        }
        if (!out.write(stream, buffer.data(), e.size, kTypeAudio, AVIIF_KEYFRAME)) return false;
        *length += e.size / plan.blockAlign;
    }
    return true;
}

}  // namespace

bool plan_audio(const AviFile& avi, const Options& options, AudioPlan* plan) {
    AviReader* r = avi.reader();
    const AviStreamRecord* s =
        r->audioStream >= 0 ? aviGetAVIStream(r, static_cast<uint32_t>(r->audioStream)) : nullptr;
    if (s == nullptr || s->header.fccType != kAuds || s->format == nullptr ||
        s->formatSize < sizeof(WAVEFORMATEX) - 2) {
        if (options.audioTag) {
            print_error(options.path + " has no audio stream to convert");
            return false;
        }
        return true;
    }
    const vx::ByteReader format(s->format, s->formatSize);
    plan->present = true;
    plan->sourceBytesPerSecond = format.u32(8);
    plan->blockAlign = format.u16(12) != 0 ? format.u16(12) : 1;
    const AVIStreamHeader& video =
        aviGetAVIStream(r, static_cast<uint32_t>(r->videoStream))->header;
    plan->frameSeconds = video.dwRate != 0 ? static_cast<double>(video.dwScale) / video.dwRate : 0;
    const auto* bytes = static_cast<const uint8_t*>(s->format);
    if (options.audioTag && format.u16(0) != *options.audioTag)
        return plan_conversion(std::vector<uint8_t>(bytes, bytes + s->formatSize),
                               *options.audioTag, plan);
    plan->header = s->header;
    plan->header.dwSuggestedBufferSize = 0;
    plan->header.dwLength = 0;
    plan->format.assign(bytes, bytes + s->formatSize);
    return true;
}

bool write_audio_until(const AviFile& avi, AudioPlan& plan, AviOutput& out, int32_t stream,
                       uint64_t frames, uint64_t* length) {
    const double until = plan.frameSeconds * static_cast<double>(frames);
    return copy_chunks(avi, plan, out, stream, length, [&](uint64_t bytes) {
        return plan.sourceBytesPerSecond == 0 ||
               static_cast<double>(bytes) / plan.sourceBytesPerSecond < until;
    });
}

bool finish_audio(const AviFile& avi, AudioPlan& plan, AviOutput& out, int32_t stream,
                  uint64_t* length) {
    if (!copy_chunks(avi, plan, out, stream, length, [](uint64_t) { return true; })) return false;
    if (!plan.converter) return true;
    std::vector<uint8_t> held;
    return plan.converter->run(nullptr, 0, true, &held) &&
           write_converted(plan, out, stream, held, length);
}

}  // namespace vxavi
