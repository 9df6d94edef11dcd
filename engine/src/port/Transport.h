// The worker's side of a port's transport: the mode playback is in, where it stands (the
// playhead), and showing a frame on screen, to the display callback and to the sound. Port
// takes the host's calls and hands them over; this class runs them on the worker (or on the
// host's thread while no worker runs, as the file opens and closes).
#ifndef KESTRAVA_PLAYCTRL_TRANSPORT_H
#define KESTRAVA_PLAYCTRL_TRANSPORT_H

#include "audio/AudioOut.h"
#include "base/Errors.h"
#include "demux/FrameIndex.h"
#include "port/LastError.h"
#include "port/PlaybackPacer.h"
#include "port/PortWorker.h"
#include "port/PresentationClock.h"
#include "video/FrameCache.h"
#include "video/Positioner.h"
#include "video/Presenter.h"
#include "video/VideoDecoder.h"

#include "PlayM4.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

namespace playctrl {

// Pixel-format code handed to the display callback: planar YUV 4:2:0 (Y, then U, then V).
constexpr LONG kPixelFormatYuv420 = 3;

// The host's display callback. Its lock is held for the whole of each call, so that a host
// setting null waits for a call in progress (the port's lock order places it).
struct DisplayTarget {
    std::recursive_mutex mutex;
    // -- protected by mutex
    DisplayCallBack callback = nullptr;
};

class Transport : private PlaybackPacer::Host {
  public:
    // What the transport works with, owned by the port.
    struct Parts {
        LONG port;
        std::mutex &state;             // the port's state lock
        std::condition_variable &wake; // of the state lock
        std::mutex &file;              // held by queries; taken while a growing file's index grows
        DisplayTarget &display;
        LastError &errors;
        const PortWorker &worker; // knows whether the port is closing from its callback
        VideoDecoder &decoder;
        FrameIndex &index;
        FrameCache &cache;
        Positioner &positioner;
        PresentationClock &clock;
        AudioOut &audio;
        const std::atomic<bool> &skipNonReference;
    };

    explicit Transport(const Parts &parts) : p_(parts) {}
    Transport(const Transport &) = delete;
    Transport &operator=(const Transport &) = delete;

    // A file opened: `first` is its first frame, `shown` a copy that stands for the picture
    // until playback shows one. No worker runs.
    void load(std::string utf8Path, DecodedFrame first, DecodedFrame shown);
    // Everything of the file let go; the file lock is held and no worker runs.
    void unload();
    const std::string &path() const { return utf8Path_; }

    // -- the state lock held
    bool playingLocked() const { return mode_ == Mode::Playing; }
    bool endedLocked() const { return mode_ == Mode::Ended; }
    // Stopped at the start of a file just opened.
    void resetLocked();
    // Play from where the mode leaves it: on after a pause or failure, from the start after
    // Stop or the end. `withSound`: the file has a sound track, started now even while off.
    void playLocked(bool withSound);
    void pauseLocked(bool pausing);
    void stopLocked();
    void failLocked(Error code);
    // Playback (re)started or came back to normal speed: the sound starts there.
    void cueSoundLocked() { soundCue_ = true; }
    void setFileEndMessageLocked(HWND window, UINT message);

    // -- on the worker
    void setWindow(HWND window) { window_ = window; }
    // One round of playback; may release the state lock.
    void step(std::unique_lock<std::mutex> &lock) { pacer_.step(lock); }
    // Shows exactly frame `number` and keeps the transport: playing goes on from there.
    void showExact(int number);
    void stepForward();
    void stepBack();
    void refresh();
    // The frame on screen (or the first frame before anything is shown).
    const DecodedFrame &current() const { return playhead_.current; }
    // A file still being written: the index takes in what was appended.
    void followGrowth() override;

    // -- any thread, under the file lock
    int number() const { return playhead_.number; }
    int64_t ms() const { return playhead_.ms; }
    LONG width() const { return width_; }
    LONG height() const { return height_; }

  private:
    // Failed: playback met a frame it could not decode and stands where it was.
    enum class Mode { Stopped, Playing, Paused, Holding, Ended, Failed };
    // The clock runs in Playing only; the state lock held.
    void setModeLocked(Mode mode);
    // Back to the start of the file, as after Stop; the state lock held.
    void rewindLocked();

    // PlaybackPacer::Host
    void present(DecodedFrame frame) override;
    void reachedEndLocked() override;
    void keepToSoundLocked(int64_t nextMs) override;
    // Where the sound of media time `ms` is found: a key picture's byte position a while
    // before, or -1 to seek by time.
    int64_t soundSeekPos(int64_t ms);
    std::shared_ptr<const SoundPlacement> soundPlacement();

    Parts p_;

    // -- protected by the state lock
    Mode mode_ = Mode::Stopped;
    HWND endWindow_ = nullptr;
    UINT endMessage_ = 0;
    bool soundCue_ = false;   // playback (re)started: the sound is to start there
    bool soundPrime_ = false; // by Play: the sound thread starts even while the sound is off

    // -- without a lock
    std::atomic<LONG> width_{0}, height_{0};

    // -- worker-only (or the host's thread while no worker runs)
    std::string utf8Path_;
    Presenter presenter_;
    HWND window_ = nullptr;
    Playhead playhead_;
    bool endPosted_ = false;
    PlaybackPacer pacer_{*this,
                         {playhead_, p_.decoder, p_.index, p_.positioner, p_.clock, p_.audio,
                          p_.wake, p_.skipNonReference}};
};

} // namespace playctrl

#endif
