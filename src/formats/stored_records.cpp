#include "formats/stored_records.h"

#include "util/byte_io.h"

namespace vx {

void read_main_header(const void* data, std::size_t size, MainAVIHeader* h) {
    ByteReader r(data, size);
    r.fields(h->dwMicroSecPerFrame, h->dwMaxBytesPerSec, h->dwPaddingGranularity, h->dwFlags,
             h->dwTotalFrames, h->dwInitialFrames, h->dwStreams, h->dwSuggestedBufferSize,
             h->dwWidth, h->dwHeight);
    for (auto& v : h->dwReserved) r.field(v);
}

void read_stream_header(const void* data, std::size_t size, AVIStreamHeader* h) {
    ByteReader r(data, size);
    r.fields(h->fccType, h->fccHandler, h->dwFlags, h->wPriority, h->wLanguage, h->dwInitialFrames,
             h->dwScale, h->dwRate, h->dwStart, h->dwLength, h->dwSuggestedBufferSize, h->dwQuality,
             h->dwSampleSize);
    // The record's rectangle has 32-bit members where files store 16-bit
    // ones: its words take the stored bytes in order, as callers expect.
    r.fields(h->rcFrame.left, h->rcFrame.top, h->rcFrame.right, h->rcFrame.bottom);
}

void read_bitmap_header(const void* data, std::size_t size, BITMAPINFOHEADER* h) {
    ByteReader r(data, size);
    r.fields(h->biSize, h->biWidth, h->biHeight, h->biPlanes, h->biBitCount, h->biCompression,
             h->biSizeImage, h->biXPelsPerMeter, h->biYPelsPerMeter, h->biClrUsed,
             h->biClrImportant);
}

}  // namespace vx
