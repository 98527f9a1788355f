#include "codecs/decompressor.h"

#include <cstring>
#include <new>

#include "codecs/codec_cache.h"
#include "formats/colour_table.h"
#include "formats/stored_records.h"
#include "platform/lock.h"

namespace vx::codecs {

namespace {

using platform::CodecInstance;

constexpr uint32_t kHeaderSize = sizeof(BITMAPINFOHEADER);

CodecInstance locate(const BITMAPINFOHEADER* format) {
    // The format alone chooses the codec: any installed one that takes it.
    return platform::codec_locate(platform::kCodecTypeVideo, 0, format, nullptr,
                                  platform::kCodecModeDecompress);
}

// Locates once more after closing the least recently used codec, when the
// first attempt failed (codecs may refuse new instances while many are open).
CodecInstance locate_with_eviction(const BITMAPINFOHEADER* format, bool* evicted) {
    *evicted = false;
    if (CodecInstance c = locate(format)) return c;
    if (!CodecCache::evict_one()) return nullptr;
    *evicted = true;
    return locate(format);
}

intptr_t send(CodecInstance c, uint32_t message, const void* a, const void* b) {
    return platform::codec_send(c, message, reinterpret_cast<intptr_t>(a),
                                reinterpret_cast<intptr_t>(b));
}

BITMAPINFOHEADER output_format(int32_t width, int32_t height, uint32_t compression, uint16_t bits) {
    BITMAPINFOHEADER f{};
    f.biSize = kHeaderSize;
    f.biWidth = width;
    f.biHeight = height;
    f.biPlanes = 1;
    f.biBitCount = bits;
    f.biCompression = compression;
    f.biSizeImage = image_size(width, height, bits);
    return f;
}

}  // namespace

uint32_t image_size(int32_t width, int32_t height, uint32_t bits) {
    if (width <= 0 || bits == 0 || bits > 64) return 0;
    const uint64_t rows = height < 0 ? uint64_t{0} - static_cast<int64_t>(height) : height;
    const uint64_t row = ((uint64_t{static_cast<uint32_t>(width)} * bits + 31) & ~uint64_t{31}) / 8;
    const uint64_t size = row * rows;
    return size > INT32_MAX ? 0 : static_cast<uint32_t>(size);
}

VfwDecompressor* VfwDecompressor::create(const BITMAPINFOHEADER* format, uint32_t formatSize) {
    if (format == nullptr || formatSize < kHeaderSize) return nullptr;
    // The stored bytes go to the codec as they are; decisions here read them
    // field by field.
    BITMAPINFOHEADER stored{};
    read_bitmap_header(format, formatSize, &stored);
    if (stored.biCompression == 0) return nullptr;  // uncompressed: nothing to decode

    // The header as far as the stored format holds it, then the colour table
    // of a format of 8 bits or fewer, zero where the stored format ends early:
    // codecs of such formats read the table behind the header.
    uint32_t header = stored.biSize < kHeaderSize ? kHeaderSize : stored.biSize;
    if (header > formatSize) header = formatSize;
    const uint32_t colours = table_entries(stored);
    const uint64_t size = header + uint64_t{colours} * 4;

    bool evicted = false;
    CodecInstance probe = locate_with_eviction(format, &evicted);
    if (probe == nullptr) return nullptr;

    auto* d = new (std::nothrow) VfwDecompressor;
    if (d != nullptr) d->input_.reset(new (std::nothrow) uint8_t[size]());
    if (d == nullptr || d->input_ == nullptr) {
        platform::codec_close(probe);
        delete d;
        return nullptr;
    }
    platform::lock_init(&d->lock_);
    d->inputSize_ = static_cast<uint32_t>(size);
    std::memcpy(d->input_.get(), format, size < formatSize ? size : formatSize);
    d->input()->biSize = header;
    // The count says no more than the copy holds.
    if (colours != 0 && stored.biClrUsed > colours) d->input()->biClrUsed = colours;

    const BITMAPINFOHEADER test = output_format(stored.biWidth, stored.biHeight, 0, 32);
    d->can32_ = send(probe, platform::kIcmDecompressQuery, d->input(), &test) == platform::kIcErrOk;
    // The decompressor starts closed; its first use opens a codec again.
    platform::codec_close(probe);
    return d;
}

VfwDecompressor::~VfwDecompressor() {
    if (inputSize_ == 0) return;  // never fully made
    {
        platform::LockGuard hold(&lock_);
        close_codec();
        CodecCache::remove(this);
    }
    platform::lock_delete(&lock_);
}

void VfwDecompressor::end_session() {
    if (!begun_) return;
    send(codec_, platform::kIcmDecompressEnd, nullptr, nullptr);
    begun_ = false;
    session_.fetch_add(1, std::memory_order_release);
}

void VfwDecompressor::close_codec() {
    if (codec_ == nullptr) return;
    end_session();
    platform::codec_close(codec_);
    codec_ = nullptr;
}

bool VfwDecompressor::open_on_demand() {
    if (codec_ != nullptr) {
        CodecCache::move_to_front(this);
        return true;
    }
    bool evicted = false;
    codec_ = locate_with_eviction(input(), &evicted);
    if (codec_ == nullptr) return false;
    if (evicted) CodecCache::remove(this);
    if (!CodecCache::add_to_front(this)) {
        close_codec();
        return false;
    }
    return true;
}

bool VfwDecompressor::get_output_format(BITMAPINFOHEADER* out) {
    if (out == nullptr) return false;
    // Taken although only decoding needs it: eviction must not close the
    // codec between opening it and asking it.
    platform::LockGuard hold(&lock_);
    if (!open_on_demand()) return false;
    if (send(codec_, platform::kIcmDecompressGetFormat, input(), out) != platform::kIcErrOk)
        return false;
    if (can32_) {
        out->biBitCount = 32;
        out->biSizeImage = image_size(out->biWidth, out->biHeight, 32);
    }
    outputBits_ = out->biBitCount;
    return true;
}

BITMAPINFOHEADER VfwDecompressor::output(int32_t width, int32_t height, uint32_t compression) {
    // The depth proposed, so that the pictures are what the format says.
    const uint16_t proposed = outputBits_ != 0 ? outputBits_ : input()->biBitCount;
    return output_format(width, height, compression, can32_ ? 32 : proposed);
}

VfwDecompressor::Result VfwDecompressor::decompress(const void* frame, uint32_t size,
                                                    uint32_t flags, int32_t width, int32_t height,
                                                    uint32_t compression, void* bits) {
    platform::LockGuard hold(&lock_);
    if (!open_on_demand()) return Result::kFailed;
    const BITMAPINFOHEADER out = output(width, height, compression);
    if (begun_ &&
        (width != begunWidth_ || height != begunHeight_ || compression != begunCompression_))
        end_session();
    if (!begun_ &&
        send(codec_, platform::kIcmDecompressBegin, input(), &out) == platform::kIcErrOk) {
        begun_ = true;
        begunWidth_ = width;
        begunHeight_ = height;
        begunCompression_ = compression;
    }
    if (!begun_) return Result::kFailed;
    // The codec learns the frame's length from the input format.
    input()->biSizeImage = size;
    const intptr_t r = platform::codec_decompress(codec_, flags, input(), frame, &out, bits);
    if (r == platform::kIcErrOk) return Result::kPicture;
    return r == platform::kIcErrDontDraw ? Result::kNoPicture : Result::kFailed;
}

VfwDecompressor::Result VfwDecompressor::drain(void* bits) {
    platform::LockGuard hold(&lock_);
    // A closed codec took its pictures with it.
    if (codec_ == nullptr || !begun_) return Result::kNoPicture;
    CodecCache::move_to_front(this);
    const BITMAPINFOHEADER out = output(begunWidth_, begunHeight_, begunCompression_);
    input()->biSizeImage = 0;
    static const uint8_t kNothing = 0;
    const intptr_t r = platform::codec_decompress(codec_, platform::kIcDecompressNullFrame, input(),
                                                  &kNothing, &out, bits);
    if (r == platform::kIcErrOk) return Result::kPicture;
    return r == platform::kIcErrDontDraw ? Result::kNoPicture : Result::kFailed;
}

int32_t VfwDecompressor::held() {
    platform::LockGuard hold(&lock_);
    if (codec_ == nullptr || !begun_) return 0;
    // Codecs that do not know the message leave the value as it is, whatever
    // they answer.
    uint32_t count = UINT32_MAX;
    if (send(codec_, platform::kIcmDecompressGetHeld, &count, nullptr) != platform::kIcErrOk ||
        count > INT32_MAX)
        return -1;
    return static_cast<int32_t>(count);
}

void VfwDecompressor::restart() {
    platform::LockGuard hold(&lock_);
    if (codec_ != nullptr) end_session();
}

}  // namespace vx::codecs
