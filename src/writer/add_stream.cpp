// avifileAddStream: the stream records and the header fields derived from
// their formats.
#include <cstdlib>
#include <cstring>

#include "util/byte_io.h"
#include "util/host.h"
#include "writer/writer_internal.h"

using namespace vx;
using namespace vx::writer;

namespace {

// The format block, whose fields are read by offset: a format may be shorter
// than the record it starts with.
ByteReader format_of(const AviWriterStream& s) { return ByteReader(s.format, s.formatSize); }

constexpr uint32_t kSamplesPerSec = offsetof(WAVEFORMATEX, nSamplesPerSec);
constexpr uint32_t kAvgBytesPerSec = offsetof(WAVEFORMATEX, nAvgBytesPerSec);
constexpr uint32_t kBlockAlign = offsetof(WAVEFORMATEX, nBlockAlign);
constexpr uint32_t kBiWidth = offsetof(BITMAPINFOHEADER, biWidth);
constexpr uint32_t kBiHeight = offsetof(BITMAPINFOHEADER, biHeight);

// PCM, float, A-law and mu-law samples are fixed blocks whatever the
// caller's header says; so is an extensible format of those subtypes.
bool sample_based_format(const AviWriterStream& s) {
    constexpr uint16_t kExtensible = 0xFFFE;
    constexpr uint32_t kSubFormat = 24;  // the subtype GUID's first word
    const ByteReader f = format_of(s);
    uint16_t tag = f.u16(0);
    if (tag == kExtensible && f.has(kSubFormat, 16)) tag = f.u16(kSubFormat);
    return tag == 1 || tag == 3 || tag == 6 || tag == 7;
}

void derive_fields(AviWriter* w, AviWriterStream& s) {
    AVIStreamHeader& h = s.header;
    const ByteReader f = format_of(s);
    h.dwLength = 0;
    if (h.fccType == fourcc("auds")) {
        // Variable-rate audio (MP3 and the like): one compressed frame per
        // chunk, a sample is a chunk, and the caller's rate and scale say
        // how long one lasts. The block-based fields would give a rate of 0
        // for such formats and a length counted in blocks the chunks are not.
        if (h.dwSampleSize == 0 && h.dwRate != 0 && h.dwScale != 0 && !sample_based_format(s))
            return;
        const uint32_t callerRate = h.dwRate, callerScale = h.dwScale;
        const uint16_t align = f.u16(kBlockAlign);
        h.dwSampleSize = align;
        h.dwScale = align;
        h.dwRate = f.u32(kAvgBytesPerSec);
        // A rate of 0 is no rate: readers reject the stream. A block of
        // PCM-like data is one sample frame, so the format's sample rate
        // counts blocks; for other formats the caller's rate is the better
        // guess.
        if (h.dwRate == 0 || h.dwScale == 0) {
            const uint32_t perSecond = f.u32(kSamplesPerSec);
            if (!sample_based_format(s) && callerRate != 0 && callerScale != 0) {
                h.dwRate = callerRate;
                h.dwScale = callerScale;
            } else {
                h.dwRate = perSecond != 0 ? perSecond : 1;
                h.dwScale = 1;
            }
        }
        return;
    }
    h.dwSampleSize = 0;
    if (h.dwRate == 0 || h.dwScale == 0) {
        h.dwRate = 15;
        h.dwScale = 1;
    }
    if (h.fccType == fourcc("vids")) {
        const uint32_t width = f.u32(kBiWidth);
        // A top-down bitmap has a negative height; its size is the same.
        const auto height = static_cast<int32_t>(f.u32(kBiHeight));
        const uint32_t rows =
            height < 0 ? 0u - static_cast<uint32_t>(height) : static_cast<uint32_t>(height);
        if (width > w->mainHeader.dwWidth) w->mainHeader.dwWidth = width;
        if (rows > w->mainHeader.dwHeight) w->mainHeader.dwHeight = rows;
    }
}

}  // namespace

VXAPI VXRESULT VXCALL avifileAddStream(AviWriter* writer, int32_t* outStream,
                                       const AVIStreamHeader* header, const void* format,
                                       uint32_t formatSize) {
    if (writer == nullptr || header == nullptr || (format == nullptr && formatSize != 0))
        return AVIERR_BADPARAM;
    const uint32_t n = writer->mainHeader.dwStreams;
    // The header space is sized at the first chunk: a later stream would not
    // fit into it.
    if (n >= VX_WRITER_MAX_STREAMS || writer->headerReserve != 0) return AVIERR_BADPARAM;
    if (outStream != nullptr) *outStream = static_cast<int32_t>(n);

    void* copy = std::malloc(formatSize == 0 ? 1 : formatSize);
    if (copy == nullptr) return record(AVIERR_MEMORY, site::easy::kAddStream);
    if (formatSize != 0) std::memcpy(copy, format, formatSize);

    AviWriterStream& s = writer->streams[n];
    s.formatSize = formatSize;
    s.format = copy;
    s.header = *header;
    derive_fields(writer, s);
    writer->mainHeader.dwStreams = n + 1;
    writer->streamsEnd = writer->streams + n + 1;
    return 0;
}
