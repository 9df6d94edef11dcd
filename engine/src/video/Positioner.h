// Brings the decoder to an exact frame: from where it stands when the frame is just ahead,
// otherwise from the key frame before it, keeping what it decodes on the way in the cache.
// A positioning serving a request gives up as soon as a newer request is there.
// Worker-only.
#ifndef KESTRAVA_PLAYCTRL_POSITIONER_H
#define KESTRAVA_PLAYCTRL_POSITIONER_H

#include "video/FrameCache.h"
#include "demux/FrameIndex.h"
#include "video/VideoDecoder.h"

#include <atomic>
#include <cstdint>

namespace playctrl {

// Thrown when a newer request has made the positioning in progress pointless.
struct Superseded {};

class Positioner {
  public:
    Positioner(VideoDecoder &decoder, FrameIndex &index, FrameCache &cache)
        : decoder_(decoder), index_(index), cache_(cache) {}

    // Frame `number` from the cache, from `pending` (decoded ahead, not yet shown) or decoded;
    // `pending` is dropped unless it is that frame. Empty past the end of the file.
    DecodedFrame obtain(int number, DecodedFrame &pending);
    // The same for a step back.
    DecodedFrame obtainBackward(int number, DecodedFrame &pending);

    // Frame `number` for moving forwards or jumping; empty past the end of the file.
    DecodedFrame forwardTo(int number);
    // Frame `number` for a step back: the frames before it land in the cache as well.
    DecodedFrame backTo(int number);

    // While one lives, positioning throws Superseded at the next picture once `newest` has
    // moved past `request`.
    class Serving {
      public:
        Serving(Positioner &positioner, const std::atomic<uint64_t> &newest, uint64_t request)
            : positioner_(positioner) {
            positioner_.newest_ = &newest;
            positioner_.request_ = request;
        }
        ~Serving() { positioner_.newest_ = nullptr; }
        Serving(const Serving &) = delete;
        Serving &operator=(const Serving &) = delete;

      private:
        Positioner &positioner_;
    };

  private:
    DecodedFrame fromKeyFrame(int number);
    bool goesOnTo(int number, int64_t pts) const;
    void stopIfSuperseded() const;

    VideoDecoder &decoder_;
    FrameIndex &index_;
    FrameCache &cache_;
    const std::atomic<uint64_t> *newest_ = nullptr;
    uint64_t request_ = 0;
};

} // namespace playctrl

#endif
