// Decoded frames of a reader's video stream: aviGetFrameInit, aviGetFrame,
// aviGetFrameTerm. A handle goes back to the nearest key frame and decodes
// forward, and keeps the last picture of a delta-coded stream so that
// sequential access decodes every frame once. A codec that reorders pictures
// is fed on until the picture of the frame asked for comes out, and drained
// at the end of the stream.
#include <VexaInfo.h>
#include <vxmedia/aviframes.h>

#include <cstring>

#include "codecs/decompressor.h"
#include "codecs/held_frames.h"
#include "formats/colour_table.h"
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
    // The picture last made is a stored image still in the read buffer.
    uint8_t pictureInRead;
    // With a codec: the codec session's state.
    uint8_t drained;   // the codec was asked for its held pictures
    int32_t fedTo;     // last frame fed (or passed, when empty); -1 none
    int32_t shown;     // frame whose picture is in the output buffer; -1 none
    uint32_t session;  // the decompressor's session the frames went to
    vx::codecs::HeldFrames held;
};

namespace {

using vx::record;
using vx::table_entries;
using vx::codecs::image_size;
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

// One aviGetFrame: the frames from the key frame (or from where the handle
// stopped) to frame f, into the output buffer or a block for this call.
struct Frames {
    AviFrameDecoder* d;
    AviReader* r;
    int64_t f;
    int64_t k;
    int64_t lastIndexed;
    void* perCall = nullptr;    // a block for this call, handed to the caller
    void* result = nullptr;     // where the picture is
    bool wantedFailed = false;  // the codec failed on the frame wanted
    int32_t wanted_ = -1;

    int64_t first_frame() const { return r->streams[r->videoStream].header.dwStart; }

    VXRESULT take_block() {
        if (perCall == nullptr) {
            perCall = vx::platform::global_alloc_locked(d->output.header.biSizeImage);
            if (perCall == nullptr) return record(AVIERR_MEMORY, site::codec::kCallMemory);
        }
        return 0;
    }

    VXRESULT size_of(int64_t i, uint32_t* bytes) {
        *bytes = 0;
        return vx::reader::read_frame_at(r, i, nullptr, bytes, nullptr, site::vfw::kFrameRead);
    }

    // Frame i's bytes into the read buffer; `*bytes` is its size, known.
    VXRESULT read(int64_t i, uint32_t* bytes, uint32_t* flags) {
        if (const VXRESULT rc = reserve_read(d, i, *bytes)) return rc;
        uint32_t size = d->readCapacity;
        if (const VXRESULT rc =
                vx::reader::read_frame_at(r, i, d->readBuffer, &size, flags, site::vfw::kFrameRead))
            return rc;
        *bytes = size;
        return 0;
    }

    // Stored images and run-length frames, without a codec.
    VXRESULT draw() {
        const BITMAPINFOHEADER& o = d->output.header;
        const int64_t last = d->lastDecoded;
        const bool onwards = last >= k && f >= last;
        const int64_t start = onwards ? last + 1 : k;
        result = d->pictureInOutput ? d->outputBuffer : d->readBuffer;
        // A run-length delta is drawn on the picture before it, which may
        // be a stored image still in the read buffer.
        bool inRead = onwards && d->pictureInRead;
        for (int64_t i = start; i <= f; ++i) {
            uint32_t bytes = 0;
            if (const VXRESULT rc = size_of(i, &bytes)) return rc;
            void* destination = nullptr;
            if (bytes != 0 && bytes != o.biSizeImage) {
                destination = d->outputBuffer;
                if (destination == nullptr) {
                    if (const VXRESULT rc = take_block()) return rc;
                    destination = perCall;
                }
                if (inRead && d->readBuffer != nullptr && d->readCapacity >= o.biSizeImage)
                    std::memcpy(destination, d->readBuffer, o.biSizeImage);
            }
            uint32_t flags = 0;
            if (bytes != 0)
                if (const VXRESULT rc = read(i, &bytes, &flags)) return rc;
            if (bytes != 0 && destination == nullptr) {
                result = d->readBuffer;
                d->pictureInOutput = 0;
                inRead = true;
            } else if (bytes != 0) {
                draw_partial(d, bytes, destination);
                result = destination;
                d->pictureInOutput = destination == d->outputBuffer;
                inRead = false;
            }
            d->pictureInRead = inRead;
            d->lastDecoded = static_cast<int32_t>(i);
        }
        return 0;
    }

