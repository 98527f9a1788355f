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

    // Decodes one packet. With `convert` false (hurry-up) the picture is
    // decoded but not written. When the decoder holds the picture back (codec
    // delay) nothing is written and the result is still ICERR_OK.
    int decode(const uint8_t* data, uint32_t size, bool convert, uint8_t* output);

private:
    Decoder(CodecContextPtr context, const OutputLayout& layout, std::vector<uint32_t> palette);

    int send(const uint8_t* data, uint32_t size);

    CodecContextPtr context_;
    PacketPtr packet_;
    FramePtr picture_;
    Converter converter_;
    std::vector<uint32_t> palette_;
};

}  // namespace vxlavc
