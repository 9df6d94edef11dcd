// The worker thread of a port and its mailbox. Everything that touches the decoder or the frames
// runs on the worker, handed over as a command. Positioning is a request instead, posted under
// the API lock and awaited without it: the newest replaces one not yet started and stops one in
// progress, whose callers return at once. The worker runs only while there is something to do:
// it ends after a while without playing or commands and starts again on demand, so an idle port
// holds no thread (and no reference to the module).
//
// The mailbox is guarded by the port's state lock (Port::mutex_), passed in with its condition.
#ifndef KESTRAVA_PLAYCTRL_PORTWORKER_H
#define KESTRAVA_PLAYCTRL_PORTWORKER_H

#include "base/Errors.h"
#include "base/ModuleThread.h"
#include "video/Positioner.h"

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace playctrl {

class PortWorker {
  public:
    // What the worker does for its port.
    class Host {
      public:
        // The owner, kept alive while the thread runs.
        virtual std::shared_ptr<void> keepAlive() = 0;
        // Whether playback runs; the state lock is held.
        virtual bool playingLocked() const = 0;
        // One round of playback; may release the state lock. Throws what stops playback.
        virtual void playStep(std::unique_lock<std::mutex> &lock) = 0;
        // Playback stopped on `code`; the state lock is held.
        virtual void failLocked(Error code) = 0;
        // Shows frame `number` for a positioning request.
        virtual void showExact(int number) = 0;
        // Completes a close asked for inside the display callback, once the worker has left
        // its loop.
        virtual void completeDeferredClose() = 0;

      protected:
        ~Host() = default;
    };

    PortWorker(LONG port, Host &host, std::mutex &mutex, std::condition_variable &wake,
               std::atomic<bool> &abortIo, Positioner &positioner)
        : port_(port), host_(host), mutex_(mutex), wake_(wake), abortIo_(abortIo),
          positioner_(positioner) {}

    bool onOwnThread() const { return GetCurrentThreadId() == threadId_.load(); }
    // Runs `work` on the worker and waits for it; rethrows the EngineError it ended with.
    void run(std::function<void()> work);
    // Shows frame `number` as the newest positioning request; releases `api` while it waits.
    void requestFrame(std::unique_lock<std::mutex> api, int number);
    // Makes the worker leave its loop and waits for that.
    void stop();
    // Forgets a command no worker took; the state lock is held.
    void dropCommandLocked() { command_ = nullptr; }
    // Lets a worker still ending go on alone.
    void detach() { thread_.detach(); }

    // A close asked for inside the display callback, to complete once the worker is out.
    void requestClose(bool release);
    bool closeRequested() const { return closeRequested_; }
    // Clears the request; whether it was for releasing the port.
    bool endCloseRequest();

  private:
    void ensureRunningLocked();
    void serveRequest(std::unique_lock<std::mutex> &lock);
    void main();
    void loop(std::unique_lock<std::mutex> &lock);

    const LONG port_;
    Host &host_;
    std::mutex &mutex_;
    std::condition_variable &wake_;
    std::atomic<bool> &abortIo_;
    Positioner &positioner_;

    std::function<void()> command_;
    bool commandDone_ = false;
    int requestedFrame_ = -1;                // the positioning request not yet started, or -1
    uint64_t requestEnded_ = 0;              // the newest request shown or failed
    Error requestFailure_ = kNoError;        // how requestEnded_ ended
    std::atomic<uint64_t> newestRequest_{0}; // changed under the lock, read by the Positioner
    bool quit_ = false;
    bool running_ = false; // the worker is in its loop; it may go on to end afterwards
    bool releaseRequested_ = false;
    std::atomic<bool> closeRequested_{false}; // from inside the display callback
    std::atomic<DWORD> threadId_{0};          // the worker's id while it is in its loop
    ModuleThread thread_;
};

} // namespace playctrl

#endif
