// Decoded frames of a reader's video stream: aviGetFrameInit, aviGetFrame,
// aviGetFrameTerm. A handle goes back to the nearest key frame and decodes
// forward, and keeps the last picture of a delta-coded stream so that
// sequential access decodes every frame once.
#include <VexaInfo.h>
#include <vxmedia/aviframes.h>

#include <cstring>

#include "codecs/decompressor.h"
#include "formats/stored_records.h"
#include "platform/global_memory.h"
#include "reader/sample_read.h"
#include "util/byte_io.h"
#include "util/host.h"

struct AviFrameDecoder {
    int32_t lastDecoded;  // absolute frame held in the output buffer, or -1
    AviReader* reader;
    union {
        BITMAPINFOHEADER header;
        uint8_t bytes[sizeof(BITMAPINFOHEADER) + 256 * 4];
    } output;
    void* outputBuffer;  // the current picture of a delta-coded stream
    uint32_t readCapacity;
    void* readBuffer;
    int32_t decodeWidth;
    int32_t decodeHeight;
    void* bridge;
    uint8_t bridgeBusy;
    vx::codecs::VfwDecompressor* decompressor;
    // The picture last made is in the output buffer rather than the read
    // buffer (an expanded run-length frame).
    uint8_t pictureInOutput;
    uint8_t complete;  // set up in full
};

namespace {

using vx::record;
using vx::codecs::image_size;
using vx::codecs::table_entries;
using vx::codecs::VfwDecompressor;
namespace site = vx::site;

constexpr FOURCC kVids = vx::fourcc("vids");
constexpr FOURCC kDib = vx::fourcc("DIB ");
constexpr FOURCC kRle = vx::fourcc("RLE ");
constexpr FOURCC kRle0 = vx::fourcc("RLE0");
constexpr uint32_t kHeader = sizeof(BITMAPINFOHEADER);
// Pictures are sized from the file's header; past this they are refused as
// memory that cannot be had, rather than tried.
constexpr uint32_t kMaxPicture = 256u << 20;

void release(AviFrameDecoder* d) {
    delete d->decompressor;
    vx::platform::global_free(d->outputBuffer);
    vx::platform::global_free(d->readBuffer);
    vx::platform::global_free(d);
}

const AviStreamRecord* video_stream(const AviReader* r) {
    if (r->streams == nullptr || r->videoStream < 0 ||
        static_cast<uint32_t>(r->videoStream) >= r->mainHeader.dwStreams)
        return nullptr;
    return &r->streams[r->videoStream];
}

uint32_t colours_of(const BITMAPINFOHEADER& f) {
    if (f.biClrUsed != 0) return f.biClrUsed > 256 ? 256 : f.biClrUsed;
    switch (f.biBitCount) {
        case 1:
            return 2;
        case 4:
            return 16;
        case 8:
            return 256;
        default:
            return 0;
    }
}

// Fails set-up: the handle goes unless the recorder says to keep it.
VXRESULT fail_init(AviFrameDecoder* d, AviFrameDecoder** out, VXRESULT code,
                   const vx::ErrorSite& where) {
    const VXRESULT rc = record(code, where);
    if (rc != 0) {
        release(d);
        *out = nullptr;
        return rc;
    }
    *out = d;
    return 0;
}

// Refuses pictures above kMaxPicture; a stream with delta frames keeps its
// picture between calls, in a block of its own.
bool keep_picture(AviFrameDecoder* d, const AviReader* r, uint32_t size) {
    if (size > kMaxPicture) return false;
    if ((r->indexFlags & AVI_INDEXFLAG_NOTKEY) == 0) return true;
    d->outputBuffer = vx::platform::global_alloc_locked(size);
    return d->outputBuffer != nullptr;
}

VXRESULT set_up(AviFrameDecoder* d, AviFrameDecoder** out) {
    const AviReader* r = d->reader;
    const AviStreamRecord* s = video_stream(r);
    // A stored format shorter than its header is no video format at all.
    if (s == nullptr || s->header.fccType != kVids || s->format == nullptr ||
        s->formatSize < kHeader)
        return fail_init(d, out, AVIERR_BADPARAM, site::codec::kNoVideo);
    const auto* stored =
        static_cast<const BITMAPINFOHEADER*>(s->format);  // handed to the codec as stored
    BITMAPINFOHEADER& o = d->output.header;
    vx::read_bitmap_header(s->format, kHeader, &o);

    d->decompressor = VfwDecompressor::create(stored, s->formatSize);
    if (d->decompressor != nullptr) {
        if (!d->decompressor->get_output_format(&o))
            return fail_init(d, out, AVIERR_COMPRESSOR, site::codec::kOutputFormat);
        const uint32_t size = image_size(o.biWidth, o.biHeight, o.biBitCount);
        if (size == 0) return fail_init(d, out, AVIERR_COMPRESSOR, site::codec::kOutputFormat);
        o.biSizeImage =
            size < r->mainHeader.dwSuggestedBufferSize ? r->mainHeader.dwSuggestedBufferSize : size;
        if (o.biClrUsed > 256) o.biClrUsed = 256;
        if (!keep_picture(d, r, o.biSizeImage))
            return fail_init(d, out, AVIERR_MEMORY, site::codec::kPictureMemory);
        d->decodeWidth = -1;
        d->decodeHeight = -1;
    } else {
        const FOURCC handler = s->header.fccHandler;
        if (handler != 0 && handler != kDib && handler != kRle && handler != kRle0)
            return fail_init(d, out, AVIERR_COMPRESSOR, site::codec::kNoCodec);
        if (o.biCompression != 0)
            return fail_init(d, out, AVIERR_COMPRESSOR, site::codec::kCompressed);
        o.biCompression = 0;
        o.biSizeImage = image_size(o.biWidth, o.biHeight, o.biBitCount);
        if (o.biSizeImage == 0) return fail_init(d, out, AVIERR_BADPARAM, site::codec::kNoVideo);
        if (!keep_picture(d, r, o.biSizeImage))
            return fail_init(d, out, AVIERR_MEMORY, site::codec::kImageMemory);
        if (o.biClrUsed > 256) o.biClrUsed = 256;
        const uint32_t colours = table_entries(o);
        if (colours != 0 && o.biSize < s->formatSize) {
            // The colour table as far as the stored format holds it; a count
            // of 0 means all that the depth addresses, and they are handed out.
            const uint32_t have = s->formatSize - o.biSize;
            const uint32_t want = colours * 4;
            std::memcpy(d->output.bytes + kHeader,
                        static_cast<const uint8_t*>(s->format) + o.biSize,
                        want < have ? want : have);
        }
    }
    d->complete = 1;
    *out = d;
    return 0;
}

// Makes room for `bytes` in the read buffer; 0 or the recorded error.
VXRESULT reserve_read(AviFrameDecoder* d, int64_t position, uint32_t bytes) {
    if (d->readBuffer != nullptr && d->readCapacity >= bytes) return 0;
    const vx::ErrorSite& where =
        d->readBuffer == nullptr ? site::codec::kReadMemory : site::codec::kReadGrow;
    // The index entry's bytes must be in the file before they size a buffer.
    if (!vx::reader::frame_in_file(d->reader, position))
        return record(AVIERR_FILEREAD, site::vfw::kFrameRead);
    vx::platform::global_free(d->readBuffer);
    d->readBuffer = vx::platform::global_alloc_locked(bytes);
    d->readCapacity = d->readBuffer != nullptr ? bytes : 0;
    return d->readBuffer != nullptr ? 0 : record(AVIERR_MEMORY, where);
}

// Draws frame bytes that are not a whole stored image: run-length coded
// 8- and 4-bit frames are expanded; other depths are taken as far as they go.
void draw_partial(AviFrameDecoder* d, uint32_t bytes, void* destination) {
    const BITMAPINFOHEADER& o = d->output.header;
    if (o.biBitCount == 8 || o.biBitCount == 4) {
        // The expansion reads as many bytes as the header says, and learns
        // the coding from it.
        BITMAPINFOHEADER h = o;
        h.biCompression = o.biBitCount == 8 ? 1 : 2;
        h.biSizeImage = bytes;
        PlayRle(&h, destination, d->readBuffer);
        return;
    }
    std::memcpy(destination, d->readBuffer, bytes < o.biSizeImage ? bytes : o.biSizeImage);
}

}  // namespace

