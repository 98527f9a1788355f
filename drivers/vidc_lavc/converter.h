// Converts decoded pictures into the caller's bitmap layout through
// libswscale, the way ffmpeg's own format conversion does it, so that the
// pixels equal what `ffmpeg -pix_fmt bgr24` gives for the same frames.
#pragma once

#include <cstdint>
#include <vector>

#include "formats.h"
#include "lav_ptr.h"

namespace vxlavc {

class Converter {
public:
    explicit Converter(const OutputLayout& layout) : layout_(layout) {}

    // Writes the whole output bitmap. False when no conversion could be set
    // up for the picture's format.
    bool convert(const AVFrame& picture, uint8_t* output);

    const OutputLayout& layout() const { return layout_; }

private:
    bool prepare(const AVFrame& picture);

    OutputLayout layout_;
    SwsPtr sws_;
    // swscale may write past the end of a row; it writes here, with room to
    // spare, and whole rows are copied out.
    std::vector<uint8_t> scratch_;
    std::size_t scratchStride_ = 0;
    int sourceWidth_ = 0;
    int sourceHeight_ = 0;
    int sourceFormat_ = AV_PIX_FMT_NONE;
    int colorspace_ = -1;
    int range_ = -1;
};

}  // namespace vxlavc
