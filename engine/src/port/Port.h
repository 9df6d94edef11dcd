// One port of the engine: the open file and the transport, behind the host's calls. Its rooms
// are classes of their own: the worker thread and its mailbox (PortWorker), playback in time
// with the clock (PlaybackPacer), the clock (PresentationClock), the cache of decoded frames,
// positioning (Positioner) and the file's times (FrameTimes). The host's positioning calls and
// queries are in PortPositioning.cpp.
//
// Host calls arrive on any thread; everything that touches the decoder or the frames runs on
// the worker.
#ifndef KESTRAVA_PLAYCTRL_PORT_H
#define KESTRAVA_PLAYCTRL_PORT_H

#include "audio/AudioOut.h"
#include "base/Errors.h"
#include "video/FrameCache.h"
#include "demux/FrameIndex.h"
#include "port/FrameTimes.h"
#include "port/LastError.h"
#include "port/PlaybackPacer.h"
#include "port/PortWorker.h"
#include "video/Positioner.h"
#include "port/PresentationClock.h"
#include "video/Presenter.h"
#include "video/VideoDecoder.h"

#include "PlayM4.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace playctrl {

// Pixel-format code handed to the display callback: planar YUV 4:2:0 (Y, then U, then V).
constexpr LONG kPixelFormatYuv420 = 3;

