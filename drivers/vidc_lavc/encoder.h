// One compression session between ICM_COMPRESS_BEGIN and ICM_COMPRESS_END:
// the caller's bitmap copied top-down into padded planes, converted by
// libswscale into the encoder's layout, and encoded by libavcodec, one
// compressed frame for each frame given (no frames held back).
#pragma once

#include <vxmedia/driver.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "compress_formats.h"
#include "compressors.h"
#include "lav_ptr.h"

namespace vxlavc {

class Encoder {
public:
    // ICERR_OK with `*made` set, or an ICERR_ code.
    static int begin(const Compressor& c, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out,
                     std::unique_ptr<Encoder>* made);

    // The bytes the decoder needs behind the format's header (empty for
    // most): what an encoder opened for `source` gives.
    static int extradata(const Compressor& c, const SourceFormat& source,
                         std::vector<uint8_t>* out);

    // Compresses one frame of the record (checked here). Writes at most
    // max_frame_bytes() bytes, and only when the caller's output format
    // says its buffer holds that many.
    int compress(const VxIcCompress& r);

    uint32_t max_frame_bytes() const { return capacity_; }

private:
    Encoder(const Compressor& c, const SourceFormat& source, uint32_t capacity);

    int open();
    int stage(const BITMAPINFOHEADER* in, const uint8_t* bits);
    int encode(bool forceKey, uint32_t quality, bool* key);

    const Compressor& compressor_;
    SourceFormat source_;
    uint32_t capacity_;
    CodecContextPtr context_;
    SwsPtr sws_;
    FramePtr staged_;   // the caller's rows, top row first, padded
    FramePtr picture_;  // in the encoder's layout
    PacketPtr packet_;
    int64_t pts_ = 0;
    uint64_t sinceOpen_ = 0;  // frames given to the current encoder
};

}  // namespace vxlavc
