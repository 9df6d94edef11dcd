// Playback in time with the clock: one round at a time on the port's worker, it decodes the
// next frame, waits for its time and shows it. A frame that comes too late is skipped, not
// shown, so that what is shown keeps up with the clock (and the sound); where decoding itself
// cannot keep up, late pictures are shown and playback catches up at key frames.
#ifndef KESTRAVA_PLAYCTRL_PLAYBACKPACER_H
#define KESTRAVA_PLAYCTRL_PLAYBACKPACER_H

#include "audio/AudioOut.h"
#include "demux/FrameIndex.h"
#include "video/Positioner.h"
#include "port/PresentationClock.h"
#include "video/VideoDecoder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace playctrl {

// Where a port's playback stands. Worker-only (or touched by the API thread only while no
// worker runs); number and ms are read by queries as well.
struct Playhead {
    DecodedFrame current; // frame on screen (or the first frame before anything is shown)
    DecodedFrame pending; // decoded, not yet shown
    bool shown = false;
    int skippedThrough = -1; // the last frame playback skipped since one was shown
    std::chrono::steady_clock::time_point shownAt; // when the last frame was shown
    std::atomic<int> number{0};
    std::atomic<int64_t> ms{0};

    int nextToShow() const { return shown ? number.load() + 1 : number.load(); }
    // Playback goes on after the frames it skipped as well.
    int nextToPlay() const { return std::max(nextToShow(), skippedThrough + 1); }
};

class PlaybackPacer {
  public:
    // What the port does for its playback.
    class Host {
      public:
        // Shows `frame`; the state lock is not held.
        virtual void present(DecodedFrame frame) = 0;
        // Playback has no frame after the last; the state lock is held.
        virtual void reachedEndLocked() = 0;
        // A file still being written: the index takes in what was appended.
        virtual void followGrowth() = 0;
        // Before waiting for the frame at `nextMs`: sound starts where playback (re)started,
        // and the clock follows what is heard. The state lock is held.
        virtual void keepToSoundLocked(int64_t nextMs) = 0;

      protected:
        ~Host() = default;
    };

    struct Parts {
        Playhead &playhead;
        VideoDecoder &decoder;
        FrameIndex &index;
        Positioner &positioner;
        PresentationClock &clock;
        AudioOut &audio;
        std::condition_variable &wake; // of the port's state lock
        const std::atomic<bool> &skipNonReference;
    };

    PlaybackPacer(Host &host, const Parts &parts) : host_(host), p_(parts) {}

    // One round of playback; `lock` is the port's state lock, released while it decodes or
    // shows. Throws what stops playback.
    void step(std::unique_lock<std::mutex> &lock);

  private:
    bool holdsCutOff(std::unique_lock<std::mutex> &lock);
    bool tooLate(const DecodedFrame &frame) const;
    bool showsLate() const;
    int64_t msOf(int frame) const;
    DecodedFrame decodeToPlay(int number);

    Host &host_;
    Parts p_;
    bool holding_ = false; // the last picture of a file being written, since holdingSince_
    std::chrono::steady_clock::time_point holdingSince_;
};

} // namespace playctrl

#endif
