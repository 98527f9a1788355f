// One decompression session between ICM_DECOMPRESS_BEGIN and
// ICM_DECOMPRESS_END: the libavcodec decoder, the colour table of
// palettised inputs and the conversion into the output layout.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "converter.h"
#include "formats.h"
#include "lav_ptr.h"

namespace vxlavc {

class Decoder {
public:
    // ICERR_OK with `*made` set, or an ICERR_ code.
    static int begin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out,
                     std::unique_ptr<Decoder>* made);

    // Decodes one packet: ICERR_OK when a picture came out (written unless
    // `convert` is false, hurry-up), ICERR_DONTDRAW while the decoder holds
    // pictures back to reorder them, or an ICERR_ code. After a drain the
    // decoder starts afresh.
    int decode(const uint8_t* data, uint32_t size, bool convert, uint8_t* output);
    // Gives out the oldest picture held back, as decode does; ICERR_DONTDRAW
    // when none is left. Once begun, the decoder takes no packets until the
    // next one starts it afresh.
    int drain(bool convert, uint8_t* output);
    // Pictures held back now: what the decoder reorders over, at most what
    // it was given and has not given out.
    uint32_t held() const;

private:
    Decoder(CodecContextPtr context, const OutputLayout& layout, std::vector<uint32_t> palette);

    int send(const uint8_t* data, uint32_t size);
    // ICERR_OK with the next picture out, ICERR_DONTDRAW when none is ready.
    int receive(bool convert, uint8_t* output, bool all);

    CodecContextPtr context_;
    PacketPtr packet_;
    FramePtr picture_;
    Converter converter_;
    std::vector<uint32_t> palette_;
    uint64_t given_ = 0;  // packets taken since the start
    uint64_t out_ = 0;    // pictures out since the start
    bool draining_ = false;
    bool drained_ = false;  // nothing left to drain
};

}  // namespace vxlavc
