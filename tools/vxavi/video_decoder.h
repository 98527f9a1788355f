// The video of an AVI file decoded through the library's frame decoder, for
// the commands that show pictures, with its failures turned into messages.
#pragma once

#include <vxmedia/aviframes.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "avi_file.h"
#include "picture.h"

namespace vxavi {

class VideoDecoder {
public:
    // Null after printing why the video of `avi` (opened from `path`)
    // cannot be decoded.
    static std::unique_ptr<VideoDecoder> open(const AviFile& avi, const std::string& path);
    ~VideoDecoder();
    VideoDecoder(const VideoDecoder&) = delete;
    VideoDecoder& operator=(const VideoDecoder&) = delete;

    // The frames the stream header counts.
    uint32_t frames() const { return frames_; }

    // Decodes frame `n` (from 0). Null after printing why; else the
    // picture, valid until the next call or the decoder's end.
    const Picture* decode(uint32_t n);

private:
    VideoDecoder(AviFrameDecoder* decoder, std::string path, uint32_t frames)
        : decoder_(decoder), path_(std::move(path)), frames_(frames) {}
    void release_pixels();

    AviFrameDecoder* decoder_;
    std::string path_;
    uint32_t frames_;
    PictureFormat format_{};
    void* owned_ = nullptr;  // pixels handed over by the last call
    std::optional<Picture> picture_;
};

}  // namespace vxavi
