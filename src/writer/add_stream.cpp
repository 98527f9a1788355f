// avifileAddStream: the stream records and the header fields derived from
// their formats.
#include <cstdlib>
#include <cstring>

#include "util/host.h"
#include "writer/writer_internal.h"

using namespace vx;
using namespace vx::writer;

namespace {

// Fields of the format blocks, read by offset: a format may be shorter than
// the record it starts with.
uint32_t format_u32(const AviWriterStream& s, uint32_t offset) {
    uint32_t v = 0;
    if (s.format != nullptr && s.formatSize >= offset + 4)
        std::memcpy(&v, static_cast<const uint8_t*>(s.format) + offset, 4);
    return v;
}
uint16_t format_u16(const AviWriterStream& s, uint32_t offset) {
    uint16_t v = 0;
    if (s.format != nullptr && s.formatSize >= offset + 2)
        std::memcpy(&v, static_cast<const uint8_t*>(s.format) + offset, 2);
    return v;
}

constexpr uint32_t kAvgBytesPerSec = offsetof(WAVEFORMATEX, nAvgBytesPerSec);
constexpr uint32_t kBlockAlign = offsetof(WAVEFORMATEX, nBlockAlign);
constexpr uint32_t kBiWidth = offsetof(BITMAPINFOHEADER, biWidth);
constexpr uint32_t kBiHeight = offsetof(BITMAPINFOHEADER, biHeight);

void derive_fields(AviWriter* w, AviWriterStream& s) {
    AVIStreamHeader& h = s.header;
    h.dwLength = 0;
    if (h.fccType == fourcc("auds")) {
        const uint16_t align = format_u16(s, kBlockAlign);
        h.dwSampleSize = align;
        h.dwScale = align;
        h.dwRate = format_u32(s, kAvgBytesPerSec);
        return;
    }
    h.dwSampleSize = 0;
    if (h.dwRate == 0 || h.dwScale == 0) {
        h.dwRate = 15;
        h.dwScale = 1;
    }
    if (h.fccType == fourcc("vids")) {
        const uint32_t width = format_u32(s, kBiWidth);
        // A top-down bitmap has a negative height; its size is the same.
        const auto height = static_cast<int32_t>(format_u32(s, kBiHeight));
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
    if (copy == nullptr) return record(AVIERR_MEMORY, kSrcAviEasy, kLineAddStream);
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
