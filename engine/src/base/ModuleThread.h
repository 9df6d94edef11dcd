// A thread of the engine that keeps PlayCtrl.dll loaded while it runs: it holds its own module
// reference and ends with FreeLibraryAndExitThread, so a host's FreeLibrary never unmaps code
// that is still running, and the module unloads once the last such thread has gone.
//
// join() waits for the thread's work to finish, not for the thread itself to end: the end of a
// thread needs the loader lock, and join() must never wait for that.
#ifndef KESTRAVA_PLAYCTRL_MODULETHREAD_H
#define KESTRAVA_PLAYCTRL_MODULETHREAD_H

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace playctrl {

// The engine's ports, numbered from 0; each engine thread works for one of them.
constexpr LONG kPortCount = 32;

class ModuleThread {
  public:
    ModuleThread() = default;
    ModuleThread(const ModuleThread &) = delete;
    ModuleThread &operator=(const ModuleThread &) = delete;
    // Waits for a running body.
    ~ModuleThread() { join(); }

    // Runs `body` on a new thread that works for `port`. Throws EngineError{kCreateThread}, or
    // std::bad_alloc. An exception leaving `body` ends it.
    void start(LONG port, std::function<void()> body);
    // Waits until the body has returned; at once when none was started or it is the caller.
    void join();
    // Lets a running body go on alone: nobody will join it.
    void detach() { state_.reset(); }
    // A started body that has not been joined (it may have returned already).
    bool joinable() const { return state_ != nullptr; }
    // Whether the caller is this thread.
    bool isCurrent() const;
    // True while the body runs.
    bool running() const;

    // The port the calling engine thread works for; -1 on any other thread.
    static LONG currentPort();

  private:
    struct State {
        std::function<void()> body;
        HMODULE module = nullptr;
        LONG port = -1;
        std::atomic<DWORD> id{0};
        std::mutex mutex;
        // -- protected by mutex
        std::condition_variable doneChanged;
        bool done = false;
    };
    static DWORD WINAPI entry(void *state);

    std::shared_ptr<State> state_;
};

} // namespace playctrl

#endif
