// Wall time against media time for one port: where playback stands now, when a frame is due,
// and the nine speed steps from 1/16 to 16 times.
//
// Thread-safe: every member takes lock_, a leaf lock (nothing is called while it is held), so
// the worker, the host's threads and the sound thread may all ask.
#ifndef KESTRAVA_PLAYCTRL_PRESENTATIONCLOCK_H
#define KESTRAVA_PLAYCTRL_PRESENTATIONCLOCK_H

#include <chrono>
#include <cstdint>
#include <mutex>

namespace playctrl {

class PresentationClock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    // Stands at normal speed, anchored by the next frame due: as after opening a file.
    void reset();

    // Runs from the next frame due (that frame anchors it) / stands still.
    void run();
    void hold();
    // Anchors the clock afresh at the next frame due, running or not.
    void resyncAtNextFrame();
    // Anchors the clock now at `ms`.
    void rebase(int64_t ms);

    // When the frame at `ms` is due; a pending resync anchors the clock at this frame.
    TimePoint due(int64_t ms);
    // Media time now; `shownMs`, the frame on screen, while the clock stands or waits for
    // its anchor.
    int64_t now(int64_t shownMs);
    // Frames before this media time are late: the clock has passed them by more than one frame
    // interval, `intervalMs`, both in media time and in wall time, and by more than the
    // timer's jitter. INT64_MIN while the clock stands or waits for its anchor.
    int64_t lateBefore(int64_t intervalMs);
    bool runsAtNormalSpeed();
    // The sound is the master clock while it is heard: media time `heardMs` is heard now. The
    // clock moves towards it, continuously, so the picture keeps to the sound.
    void follow(int64_t heardMs);
    bool runsAtMostNormalSpeed();

    // One speed step, keeping the media time of this instant; false at the limit.
    bool faster(int64_t shownMs);
    bool slower(int64_t shownMs);
    void normalSpeed();

  private:
    bool step(int delta, int64_t shownMs);
    int64_t nowLocked(int64_t shownMs) const;
    void rebaseLocked(int64_t ms);

    std::mutex lock_; // guards every field below
    bool running_ = false;
    bool resync_ = true;
    TimePoint wall_;
    int64_t media_ = 0;
    int speedLevel_ = 0; // -4 .. 4: 1/16 .. 16 times
};

} // namespace playctrl

#endif
