#include "converter.h"

namespace vxlavc {
namespace {

// ffmpeg's default scaler flags; the same flags give the same pixels.
constexpr int kSwsFlags = SWS_BICUBIC;

// The matrix ffmpeg's scale filter picks for a picture: the picture's own
// when it names one swscale knows, else ITU-R BT.601.
const int* coefficients_for(int colorspace) {
    if (colorspace < 1 || colorspace > 10 || colorspace == 8) colorspace = SWS_CS_ITU601;
    return sws_getCoefficients(colorspace);
}

}  // namespace

bool Converter::prepare(const AVFrame& picture) {
    const bool sameSource = sws_ && picture.width == sourceWidth_ &&
                            picture.height == sourceHeight_ && picture.format == sourceFormat_;
    if (!sameSource) {
        sws_.reset(sws_getContext(picture.width, picture.height,
                                  static_cast<AVPixelFormat>(picture.format), layout_.width,
                                  layout_.height, layout_.pixelFormat, kSwsFlags, nullptr, nullptr,
                                  nullptr));
        if (!sws_) return false;
        sourceWidth_ = picture.width;
        sourceHeight_ = picture.height;
        sourceFormat_ = picture.format;
        colorspace_ = -1;
        range_ = -1;
    }
    if (picture.colorspace == colorspace_ && picture.color_range == range_) return true;

    int* inverse = nullptr;
    int* table = nullptr;
    int sourceFull = 0, destinationFull = 0, brightness = 0, contrast = 0, saturation = 0;
    sws_getColorspaceDetails(sws_.get(), &inverse, &sourceFull, &table, &destinationFull,
                             &brightness, &contrast, &saturation);
    const int* matrix = coefficients_for(picture.colorspace);
    if (picture.color_range != AVCOL_RANGE_UNSPECIFIED)
        sourceFull = picture.color_range == AVCOL_RANGE_JPEG;
    // Fails harmlessly for formats without a matrix (RGB, palettes).
    sws_setColorspaceDetails(sws_.get(), matrix, sourceFull, matrix, destinationFull, brightness,
                             contrast, saturation);
    colorspace_ = picture.colorspace;
    range_ = picture.color_range;
    return true;
}

bool Converter::convert(const AVFrame& picture, uint8_t* output) {
    if (!prepare(picture)) return false;
    const auto stride = static_cast<std::ptrdiff_t>(layout_.rowBytes);
    // Bottom-up bitmaps: start at the last row and step backwards.
    uint8_t* first = layout_.topDown ? output : output + stride * (layout_.height - 1);
    uint8_t* planes[4] = {first, nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(layout_.topDown ? stride : -stride), 0, 0, 0};
    const int rows =
        sws_scale(sws_.get(), picture.data, picture.linesize, 0, picture.height, planes, strides);
    if (rows <= 0) return false;
    if (layout_.bitCount == 32) {
        // The fourth byte is always 255 (opaque), whatever swscale left there.
        for (int y = 0; y < layout_.height; ++y) {
            uint8_t* p = output + stride * y;
            for (int x = 0; x < layout_.width; ++x) p[4 * x + 3] = 0xFF;
        }
    }
    return true;
}

}  // namespace vxlavc
