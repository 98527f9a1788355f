#include "formats/stored_records.h"

#include "util/byte_io.h"

namespace vx {

void read_main_header(const void* data, std::size_t size, MainAVIHeader* h) {
    ByteReader r(data, size);
    r.field(h->dwMicroSecPerFrame);
    r.field(h->dwMaxBytesPerSec);
    r.field(h->dwPaddingGranularity);
    r.field(h->dwFlags);
    r.field(h->dwTotalFrames);
    r.field(h->dwInitialFrames);
    r.field(h->dwStreams);
    r.field(h->dwSuggestedBufferSize);
    r.field(h->dwWidth);
    r.field(h->dwHeight);
    for (auto& v : h->dwReserved) r.field(v);
}

void read_stream_header(const void* data, std::size_t size, AVIStreamHeader* h) {
    ByteReader r(data, size);
    r.field(h->fccType);
    r.field(h->fccHandler);
    r.field(h->dwFlags);
    r.field(h->wPriority);
    r.field(h->wLanguage);
    r.field(h->dwInitialFrames);
    r.field(h->dwScale);
    r.field(h->dwRate);
    r.field(h->dwStart);
    r.field(h->dwLength);
    r.field(h->dwSuggestedBufferSize);
    r.field(h->dwQuality);
    r.field(h->dwSampleSize);
    // The record's rectangle has 32-bit members where files store 16-bit
    // ones: its words take the stored bytes in order, as callers expect.
    r.field(h->rcFrame.left);
    r.field(h->rcFrame.top);
    r.field(h->rcFrame.right);
    r.field(h->rcFrame.bottom);
}

void read_bitmap_header(const void* data, std::size_t size, BITMAPINFOHEADER* h) {
    ByteReader r(data, size);
    r.field(h->biSize);
    r.field(h->biWidth);
    r.field(h->biHeight);
    r.field(h->biPlanes);
    r.field(h->biBitCount);
    r.field(h->biCompression);
    r.field(h->biSizeImage);
    r.field(h->biXPelsPerMeter);
    r.field(h->biYPelsPerMeter);
    r.field(h->biClrUsed);
    r.field(h->biClrImportant);
}

}  // namespace vx