    // Through the codec: on from where the codec session stands when that
    // reaches frame f's picture no later than a new start from the key
    // frame, else from the key frame; on past f until its picture comes out.
    VXRESULT decode() {
        result = perCall != nullptr ? perCall : d->outputBuffer;
        // An empty frame shows the picture of the last frame before it that
        // has bytes: that is the picture wanted.
        int64_t g = f;
        for (; g >= k; --g) {
            uint32_t bytes = 0;
            if (const VXRESULT rc = size_of(g, &bytes)) return rc;
            if (bytes != 0) break;
        }
        if (g < k) return 0;  // nothing from the key frame on has bytes
        const auto wanted = static_cast<int32_t>(g);
        if (perCall == nullptr && d->shown == wanted) {
            d->lastDecoded = static_cast<int32_t>(f);
            return 0;
        }
        // Going back to an earlier key frame when the codec lost the picture
        // (it needed frames from before the key frame); twice at most.
        for (int attempt = 0;; ++attempt) {
            bool lost = false;
            if (const VXRESULT rc = feed(wanted, &lost)) return rc;
            if (!lost || wantedFailed || attempt == 2 || k <= first_frame()) break;
            uint32_t earlier = static_cast<uint32_t>(k - 1);
            if (aviFindKeyFrame(r, &earlier) != 0 || earlier >= k) break;
            k = earlier;
            d->fedTo = -1;  // start over
        }
        d->lastDecoded = static_cast<int32_t>(f);
        return 0;
    }

    VXRESULT feed(int32_t wanted, bool* lost) {
        wanted_ = wanted;
        VfwDecompressor* c = d->decompressor;
        vx::codecs::HeldFrames& held = d->held;
        const bool same = d->fedTo >= 0 && d->session == c->session();
        const int64_t next = held.count() != 0 ? held.oldest() : int64_t{d->fedTo} + 1;
        const bool onwards =
            same && (d->drained ? held.waiting(wanted) : next <= wanted && d->fedTo + 1 >= k);
        if (!onwards) {
            // Pictures held back from elsewhere in the stream must not come out.
            if (held.count() != 0 || d->drained) c->restart();
            held.clear();
            d->drained = 0;
            d->fedTo = static_cast<int32_t>(k - 1);
        }
        d->session = c->session();
        const BITMAPINFOHEADER& o = d->output.header;
        for (int64_t i = int64_t{d->fedTo} + 1;; ++i) {
            if (i > wanted && !held.waiting(wanted)) break;
            uint32_t bytes = 0;
            VXRESULT rc = i <= lastIndexed ? size_of(i, &bytes) : AVIERR_FILEREAD;
            if (rc == 0 && bytes != 0) {
                uint32_t flags = 0;
                rc = read(i, &bytes, &flags);
                if (rc == 0) decode_one(static_cast<int32_t>(i), bytes, flags, o);
            }
            if (rc != 0) {
                // Frames past the one wanted are only a means to get its
                // picture: at the end of what can be read, the codec gives
                // up what it holds.
                if (i <= f) return rc;
                drain(wanted);
                break;
            }
            d->fedTo = static_cast<int32_t>(i);
        }
        *lost = d->shown != wanted;
        return 0;
    }

