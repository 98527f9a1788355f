// Owning pointers for the libav objects of the audio drivers, besides the
// codec, frame and packet ones the video driver has.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswresample/swresample.h>
}

#include <memory>

namespace vxacm {

// libav's lines about the drivers' own codecs and resamplers are lowered by
// this many levels, below any level a host sets: failures show in the
// results. Per object rather than through libav's one log callback, which
// the video driver owns while it is loaded.
inline constexpr int kQuietLogOffset = 1000;

struct SwrFree {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct ParserFree {
    void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};

using SwrPtr = std::unique_ptr<SwrContext, SwrFree>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserFree>;

}  // namespace vxacm
