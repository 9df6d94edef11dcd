// One port of the engine, as the host's calls reach it: the API lock, the open file's lifetime,
// and handing each call to the worker. Its rooms are classes of their own: the worker thread
// and its mailbox (PortWorker), the worker's side of the transport (Transport) with playback in
// time with the clock (PlaybackPacer), the clock (PresentationClock), the cache of decoded
// frames, positioning (Positioner) and the file's times (FrameTimes). The host's positioning
// calls and queries are in PortPositioning.cpp.
//
// Host calls arrive on any thread; everything that touches the decoder or the frames runs on
// the worker.
#ifndef KESTRAVA_PLAYCTRL_PORT_H
#define KESTRAVA_PLAYCTRL_PORT_H

#include "audio/AudioOut.h"
#include "base/Errors.h"
#include "demux/FrameIndex.h"
#include "port/FrameTimes.h"
#include "port/LastError.h"
#include "port/PortWorker.h"
#include "port/PresentationClock.h"
#include "port/Transport.h"
#include "video/FrameCache.h"
#include "video/Positioner.h"
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

class Port : public std::enable_shared_from_this<Port>, private PortWorker::Host {
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

    // PortWorker::Host: worker-only.
    std::shared_ptr<void> keepAlive() override { return shared_from_this(); }
    bool playingLocked() const override { return transport_.playingLocked(); }
    void playStep(std::unique_lock<std::mutex> &lock) override { transport_.step(lock); }
    void failLocked(Error code) override { transport_.failLocked(code); }
    void showExact(int number) override { transport_.showExact(number); }
    void completeDeferredClose() override;
    // A growing file: the index takes in what was appended before a host's positioning call
    // that reaches `frame` checks its range.
    void followGrowthFor(int frame);

    const LONG port_;
    LastError &errors_;
    const std::function<void(const Port *)> released_;
    std::atomic<bool> open_{false};

    // The port's locks, each taken only after those above it: apiMutex_, the display
    // callback's (display_), fileMutex_, mutex_, then the clock's own or the sound's (AudioOut.h;
    // its thread takes no lock of the port). The worker holds the display callback's lock for
    // the whole of a callback and never holds mutex_ while calling out. The engine's own threads
    // never block on a lock held by a thread that waits for them: see enterApi and PortWait.
    std::mutex apiMutex_; // serialises the host's calls on this port
    DisplayTarget display_;
    // Keeps the file's index and stream for queries, which take no apiMutex_; held while the
    // file changes.
    std::mutex fileMutex_;
    std::mutex mutex_; // the port's state below and the transport's, and the worker's mailbox
    std::condition_variable wake_;

    // -- protected by mutex_
    FileRefCallBack fileRefCallback_ = nullptr;
    DWORD_PTR fileRefUser_ = 0;

    // -- without a lock
    std::atomic<bool> skipNonReference_{false};
    std::atomic<WORD> volume_{0xFFFF};
    std::atomic<bool> soundDecodable_{true}; // of the open file: see soundDecodable
    std::atomic<bool> soundPresent_{false};  // the open file has a sound track to prime
    std::atomic<bool> abortIo_{false};

    PresentationClock clock_;

    // Worker-only (or touched by the API thread only while no worker runs).
    VideoDecoder decoder_;
    FrameIndex index_;
    FrameTimes times_{index_, decoder_};
    AudioOut audio_;
    FrameCache cache_;
    Positioner positioner_{decoder_, index_, cache_};
    PortWorker worker_{port_, *this, mutex_, wake_, abortIo_, positioner_};
    Transport transport_{{port_, mutex_, wake_, fileMutex_, display_, errors_, worker_, decoder_,
                          index_, cache_, positioner_, clock_, audio_, skipNonReference_}};
};

} // namespace playctrl

#endif
