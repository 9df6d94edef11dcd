// Decoded frames around the one on screen, so that stepping back and short moves cost no
// decoding. Worker-only: no lock.
#pragma once

#include "VideoDecoder.h"

#include <cstddef>
#include <map>

namespace playctrl {

class FrameCache {
  public:
    // Sizes the cache for pictures of this many bytes each.
    void setFrameBytes(size_t bytes);

    // A new reference to frame `number`, or an empty frame.
    DecodedFrame find(int number) const;
    // The first frame worth keeping while decoding towards `target`.
    int keepFrom(int target) const { return target - static_cast<int>(limit_) + 1; }
    // Keeps a frame decoded on the way to a target.
    void keep(const DecodedFrame &frame);
    // Keeps the frame just shown, dropping what lies farthest from it.
    void remember(const DecodedFrame &frame);
    void clear() { frames_.clear(); }

  private:
    std::map<int, DecodedFrame> frames_; // by frame number, contiguous
    size_t limit_ = 16;
};

} // namespace playctrl
