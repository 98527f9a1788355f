// vxavi remux: copies the video and the (first) audio stream of an AVI file
// chunk by chunk into a new file made by the library's writer, in the order
// the chunks have in the source.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "avi_output.h"
#include "commands.h"
#include "progress.h"
#include "reader_errors.h"
#include "util/byte_io.h"

namespace vxavi {

namespace {

constexpr uint32_t kAuds = VX_MAKEFOURCC('a', 'u', 'd', 's');

// One chunk to copy: an entry of the video or the audio index.
struct Chunk {
    uint64_t offset;
    uint32_t entry;
    bool video;
};

// Both indexes merged by file position, each in its own order, so that an
// interleaved source stays interleaved.
std::vector<Chunk> file_order(const AviReader* r, bool haveVideo, bool haveAudio) {
    const AviStreamIndex empty{};
    const AviStreamIndex& v = haveVideo ? r->videoIndex : empty;
    const AviStreamIndex& a = haveAudio ? r->audioIndex : empty;
    std::vector<Chunk> out;
    out.reserve(static_cast<std::size_t>(v.count) + a.count);
    uint32_t i = 0, j = 0;
    while (i < v.count || j < a.count) {
        const bool takeVideo =
            j >= a.count || (i < v.count && v.entries[i].offset <= a.entries[j].offset);
        if (takeVideo) {
            out.push_back({v.entries[i].offset, i, true});
            ++i;
        } else {
            out.push_back({a.entries[j].offset, j, false});
            ++j;
        }
    }
    return out;
}

// Of the index flags only these mean the same in any file.
uint32_t copied_flags(uint32_t flags) { return flags & (AVIIF_KEYFRAME | AVIIF_NO_TIME); }

// The type of the video chunks: the last two characters of the source's id.
uint32_t video_type(const AviStreamIndex& index) {
    const uint32_t type = index.chunkId >> 16;
    const auto printable = [](uint32_t c) { return c >= 0x20 && c < 0x7f; };
    return printable(type & 0xff) && printable(type >> 8) ? type : kTypeCompressed;
}

// What the writer takes as the number of frames to come sizes its segment
// limit. Each segment holds at least half a MiB of chunks (segments are 1
// MiB or more), which bounds the segments a mostly-audio file needs.
uint32_t expected_frames(const AviReader* r, bool haveVideo, bool haveAudio) {
    uint64_t bytes = 0;
    if (haveVideo)
        for (uint32_t i = 0; i < r->videoIndex.count; ++i) bytes += r->videoIndex.entries[i].size;
    if (haveAudio)
        for (uint32_t i = 0; i < r->audioIndex.count; ++i) bytes += r->audioIndex.entries[i].size;
    const uint64_t bySize = 2 * (bytes >> 20) + 4;
    const uint64_t frames = std::max<uint64_t>(haveVideo ? r->videoIndex.count : 0, bySize);
    return static_cast<uint32_t>(std::min<uint64_t>(frames, UINT32_MAX));
}

}  // namespace

int run_remux(const Options& options) {
    if (writes_over_input(options, "cannot remux " + options.path + " into itself"))
        return kExitUsage;
    const std::unique_ptr<AviFile> avi = AviFile::open(options.path);
    if (!avi) return kExitFileError;
    AviReader* r = avi->reader();
    const bool haveVideo = r->videoStream >= 0;
    const AviStreamRecord* audioRecord =
        r->audioStream >= 0 ? aviGetAVIStream(r, static_cast<uint32_t>(r->audioStream)) : nullptr;
    const bool haveAudio = audioRecord != nullptr && audioRecord->header.fccType == kAuds &&
                           audioRecord->format != nullptr &&
                           audioRecord->formatSize >= sizeof(WAVEFORMATEX) - 2;
    if (!haveVideo && !haveAudio) {
        print_error(options.path + " has no video stream and no audio stream to copy");
        return kExitFileError;
    }
    uint32_t blockAlign = 0;
    if (haveAudio) {
        // WAVEFORMATEX.nBlockAlign
        blockAlign = vx::ByteReader(audioRecord->format, audioRecord->formatSize).u16(12);
        if (blockAlign == 0) {
            print_error("the audio format of " + options.path + " has a block size of 0");
            return kExitFileError;
        }
    }

    SegmentSize segmentSize;
    if (options.segmentMb && !segmentSize.set(*options.segmentMb)) return kExitUsage;

    const MainAVIHeader& source = r->mainHeader;
    MainAVIHeader header{};
    header.dwMicroSecPerFrame = source.dwMicroSecPerFrame;
    header.dwMaxBytesPerSec = source.dwMaxBytesPerSec;
    header.dwPaddingGranularity = source.dwPaddingGranularity;
    header.dwFlags = source.dwFlags & ~(AVIF_HASINDEX | AVIF_MUSTUSEINDEX | AVIF_ISINTERLEAVED);
    if (options.interleave) header.dwFlags |= AVIF_ISINTERLEAVED;
    header.dwInitialFrames = source.dwInitialFrames;
    header.dwTotalFrames = expected_frames(r, haveVideo, haveAudio);
    header.dwWidth = source.dwWidth;
    header.dwHeight = source.dwHeight;
    std::optional<AviOutput> out = AviOutput::create(options.output, header);
    if (!out) return kExitFileError;

    // The streams keep their order in the source; the writer recomputes
    // lengths and buffer sizes from what is written.
    int32_t videoOut = -1, audioOut = -1;
    for (uint32_t n = 0; n < r->mainHeader.dwStreams; ++n) {
        const bool video = haveVideo && static_cast<int32_t>(n) == r->videoStream;
        const bool audio = haveAudio && static_cast<int32_t>(n) == r->audioStream;
        if (!video && !audio) continue;
        const AviStreamRecord* s = aviGetAVIStream(r, n);
        AVIStreamHeader h = s->header;
        h.dwSuggestedBufferSize = 0;
        const int32_t number = out->add_stream(h, s->format, s->format ? s->formatSize : 0);
        if (number < 0) return kExitFileError;
        (video ? videoOut : audioOut) = number;
    }

    const std::vector<Chunk> chunks = file_order(r, haveVideo, haveAudio);
    const int64_t videoStart =
        haveVideo ? aviGetAVIStream(r, static_cast<uint32_t>(r->videoStream))->header.dwStart : 0;
    const uint32_t videoChunkType = video_type(r->videoIndex);
    Progress progress("remux", haveVideo ? r->videoIndex.count : 0);
    std::vector<unsigned char> buffer;
    uint32_t videoFrames = 0;
    uint64_t audioBytes = 0;
    for (const Chunk& c : chunks) {
        const AviIndexEntry& e =
            c.video ? r->videoIndex.entries[c.entry] : r->audioIndex.entries[c.entry];
        if (e.size > avi->file().size()) {
            print_error("cannot copy " + options.path + ": an index entry of " +
                        std::to_string(e.size) + " bytes is larger than the file");
            return kExitFileError;
        }
        buffer.resize(std::max<uint32_t>(e.size, 1));
        uint32_t size = e.size;
        if (c.video) {
            // aviReadFrame counts frames from the stream's start.
            uint32_t flags = 0;
            size = static_cast<uint32_t>(buffer.size());
            begin_reader_call();
            const VXRESULT result =
                aviReadFrame(r, static_cast<int32_t>(static_cast<int64_t>(c.entry) - videoStart),
                             buffer.data(), &size, &flags);
            if (result != 0) {
                print_error(describe_failure(
                    result, options.path, "cannot read frame " + std::to_string(c.entry) + " of"));
                return kExitFileError;
            }
            // An interleave record: a video chunk and the audio up to the next.
            if (options.interleave && !out->end_record()) return kExitFileError;
            if (!out->write(videoOut, buffer.data(), size, videoChunkType, copied_flags(e.flags)))
                return kExitFileError;
            ++videoFrames;
        } else {
            // Straight from the indexed place: reading audio by sample
            // numbers stops at the header's length, which a writer that
            // could not seek back left at 0.
            if (!avi->file().read(e.offset, buffer.data(), e.size)) {
                print_error("cannot read audio chunk " + std::to_string(c.entry) + " of " +
                            options.path + " (outside the file)");
                return kExitFileError;
            }
            if (!out->write(audioOut, buffer.data(), size, kTypeAudio, copied_flags(e.flags)))
                return kExitFileError;
            audioBytes += size;
        }
        progress.update(videoFrames, out->bytes());
    }
    progress.finish();
    if (options.interleave && !out->end_record()) return kExitFileError;
    const uint64_t audioLength = blockAlign ? audioBytes / blockAlign : 0;
    if (!out->close(videoFrames,
                    static_cast<uint32_t>(std::min<uint64_t>(audioLength, UINT32_MAX))))
        return kExitFileError;
    return kExitOk;
}

}  // namespace vxavi
