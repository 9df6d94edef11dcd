// One port of the engine: the open file, the transport, and the worker thread that decodes and
// shows frames. The clock, the cache of decoded frames and positioning are classes of their own.
//
// Threads: API calls arrive on any thread and are serialised by apiMutex_; everything that
// touches the decoder or the frames runs on the worker, handed over as a command. Positioning
// is a request instead, posted under apiMutex_ and awaited without it: the newest replaces one
// not yet started and stops one in progress, whose callers return at once. The worker
// runs only while there is something to do: it ends after a while without playing or commands
// and starts again on demand, so an idle port holds no thread (and no reference to the module).
// Queries do not take apiMutex_: fileMutex_ keeps the file's index and stream while they read.
// Playback keeps to the clock: a frame that comes too late is skipped, not shown (playStep).
// Lock order: apiMutex_, then callbackMutex_, then fileMutex_, then mutex_, then the clock's.
// The worker holds callbackMutex_ for the whole of a display callback and never holds mutex_
// while calling out. The engine's own threads never block on a lock held by a thread that waits
// for them: see enterApi and PortWait.
#ifndef KESTRAVA_PLAYCTRL_PORT_H
#define KESTRAVA_PLAYCTRL_PORT_H

#include "AudioOut.h"
#include "ModuleThread.h"
#include "Errors.h"
#include "FrameCache.h"
#include "FrameIndex.h"
#include "Positioner.h"
#include "PresentationClock.h"
#include "Presenter.h"
#include "VideoDecoder.h"

#include "PlayM4.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace playctrl {

// Pixel-format code handed to the display callback: planar YUV 4:2:0 (Y, then U, then V).
constexpr LONG kPixelFormatYuv420 = 3;

class Port : public std::enable_shared_from_this<Port> {
  public:
    explicit Port(LONG port);
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

    std::vector<uint8_t> snapshot(bool jpeg);

    // Media time of the presentation clock, for the sound thread.
    int64_t clockMs();
    bool clockRunsAtNormalSpeed();

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
    bool onOwnWorker() const { return GetCurrentThreadId() == workerThread_.load(); }
    // Calls that would show a frame cannot run inside the port's own display callback.
    void refuseOnOwnWorker() const;
    void requireOpen() const;
    // Holds the file's index and stream for a query; throws when no file is open.
    std::unique_lock<std::mutex> readFile();
    void runOnWorker(std::function<void()> work);
    // Shows frame `number` as the newest positioning request; releases `api` while it waits.
    void requestFrame(std::unique_lock<std::mutex> api, int number);
    void serveRequest(std::unique_lock<std::mutex> &lock);
    void ensureWorkerLocked();
    void stopWorker();
    void workerMain();
    void workerLoop(std::unique_lock<std::mutex> &lock);
    // Closes the file once the worker has stopped; apiMutex_ held.
    void teardown();
    void requestClose(bool release);
    // Finishes a close asked for inside the display callback; apiMutex_ held.
    void completeDeferred();
    void playStep(std::unique_lock<std::mutex> &lock);
    void failLocked(Error code);

    // Worker-only helpers.
    DecodedFrame obtain(int number);
    DecodedFrame obtainBackward(int number);
    void present(DecodedFrame frame);
    void showExact(int number);
    int nextToShow() const;
    // Playback goes on after the frames it skipped as well.
    int nextToPlay() const;
    bool tooLate(const DecodedFrame &frame);
    DecodedFrame decodeToPlay(int number);
    int frameAtMs(int64_t ms);
    int64_t durationMs();
    // A file still being written: the index takes in what was appended. Worker-only.
    void followGrowth();
    // The same from a host's positioning call that reaches `frame`, before it checks its range.
    void followGrowthFor(int frame);

    const LONG port_;
    std::mutex apiMutex_; // serialises the host's calls on this port
    std::atomic<bool> open_{false};
    std::mutex fileMutex_; // held by queries, and while the file changes

    std::recursive_mutex callbackMutex_; // guards displayCallback_, held during each call
    DisplayCallBack displayCallback_ = nullptr;

    std::mutex mutex_; // guards everything below up to the clock
    std::condition_variable wake_;
    std::function<void()> command_;
    bool commandDone_ = false;
    int requestedFrame_ = -1;                // the positioning request not yet started, or -1
    uint64_t requestEnded_ = 0;              // the newest request shown or failed
    Error requestFailure_ = kNoError;        // how requestEnded_ ended
    std::atomic<uint64_t> newestRequest_{0}; // changed under mutex_, read by the Positioner
    bool quit_ = false;
    bool workerRunning_ = false; // the worker is in its loop; it may go on to end afterwards
    bool releaseRequested_ = false;
    Mode mode_ = Mode::Stopped;
    HWND endWindow_ = nullptr;
    UINT endMessage_ = 0;
    FileRefCallBack fileRefCallback_ = nullptr;
    DWORD_PTR fileRefUser_ = 0;

    std::atomic<int> currentNumber_{0};
    std::atomic<int64_t> currentMs_{0};
    std::atomic<LONG> width_{0}, height_{0};
    std::atomic<bool> skipNonReference_{false};
    std::atomic<WORD> volume_{0xFFFF};
    std::atomic<bool> abortIo_{false};
    std::atomic<bool> closeRequested_{false}; // from inside the display callback
    std::atomic<DWORD> workerThread_{0};      // the worker's id while it is in its loop

    PresentationClock clock_; // its own leaf lock: taken after mutex_ where both are

    // Worker-only (or touched by the API thread only while no worker runs).
    std::string utf8Path_;
    VideoDecoder decoder_;
    FrameIndex index_;
    Presenter presenter_;
    AudioOut audio_;
    HWND window_ = nullptr;
    DecodedFrame current_; // frame on screen (or the first frame before anything is shown)
    DecodedFrame pending_; // decoded, not yet shown
    bool shown_ = false;
    int skippedThrough_ = -1; // the last frame playback skipped since one was shown
    std::chrono::steady_clock::time_point shownAt_; // when the last frame was shown
    bool endPosted_ = false;
    FrameCache cache_;
    Positioner positioner_{decoder_, index_, cache_};
    ModuleThread worker_;
};

} // namespace playctrl

#endif
