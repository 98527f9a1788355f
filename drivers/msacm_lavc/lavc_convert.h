// The libavcodec driver's conversions between 16-bit PCM and a compressed
// format of the same rate and channel count.
//
// Block formats (IMA and MS ADPCM, GSM 6.10, G.711 with one-sample blocks)
// convert whole blocks: a source that ends inside a block leaves that part
// unused, except that PCM being encoded without ACM_STREAMCONVERTF_BLOCKALIGN
// has its last part block padded with silence. A block the decoder rejects
// comes out as silence, so the output keeps its length and timing.
//
// MP3 is decoded through libavcodec's parser, so packets may split frames
// anywhere; what one call decodes beyond the destination's room is held and
// given out first by the next. ACM_STREAMCONVERTF_END gives out the last
// frame the parser holds; ACM_STREAMCONVERTF_START (after a seek) drops what
// is held.
#pragma once

#include <memory>

#include "acm_module.h"
#include "lavc_formats.h"

namespace vxacm {

// *result: VX_MMSYSERR_NOMEM or VX_ACMERR_NOTPOSSIBLE (libavcodec refused)
// when null is returned.
std::unique_ptr<Converter> make_encoder(const CodedFormat& out, uint32_t* result);
std::unique_ptr<Converter> make_decoder(const CodedFormat& in, uint32_t* result);
// MP3 (mp3_decoder.cpp).
std::unique_ptr<Converter> make_mp3_decoder(const CodedFormat& in, uint32_t* result);

}  // namespace vxacm
