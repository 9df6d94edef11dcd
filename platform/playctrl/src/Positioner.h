// Brings the decoder to an exact frame: from where it stands when the frame is just ahead,
// otherwise from the key frame before it, keeping what it decodes on the way in the cache.
// Worker-only.
#ifndef KESTRAVA_PLAYCTRL_POSITIONER_H
#define KESTRAVA_PLAYCTRL_POSITIONER_H

#include "FrameCache.h"
#include "FrameIndex.h"
#include "VideoDecoder.h"

namespace playctrl {

class Positioner {
  public:
    Positioner(VideoDecoder &decoder, FrameIndex &index, FrameCache &cache)
        : decoder_(decoder), index_(index), cache_(cache) {}

    // Frame `number` for moving forwards or jumping; empty past the end of the file.
    DecodedFrame forwardTo(int number);
    // Frame `number` for a step back: the frames before it land in the cache as well.
    DecodedFrame backTo(int number);

  private:
    DecodedFrame fromKeyFrame(int number);

    VideoDecoder &decoder_;
    FrameIndex &index_;
    FrameCache &cache_;
};

} // namespace playctrl

#endif