    void decode_one(int32_t i, uint32_t bytes, uint32_t flags, const BITMAPINFOHEADER& o) {
        VfwDecompressor* c = d->decompressor;
        vx::codecs::HeldFrames& held = d->held;
        auto* stored = static_cast<BITMAPINFOHEADER*>(r->streams[r->videoStream].format);
        if (d->decodeWidth == -1) {
            d->decodeWidth = stored->biWidth;
            d->decodeHeight = stored->biHeight;
        }
        stored->biSizeImage = bytes;
        const uint32_t need = image_size(d->decodeWidth, d->decodeHeight, o.biBitCount);
        // A stored size larger than the codec's output would overrun it.
        const bool fits = need != 0 && need <= o.biSizeImage;
        if (c->session() != d->session) {
            held.clear();  // the codec was closed underneath
            d->session = c->session();
        }
        const VfwDecompressor::Result got =
            fits ? c->decompress(d->readBuffer, bytes, flags, d->decodeWidth, d->decodeHeight, 0,
                                 result)
                 : VfwDecompressor::Result::kFailed;
        held.fed(i);
        settle(got);
        if (got == VfwDecompressor::Result::kFailed) {
            wantedFailed = wantedFailed || i == wanted_;
            record(AVIERR_COMPRESSOR, site::codec::kDecompress);
        }
    }

    // Books what one call gave: codecs that do not say how many pictures
    // they hold are taken to hold all that gave none, and to have lost the
    // frames they failed on.
    void settle(VfwDecompressor::Result got) {
        vx::codecs::HeldFrames& held = d->held;
        int32_t h = d->decompressor->held();
        const auto waiting = static_cast<int32_t>(held.count());
        if (h < 0) h = got == VfwDecompressor::Result::kNoPicture ? waiting : waiting - 1;
        if (h < 0) h = 0;
        if (got == VfwDecompressor::Result::kPicture) {
            d->shown = held.picture(static_cast<uint32_t>(h));
        } else {
            // A failing codec may have written part of a picture.
            if (got == VfwDecompressor::Result::kFailed) d->shown = -1;
            held.none(static_cast<uint32_t>(h));
        }
    }

    void drain(int32_t wanted) {
        d->drained = 1;
        vx::codecs::HeldFrames& held = d->held;
        while (held.waiting(wanted)) {
            const VfwDecompressor::Result got = d->decompressor->drain(result);
            if (got != VfwDecompressor::Result::kPicture) {
                held.clear();
                break;
            }
            settle(got);
        }
    }
};

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
    d->fedTo = -1;
    d->shown = -1;
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

    Frames job{d, r, f, k, lastIndexed};
    VXRESULT rc = 0;
    if (d->decompressor != nullptr && d->outputBuffer == nullptr) rc = job.take_block();
    // A stream that starts past its index has no frame to draw.
    if (rc == 0 && k <= f) rc = d->decompressor != nullptr ? job.decode() : job.draw();
    // Nothing drawn at all (no frame, or only empty ones): a blank picture,
    // never a null one.
    if (rc == 0 && (job.result == nullptr || k > f)) {
        rc = job.take_block();
        job.result = job.perCall;
    }
    if (rc != 0) {
        vx::platform::global_free(job.perCall);
        return rc;
    }

    if (format != nullptr) {
        const uint32_t colours = o.biBitCount > 8 ? 0 : colours_of(o);
        std::memcpy(format, d->output.bytes, kHeader + colours * 4);
    }
    // A per-call block made but not used for the picture is not handed out.
    if (job.perCall != nullptr && job.result != job.perCall) {
        vx::platform::global_free(job.perCall);
        job.perCall = nullptr;
    }
    *pixels = job.result;
    *owned = job.perCall != nullptr ? 1 : 0;
    if (job.perCall != nullptr) {
        d->lastDecoded = -1;  // the picture left with the caller
        d->shown = -1;
        d->pictureInOutput = 0;
    }
    return 0;
}

VXAPI VXRESULT VXCALL aviGetFrameTerm(AviFrameDecoder* d) {
    if (d != nullptr) release(d);
    return 0;
}
