// The frames whose bytes went to a codec and whose pictures have not come
// out yet. A codec that reorders pictures gives each one back some calls
// later, in frame order, and may lose some on the way (a picture that needs
// a reference from before the key frame decoding started at); what it still
// holds back tells which frame a picture belongs to.
#pragma once

#include <cstdint>

namespace vx::codecs {

class HeldFrames {
public:
    // More than any codec reorders; older frames are taken as lost.
    static constexpr uint32_t kMost = 32;

    void clear() { count_ = 0; }
    uint32_t count() const { return count_; }
    // The frame whose picture comes out next; -1 when none waits.
    int32_t oldest() const { return count_ != 0 ? frames_[0] : -1; }
    bool waiting(int32_t frame) const {
        for (uint32_t i = 0; i < count_; ++i)
            if (frames_[i] == frame) return true;
        return false;
    }

    // Frame `frame` went to the codec.
    void fed(int32_t frame) {
        if (count_ == kMost) drop(1);
        frames_[count_++] = frame;
    }
    // A picture came out and the codec holds `held` back: the picture's
    // frame (those before it are lost), or -1 when none was waiting.
    int32_t picture(uint32_t held) {
        if (count_ == 0) return -1;
        const uint32_t at = count_ - 1 - (held < count_ ? held : count_ - 1);
        const int32_t frame = frames_[at];
        drop(at + 1);
        return frame;
    }
    // No picture came out and the codec holds `held` back: only the newest
    // `held` frames still wait.
    void none(uint32_t held) {
        if (held < count_) drop(count_ - held);
    }

private:
    void drop(uint32_t n) {
        for (uint32_t i = n; i < count_; ++i) frames_[i - n] = frames_[i];
        count_ -= n;
    }

    int32_t frames_[kMost];
    uint32_t count_;
};

}  // namespace vx::codecs
