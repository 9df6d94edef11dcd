#include "port/PortWorker.h"

#include "port/PortWait.h"

#include <chrono>

namespace playctrl {

namespace {
// An idle worker ends after this long without playing or commands.
constexpr auto kWorkerLinger = std::chrono::milliseconds(1000);

// The error a caller is given for what `work` threw; a request overtaken goes on up.
template <class Work> Error failureOf(Work &&work) {
    try {
        work();
    } catch (const Superseded &) {
        throw;
    } catch (...) {
        return currentError();
    }
    return kNoError;
}
} // namespace

void PortWorker::ensureRunningLocked() {
    if (running_) {
        return;
    }
    quit_ = false;
    std::shared_ptr<void> owner = host_.keepAlive();
    thread_.detach(); // one that is still ending goes on alone
    thread_.start(port_, [this, owner] { main(); });
    running_ = true;
}

void PortWorker::stop() {
    PortWait wait(port_);
    abortIo_ = true; // a read in progress gives up
    std::unique_lock<std::mutex> lock(mutex_);
    quit_ = true;
    wake_.notify_all();
    wake_.wait(lock, [this] { return !running_; });
    abortIo_ = false;
}

void PortWorker::run(std::function<void()> work) {
    if (onOwnThread()) {
        work(); // from inside the own display callback, for calls that show nothing
        return;
    }
    PortWait wait(port_);
    EngineError failure{kNoError};
    bool ran = false;
    std::function<void()> command = [&] {
        ran = true;
        failure.code = failureOf(work);
    };
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (closeRequested_) {
            throw EngineError{kOrderIncorrect};
        }
        ensureRunningLocked();
        command_ = std::move(command);
        commandDone_ = false;
        wake_.notify_all();
        wake_.wait(lock, [this] { return commandDone_ || !running_; });
        command_ = nullptr;
    }
    if (!ran) {
        throw EngineError{kOrderIncorrect};
    }
    if (failure.code != kNoError) {
        throw failure;
    }
}

void PortWorker::requestFrame(std::unique_lock<std::mutex> api, int number) {
    PortWait wait(port_);
    std::unique_lock<std::mutex> lock(mutex_);
    if (closeRequested_) {
        throw EngineError{kOrderIncorrect};
    }
    ensureRunningLocked();
    const uint64_t request = ++newestRequest_;
    requestedFrame_ = number;
    wake_.notify_all();
    // Newer requests may come in now; they overtake this one.
    api.unlock();
    wake_.wait(lock, [&] { return newestRequest_ != request || requestEnded_ == request; });
    if (requestEnded_ == request && requestFailure_ != kNoError) {
        throw EngineError{requestFailure_};
    }
}

void PortWorker::requestClose(bool release) {
    std::lock_guard<std::mutex> lock(mutex_);
    releaseRequested_ = releaseRequested_ || release;
    closeRequested_ = true;
    wake_.notify_all();
}

bool PortWorker::endCloseRequest() {
    std::lock_guard<std::mutex> lock(mutex_);
    const bool release = releaseRequested_;
    releaseRequested_ = false;
    closeRequested_ = false;
    return release;
}

void PortWorker::serveRequest(std::unique_lock<std::mutex> &lock) {
    const int number = requestedFrame_;
    const uint64_t request = newestRequest_;
    requestedFrame_ = -1;
    lock.unlock();
    Error failure = kNoError;
    bool overtaken = false;
    try {
        Positioner::Serving serving(positioner_, newestRequest_, request);
        failure = failureOf([&] { host_.showExact(number); });
    } catch (const Superseded &) {
        overtaken = true;
    }
    lock.lock();
    if (!overtaken) {
        requestEnded_ = request;
        requestFailure_ = failure;
    }
    wake_.notify_all();
}

void PortWorker::main() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        threadId_ = GetCurrentThreadId();
        loop(lock);
        // A request it leaves behind fails as a command would.
        if (requestedFrame_ >= 0) {
            requestedFrame_ = -1;
            requestEnded_ = newestRequest_;
            requestFailure_ = kOrderIncorrect;
        }
        threadId_ = 0;
        running_ = false;
        wake_.notify_all();
    }
    // A close asked for inside the display callback completes now, unless a host call on the
    // port has already done it.
    if (closeRequested_) {
        host_.completeDeferredClose();
    }
}

void PortWorker::loop(std::unique_lock<std::mutex> &lock) {
    auto busy = std::chrono::steady_clock::now();
    while (!quit_ && !closeRequested_) {
        if (requestedFrame_ >= 0) {
            serveRequest(lock);
            busy = std::chrono::steady_clock::now();
            continue;
        }
        if (command_ && !commandDone_) {
            std::function<void()> command = std::move(command_);
            command_ = nullptr;
            lock.unlock();
            command(); // catches everything itself
            lock.lock();
            commandDone_ = true;
            wake_.notify_all();
            busy = std::chrono::steady_clock::now();
            continue;
        }
        if (!host_.playingLocked()) {
            if (wake_.wait_until(lock, busy + kWorkerLinger) == std::cv_status::timeout &&
                !command_ && requestedFrame_ < 0 && !host_.playingLocked()) {
                return;
            }
            continue;
        }
        Error failure = kNoError;
        try {
            host_.playStep(lock);
        } catch (...) {
            failure = currentError();
        }
        // A frame that cannot be shown stops playback rather than the host process.
        if (failure != kNoError) {
            if (!lock.owns_lock()) {
                lock.lock();
            }
            host_.failLocked(failure);
        }
        busy = std::chrono::steady_clock::now();
    }
}

} // namespace playctrl