VXAPI VXRESULT VXCALL aviGetFrameInit(AviReader* reader, AviFrameDecoder** outDecoder) {
    if (outDecoder == nullptr) return AVIERR_BADPARAM;
    auto* d =
        static_cast<AviFrameDecoder*>(vx::platform::global_alloc_locked(sizeof(AviFrameDecoder)));
    if (d == nullptr) {
        *outDecoder = nullptr;
        return AVIERR_MEMORY;
    }
    d->lastDecoded = -1;
    d->reader = reader;
    if (reader == nullptr) return fail_init(d, outDecoder, AVIERR_BADPARAM, site::codec::kNoVideo);
    return set_up(d, outDecoder);
}

VXAPI VXRESULT VXCALL aviGetFrame(AviFrameDecoder* d, int32_t frame, BITMAPINFOHEADER* format,
                                  void** pixels, int16_t* owned) {
    if (d == nullptr || pixels == nullptr || owned == nullptr) return AVIERR_BADPARAM;
    AviReader* r = d->reader;
    const AviStreamRecord* s = r != nullptr ? video_stream(r) : nullptr;
    if (!d->complete || s == nullptr) return record(AVIERR_BADPARAM, site::codec::kNoVideo);
    const AVIStreamHeader& h = s->header;
    const BITMAPINFOHEADER& o = d->output.header;

    // Clamped to the stream: past its end the last frame, before it the first.
    int64_t f = static_cast<int64_t>(frame) + h.dwStart;
    const int64_t end = static_cast<int64_t>(h.dwStart) + h.dwLength;
    if (f >= end) f = end - 1;
    // The header's length comes from the file: frames past the index do not
    // exist, and decoding up to them would read the last one over and over.
    const int64_t lastIndexed = static_cast<int64_t>(r->videoIndex.count) - 1;
    if (f > lastIndexed) f = lastIndexed;
    if (f < h.dwStart) f = h.dwStart;
    uint32_t key = static_cast<uint32_t>(f);
    if (const VXRESULT rc = aviFindKeyFrame(r, &key)) return rc;
    if (f < h.dwInitialFrames) f = h.dwInitialFrames;
    if (f > lastIndexed) f = lastIndexed;
    const int64_t k = key;
    if (f != k && (r->indexFlags & AVI_INDEXFLAG_EMPTY) && !(r->indexFlags & AVI_INDEXFLAG_NOTKEY))
        f = k;  // an empty frame repeats its key frame's picture
    const int64_t last = d->lastDecoded;
    const int64_t start = last >= k && f >= last ? last + 1 : k;

    void* result =
        d->decompressor != nullptr || d->pictureInOutput ? d->outputBuffer : d->readBuffer;
    void* perCall = nullptr;  // a block for this call, handed to the caller
    auto take_block = [&]() -> VXRESULT {
        if (perCall == nullptr) {
            perCall = vx::platform::global_alloc_locked(o.biSizeImage);
            if (perCall == nullptr) return record(AVIERR_MEMORY, site::codec::kCallMemory);
        }
        return 0;
    };
    auto fail = [&](VXRESULT rc) {
        vx::platform::global_free(perCall);
        return rc;
    };
    if (d->decompressor != nullptr && d->outputBuffer == nullptr) {
        if (const VXRESULT rc = take_block()) return rc;
        result = perCall;
    }

    for (int64_t i = start; i <= f; ++i) {
        uint32_t bytes = 0;
        if (const VXRESULT rc =
                vx::reader::read_frame_at(r, i, nullptr, &bytes, nullptr, site::vfw::kFrameRead))
            return fail(rc);
        uint32_t flags = 0;
        if (bytes != 0) {
            if (const VXRESULT rc = reserve_read(d, i, bytes)) return fail(rc);
            uint32_t size = d->readCapacity;
            if (const VXRESULT rc = vx::reader::read_frame_at(r, i, d->readBuffer, &size, &flags,
                                                              site::vfw::kFrameRead))
                return fail(rc);
            bytes = size;
        }
        const auto* stored = static_cast<BITMAPINFOHEADER*>(s->format);
        if (d->decodeWidth == -1) {
            d->decodeWidth = stored->biWidth;
            d->decodeHeight = stored->biHeight;
        }
        if (bytes != 0 && d->decompressor != nullptr) {
            static_cast<BITMAPINFOHEADER*>(s->format)->biSizeImage = bytes;
            const uint32_t bits = d->decompressor->can_output_32() ? 32 : stored->biBitCount;
            const uint32_t need = image_size(d->decodeWidth, d->decodeHeight, bits);
            // A stored size larger than the codec's output would overrun it.
            const bool fits = need != 0 && need <= o.biSizeImage;
            if (!fits || !d->decompressor->decompress(d->readBuffer, bytes, flags, d->decodeWidth,
                                                      d->decodeHeight, 0, result))
                record(AVIERR_COMPRESSOR, site::codec::kDecompress);
        } else if (bytes != 0) {
            if (bytes == o.biSizeImage) {
                result = d->readBuffer;
                d->pictureInOutput = 0;
            } else {
                void* destination = d->outputBuffer;
                if (destination == nullptr) {
                    if (const VXRESULT rc = take_block()) return fail(rc);
                    destination = perCall;
                }
                draw_partial(d, bytes, destination);
                result = destination;
                d->pictureInOutput = destination == d->outputBuffer;
            }
        }
        d->lastDecoded = static_cast<int32_t>(i);
    }

    if (format != nullptr) {
        const uint32_t colours = o.biBitCount > 8 ? 0 : colours_of(o);
        std::memcpy(format, d->output.bytes, kHeader + colours * 4);
    }
    // A per-call block made but not used for the picture is not handed out.
    if (perCall != nullptr && result != perCall) {
        vx::platform::global_free(perCall);
        perCall = nullptr;
    }
    *pixels = result;
    *owned = perCall != nullptr ? 1 : 0;
    if (perCall != nullptr) {
        d->lastDecoded = -1;  // the picture left with the caller
        d->pictureInOutput = 0;
    }
    return 0;
}

VXAPI VXRESULT VXCALL aviGetFrameTerm(AviFrameDecoder* d) {
    if (d != nullptr) release(d);
    return 0;
}
