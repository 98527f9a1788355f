#include "converter.h"

#include <cstring>

namespace vxlavc {
namespace {

// ffmpeg's default scaler flags; the same flags give the same pixels.
constexpr int kSwsFlags = SWS_BICUBIC;
// Room for what swscale writes past a row's last pixel (whole vector stores;
// up to 62 bytes seen here, for one-pixel rows), with a good margin.
constexpr std::size_t kRowSlack = 128;

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
    const std::size_t height = static_cast<std::size_t>(layout_.height);
    if (scratch_.empty()) {
        scratchStride_ = (layout_.rowBytes + kRowSlack + 63) / 64 * 64;
        scratch_.resize(scratchStride_ * height + 2 * kRowSlack);
    }
    uint8_t* planes[4] = {scratch_.data(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(scratchStride_), 0, 0, 0};
    if (sws_scale(sws_.get(), picture.data, picture.linesize, 0, picture.height, planes, strides) !=
        layout_.height)
        return false;
    const std::size_t pixels = static_cast<std::size_t>(layout_.width) * (layout_.bitCount / 8);
    for (std::size_t y = 0; y < height; ++y) {
        const uint8_t* from = scratch_.data() + scratchStride_ * y;
        // Bottom-up bitmaps keep the picture's first row last.
        uint8_t* to = output + layout_.rowBytes * (layout_.topDown ? y : height - 1 - y);
        std::memcpy(to, from, pixels);
        // The fourth byte is always 255 (opaque), whatever swscale left there.
        if (layout_.bitCount == 32)
            for (std::size_t x = 3; x < pixels; x += 4) to[x] = 0xFF;
    }
    return true;
}

}  // namespace vxlavc