class Port : public std::enable_shared_from_this<Port>,
             private PortWorker::Host,
             private PlaybackPacer::Host {
  public:
    // `errors` are the port's last error codes; `released` is told when a release deferred
    // to the worker has completed. The table that holds the port passes both, so the port
    // never reaches up to it.
    Port(LONG port, LastError &errors, std::function<void(const Port *)> released);
    ~Port();
    Port(const Port &) = delete;
    Port &operator=(const Port &) = delete;

    // Settings that hold with or without an open file.
    void setFileEndMessage(HWND window, UINT message);
    void setFileRefCallback(FileRefCallBack callback, DWORD_PTR user);
    void setDisplayCallback(DisplayCallBack callback);

    void open(const char *path);
    void close();
    // Closes the file for FreePort: true once done, false when that completes later (called
    // from inside the port's own display callback).
    bool release();

    void play(HWND window);
    void pause(bool pause);
    void stop();
    void refresh();
    void faster();
    void slower();
    void throwBFrames(DWORD count);

    void playSound();
    void stopSound();
    void setVolume(WORD volume);
    WORD volume() const { return volume_.load(); }

    void setPlayPos(float position);
    float playPos();
    DWORD fileTimeMs();
    DWORD playedTimeMs();
    void setPlayedTimeMs(DWORD ms);
    DWORD totalFrames();
    DWORD currentFrame();
    void setCurrentFrame(DWORD frame);
    void pictureSize(LONG *width, LONG *height);

    void stepForward();
    void stepBack();
    FramePosition keyFramePos(DWORD value, DWORD type, bool after);

    // The picture now shown as a file; `needed` is its size. A BMP larger than `room` is not
    // made: the result is then empty.
    std::vector<uint8_t> snapshot(bool jpeg, size_t room, size_t &needed);

  private:
    // Back to the start of the file, as after Stop; mutex_ held.
    void rewindLocked();
    // Failed: playback met a frame it could not decode and stands where it was.
    enum class Mode { Stopped, Playing, Paused, Holding, Ended, Failed };
    // The clock runs in Playing only; mutex_ held.
    void setModeLocked(Mode mode);
    void changeSpeed(bool (PresentationClock::*step)(int64_t));

    std::unique_lock<std::mutex> enterApi();
    // Takes a lock of this port as the calling thread may: see enterApi.
    template <class Mutex> std::unique_lock<Mutex> lockAsCaller(Mutex &mutex);
    bool onOwnWorker() const { return worker_.onOwnThread(); }
    // Calls that would show a frame cannot run inside the port's own display callback.
    void refuseOnOwnWorker() const;
    void requireOpen() const;
    // Holds the file's index and stream for a query; throws when no file is open.
    std::unique_lock<std::mutex> readFile();
    // Closes the file once the worker has stopped; apiMutex_ held.
    void teardown();
    void requestClose(bool release);
    // Finishes a close asked for inside the display callback; apiMutex_ held.
    void completeDeferred();

    // PortWorker::Host and PlaybackPacer::Host: worker-only.
    std::shared_ptr<void> keepAlive() override { return shared_from_this(); }
    bool playingLocked() const override { return mode_ == Mode::Playing; }
    void playStep(std::unique_lock<std::mutex> &lock) override { pacer_.step(lock); }
    void failLocked(Error code) override;
    void showExact(int number) override;
    void completeDeferredClose() override;
    void present(DecodedFrame frame) override;
    void reachedEndLocked() override;
    // A file still being written: the index takes in what was appended.
    void followGrowth() override;
    // The same from a host's positioning call that reaches `frame`, before it checks its range.
    void followGrowthFor(int frame);
    void keepToSoundLocked(int64_t nextMs) override;
    // Where the sound of media time `ms` is found: a key picture's byte position a while
    // before, or -1 to seek by time.
    int64_t soundSeekPos(int64_t ms);
    std::shared_ptr<const SoundPlacement> soundPlacement();

    const LONG port_;
    LastError &errors_;
    const std::function<void(const Port *)> released_;
    std::atomic<bool> open_{false};

    // The port's locks, each taken only after those above it: apiMutex_, callbackMutex_,
    // fileMutex_, mutex_, then the clock's own or the sound's (AudioOut.h; its thread takes no
    // lock of the port). The worker holds callbackMutex_ for the whole of
    // a display callback and never holds mutex_ while calling out. The engine's own threads
    // never block on a lock held by a thread that waits for them: see enterApi and PortWait.
    std::mutex apiMutex_;                // serialises the host's calls on this port
    std::recursive_mutex callbackMutex_; // held during each display callback
    // Keeps the file's index and stream for queries, which take no apiMutex_; held while the
    // file changes.
    std::mutex fileMutex_;
    std::mutex mutex_; // the port's state below, and the worker's mailbox
    std::condition_variable wake_;

    // -- protected by callbackMutex_
    DisplayCallBack displayCallback_ = nullptr;

    // -- protected by mutex_
    Mode mode_ = Mode::Stopped;
    HWND endWindow_ = nullptr;
    UINT endMessage_ = 0;
    FileRefCallBack fileRefCallback_ = nullptr;
    DWORD_PTR fileRefUser_ = 0;
    bool soundCue_ = false;   // playback (re)started: the sound is to start there
    bool soundPrime_ = false; // by Play: the sound thread starts even while the sound is off

    // -- without a lock
    std::atomic<LONG> width_{0}, height_{0};
    std::atomic<bool> skipNonReference_{false};
    std::atomic<WORD> volume_{0xFFFF};
    std::atomic<bool> soundDecodable_{true}; // of the open file: see soundDecodable
    std::atomic<bool> soundPresent_{false};  // the open file has a sound track to prime
    std::atomic<bool> abortIo_{false};

    PresentationClock clock_;

    // Worker-only (or touched by the API thread only while no worker runs).
    std::string utf8Path_;
    VideoDecoder decoder_;
    FrameIndex index_;
    FrameTimes times_{index_, decoder_};
    Presenter presenter_;
    AudioOut audio_;
    HWND window_ = nullptr;
    Playhead playhead_;
    bool endPosted_ = false;
    FrameCache cache_;
    Positioner positioner_{decoder_, index_, cache_};
    PlaybackPacer pacer_{
        *this,
        {playhead_, decoder_, index_, positioner_, clock_, audio_, wake_, skipNonReference_}};
    PortWorker worker_{port_, *this, mutex_, wake_, abortIo_, positioner_};
};

} // namespace playctrl

#endif
