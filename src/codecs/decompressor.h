// A decompressor for one compressed video format, through an installed codec.
// The codec is opened on first use and may be closed underneath by the
// process-wide codec cache when too many are open; the next use reopens one,
// unseen by the owner.
#pragma once

#include <vxmedia/avireader.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/video_codec.h"

namespace vx::codecs {

class VfwDecompressor {
public:
    // A decompressor for the format at `format` (`formatSize` bytes valid
    // there, colour table included), or null when the format is
    // uncompressed or no installed codec takes it.
    static VfwDecompressor* create(const BITMAPINFOHEADER* format, uint32_t formatSize);
    ~VfwDecompressor();
    VfwDecompressor(const VfwDecompressor&) = delete;
    VfwDecompressor& operator=(const VfwDecompressor&) = delete;

    // What one call of the codec gave.
    enum class Result { kPicture, kNoPicture, kFailed };

    // The codec's preferred output format, 32 bits when it can give them;
    // later decompression writes pictures of this depth. `out` has room for
    // 256 colour-table entries behind its 40 bytes.
    bool get_output_format(BITMAPINFOHEADER* out);
    // Decodes one frame of `size` bytes into `bits`, laid out as a bitmap of
    // width x height with `compression`. A codec that reorders pictures
    // writes an earlier frame's picture, or none while it fills up.
    Result decompress(const void* frame, uint32_t size, uint32_t flags, int32_t width,
                      int32_t height, uint32_t compression, void* bits);
    // Writes the oldest picture the codec holds back into `bits`; none when
    // it holds none. The session takes no more frames before a restart.
    Result drain(void* bits);
    // Pictures the codec holds back now, as it says; -1 when it does not say.
    int32_t held();
    // Ends the begun session: the codec forgets the pictures it held back
    // and the next frame begins a new one.
    void restart();
    // Changes whenever a begun session ends, eviction included.
    uint32_t session() const { return session_.load(std::memory_order_acquire); }

    bool can_output_32() const { return can32_; }
    bool is_open() const { return codec_ != nullptr; }

private:
    friend class CodecCache;

    VfwDecompressor() = default;
    bool open_on_demand();
    // Ends decompression and closes the codec; the caller holds what guards
    // this decompressor (its own lock, or the cache's during eviction).
    void close_codec();
    // Sends ICM_DECOMPRESS_END; the caller holds the lock.
    void end_session();
    BITMAPINFOHEADER output(int32_t width, int32_t height, uint32_t compression);
    BITMAPINFOHEADER* input() { return reinterpret_cast<BITMAPINFOHEADER*>(input_.get()); }

    platform::CodecInstance codec_ = nullptr;
    int32_t begunWidth_ = 0;
    int32_t begunHeight_ = 0;
    uint32_t begunCompression_ = 0;
    std::unique_ptr<uint8_t[]> input_;
    uint32_t inputSize_ = 0;
    bool begun_ = false;
    bool can32_ = false;
    uint16_t outputBits_ = 0;  // the depth get_output_format settled on; 0 before
    std::atomic<uint32_t> session_{0};
    VxCriticalSection lock_{};
};

// Bytes of a row of `width` pixels of `bits` each, padded to 4 bytes, times
// `height`; 0 when that does not fit 31 bits or an argument is out of range.
uint32_t image_size(int32_t width, int32_t height, uint32_t bits);

}  // namespace vx::codecs
