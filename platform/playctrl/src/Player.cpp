#include "Player.h"

#include "MediaInput.h"
#include "PortTable.h"
#include "Snapshot.h"

#include <algorithm>

namespace playctrl {

Player::Player(LONG port) : port_(port) {}

Player::~Player() {
    try {
        if (open_)
            close();
    } catch (...) {
    }
    // Only reachable if the last reference went away on the worker itself.
    if (worker_.joinable())
        worker_.detach();
}

std::unique_lock<std::mutex> Player::enterApi() {
    // The engine's own threads may not drive the port from inside a callback: the call
    // would wait for the very thread that is making it.
    if (std::this_thread::get_id() == workerId_)
        throw EngineError{kOrderIncorrect};
    return std::unique_lock<std::mutex>(apiMutex_);
}

void Player::requireOpen() const {
    if (!open_)
        throw EngineError{kOrderIncorrect};
}

void Player::setFileEndMessage(HWND window, UINT message) {
    std::lock_guard<std::mutex> lock(mutex_);
    endWindow_ = window;
    endMessage_ = message;
}

void Player::setFileRefCallback(FileRefCallBack callback, DWORD user) {
    std::lock_guard<std::mutex> lock(mutex_);
    fileRefCallback_ = callback;
    fileRefUser_ = user;
}

void Player::setDisplayCallback(DisplayCallBack callback) {
    // Taking the lock waits for a callback in progress; none starts after we set null.
    std::lock_guard<std::recursive_mutex> lock(callbackMutex_);
    displayCallback_ = callback;
}

void Player::open(const char *path) {
    auto api = enterApi();
    if (!path || !*path)
        throw EngineError{kParameterInvalid};
    if (open_) {
        api.unlock();
        close();
        api.lock();
    }
    utf8Path_ = ansiToUtf8(path);
    abortIo_ = false;
    try {
        decoder_.open(utf8Path_, &abortIo_);
        DecodedFrame first = decoder_.next(nullptr);
        if (!first)
            throw EngineError{kNoKeyFrame};
        first.number = 0;
        first.ms = 0;
        width_ = first.frame->width;
        height_ = first.frame->height;
        cache_.open(FrameCache::bytesOf(first.frame.get()));
        current_ = first.clone();
        pending_ = std::move(first);
    } catch (...) {
        cache_.close();
        decoder_.close();
        current_ = {};
        pending_ = {};
        throw;
    }
    shown_ = false;
    endPosted_ = false;
    cache_.clear();
    currentNumber_ = 0;
    currentMs_ = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = false;
        command_ = nullptr;
        mode_ = Mode::Stopped;
        clock_.reset();
    }
    skipNonReference_ = false;
    index_.start(port_, utf8Path_, decoder_.streamIndex(), [this] {
        FileRefCallBack callback;
        DWORD user;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            callback = fileRefCallback_;
            user = fileRefUser_;
        }
        if (callback)
            callback(static_cast<DWORD>(port_), user);
    });
    worker_ = std::thread(&Player::workerLoop, this);
    workerId_ = worker_.get_id();
    open_ = true;
}

void Player::close() {
    auto api = enterApi();
    if (!open_ && !worker_.joinable())
        throw EngineError{kOrderIncorrect};
    if (index_.isBuilderThread())
        throw EngineError{kOrderIncorrect};
    abortIo_ = true;
    audio_.stop();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable())
        worker_.join();
    workerId_ = std::thread::id();
    index_.stop();
    current_ = {};
    pending_ = {};
    cache_.close();
    decoder_.close();
    open_ = false;
    currentNumber_ = 0;
    currentMs_ = 0;
    width_ = 0;
    height_ = 0;
}

bool Player::release() {
    if (open_)
        close();
    return true;
}

void Player::runOnWorker(std::function<void()> work) {
    EngineError failure{kNoError};
    bool unexpected = false;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        command_ = [&] {
            try {
                work();
            } catch (const EngineError &e) {
                failure = e;
            } catch (...) {
                unexpected = true;
            }
        };
        commandDone_ = false;
        wake_.notify_all();
        wake_.wait(lock, [this] { return commandDone_ || quit_; });
        command_ = nullptr;
    }
    if (unexpected)
        throw EngineError{kAllocMemory};
    if (failure.code != kNoError)
        throw failure;
}

void Player::workerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        if (command_ && !commandDone_) {
            auto command = command_;
            lock.unlock();
            command();
            lock.lock();
            commandDone_ = true;
            wake_.notify_all();
            continue;
        }
        if (mode_ != Mode::Playing) {
            wake_.wait(lock);
            continue;
        }
        Error failure = kNoError;
        try {
            playStep(lock);
        } catch (const EngineError &e) {
            failure = e.code;
        } catch (const std::bad_alloc &) {
            failure = kAllocMemory;
        } catch (...) {
            failure = kDecodeVideo;
        }
        // A frame that cannot be shown stops playback rather than the host process.
        if (failure != kNoError) {
            if (!lock.owns_lock())
                lock.lock();
            failLocked(failure);
        }
    }
    // Release a caller still waiting for a command.
    commandDone_ = true;
    wake_.notify_all();
}

// One round of playback: make sure the next frame is decoded, wait for its time, show it.
void Player::playStep(std::unique_lock<std::mutex> &lock) {
    int want = nextToShow();
    // Skipped non-reference frames leave gaps, so a later frame than wanted is fine.
    if (!pending_ || pending_.number < want) {
        lock.unlock();
        bool skip = skipNonReference_;
        decoder_.setSkipNonReference(skip);
        DecodedFrame next = obtain(want);
        lock.lock();
        if (!next) {
            setModeLocked(Mode::Ended);
            if (!endPosted_ && endWindow_)
                PostMessage(endWindow_, endMessage_, 0, 0);
            endPosted_ = true;
            return;
        }
        pending_ = std::move(next);
        return; // look at commands before waiting for the frame's time
    }
    auto due = clock_.due(pending_.ms);
    if (std::chrono::steady_clock::now() < due) {
        wake_.wait_until(lock, due);
        return;
    }
    DecodedFrame frame = std::move(pending_);
    lock.unlock();
    present(std::move(frame));
    lock.lock();
}

int Player::nextToShow() const {
    return shown_ ? currentNumber_.load() + 1 : currentNumber_.load();
}

DecodedFrame Player::obtain(int number) {
    if (DecodedFrame hit = cache_.find(number))
        return hit;
    if (pending_ && pending_.number == number)
        return std::move(pending_);
    pending_ = {};
    return positioner_.forwardTo(number);
}

DecodedFrame Player::obtainBackward(int number) {
    if (DecodedFrame hit = cache_.find(number))
        return hit;
    pending_ = {};
    return positioner_.backTo(number);
}

void Player::present(DecodedFrame frame) {
    cache_.remember(frame);
    current_ = std::move(frame);
    shown_ = true;
    currentNumber_ = current_.number;
    currentMs_ = current_.ms;
    presenter_.draw(window_, current_.frame.get());
    std::lock_guard<std::recursive_mutex> lock(callbackMutex_);
    if (displayCallback_) {
        const AVFrame *f = current_.frame.get();
        const std::vector<uint8_t> &yuv = presenter_.yuv420(f);
        if (!yuv.empty())
            displayCallback_(port_, reinterpret_cast<char *>(const_cast<uint8_t *>(yuv.data())),
                             static_cast<LONG>(yuv.size()), f->width, f->height,
                             static_cast<LONG>(current_.ms), kPixelFormatYuv420, current_.number);
    }
}

// Stops playback where it stands and tells the host why; never the end of the file.
void Player::failLocked(Error code) {
    setModeLocked(Mode::Failed);
    setLastError(port_, code);
}

void Player::setModeLocked(Mode mode) {
    mode_ = mode;
    if (mode == Mode::Playing)
        clock_.run();
    else
        clock_.hold();
}

// Shows exactly frame `number` and keeps the transport: playing goes on from there.
void Player::showExact(int number) {
    decoder_.setSkipNonReference(false); // the frame asked for may be one playback skips
    DecodedFrame frame = obtain(number);
    if (!frame)
        throw EngineError{kParameterInvalid};
    present(std::move(frame));
    std::lock_guard<std::mutex> lock(mutex_);
    endPosted_ = false;
    if (mode_ == Mode::Stopped || mode_ == Mode::Ended || mode_ == Mode::Failed)
        setModeLocked(Mode::Holding);
    clock_.rebase(currentMs_);
}

void Player::play(HWND window) {
    auto api = enterApi();
    requireOpen();
    runOnWorker([&] {
        window_ = window;
        std::lock_guard<std::mutex> lock(mutex_);
        switch (mode_) {
        case Mode::Playing:
            return;
        case Mode::Paused:
        case Mode::Failed:
            clock_.resyncAtNextFrame();
            break;
        case Mode::Stopped:
        case Mode::Ended:
            rewindLocked();
            clock_.normalSpeed();
            break;
        case Mode::Holding:
            clock_.normalSpeed();
            clock_.resyncAtNextFrame();
            break;
        }
        setModeLocked(Mode::Playing);
    });
    wake_.notify_all();
}

void Player::pause(bool pausing) {
    auto api = enterApi();
    requireOpen();
    // On the worker, between two frames: once paused, no further frame is shown.
    runOnWorker([&] {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pausing && mode_ == Mode::Playing) {
            setModeLocked(Mode::Paused);
        } else if (!pausing && mode_ == Mode::Paused) {
            setModeLocked(Mode::Playing);
            clock_.resyncAtNextFrame();
        }
    });
}

void Player::stop() {
    auto api = enterApi();
    requireOpen();
    runOnWorker([&] {
        std::lock_guard<std::mutex> lock(mutex_);
        setModeLocked(Mode::Stopped);
        rewindLocked();
    });
}

void Player::rewindLocked() {
    if (pending_ && pending_.number != 0)
        pending_ = {};
    shown_ = false;
    currentNumber_ = 0;
    currentMs_ = 0;
    endPosted_ = false;
    clock_.resyncAtNextFrame();
}

void Player::refresh() {
    auto api = enterApi();
    requireOpen();
    runOnWorker([&] {
        if (current_)
            presenter_.draw(window_, current_.frame.get());
    });
}

void Player::faster() {
    changeSpeed(&PresentationClock::faster);
}

void Player::slower() {
    changeSpeed(&PresentationClock::slower);
}

void Player::changeSpeed(bool (PresentationClock::*step)(int64_t)) {
    auto api = enterApi();
    requireOpen();
    bool stepped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stepped = (clock_.*step)(currentMs_);
    }
    if (!stepped)
        throw EngineError{kOrderIncorrect};
    wake_.notify_all();
}

void Player::throwBFrames(DWORD count) {
    auto api = enterApi();
    requireOpen();
    skipNonReference_ = count > 0;
}

int64_t Player::clockMs() {
    return clock_.now(currentMs_);
}

bool Player::clockRunsAtNormalSpeed() {
    return clock_.runsAtNormalSpeed();
}

void Player::playSound() {
    auto api = enterApi();
    requireOpen();
    audio_.start(
        port_, utf8Path_, volume_, [this] { return clockMs(); },
        [this] { return clockRunsAtNormalSpeed(); });
}

void Player::stopSound() {
    audio_.stop();
}

void Player::setVolume(WORD volume) {
    volume_ = volume;
    audio_.setVolume(volume);
}

int64_t Player::durationMs() {
    index_.waitReady();
    if (index_.count() == 0)
        return 0;
    int64_t last = index_.at(index_.count() - 1).pts;
    if (index_.frameTicks() > 0)
        return decoder_.toMs(last + index_.frameTicks(), index_.firstPts());
    return decoder_.toMs(last, index_.firstPts()) + decoder_.frameDurationMs();
}

int Player::frameAtMs(int64_t ms) {
    index_.waitReady();
    int frame = index_.lastFrameAtOrBefore(decoder_.fromMs(ms, index_.firstPts()));
    return std::max(frame, 0);
}

void Player::setPlayPos(float position) {
    auto api = enterApi();
    requireOpen();
    if (!(position >= 0.0f && position <= 1.0f))
        throw EngineError{kParameterInvalid};
    int64_t ms = static_cast<int64_t>(static_cast<double>(position) * durationMs());
    int frame = std::min(frameAtMs(ms), index_.count() - 1);
    runOnWorker([&] { showExact(frame); });
}

float Player::playPos() {
    requireOpen();
    int64_t total = durationMs();
    if (total <= 0)
        return 0.0f;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (mode_ == Mode::Ended)
            return 1.0f;
    }
    double pos = static_cast<double>(currentMs_) / static_cast<double>(total);
    return static_cast<float>(std::min(1.0, std::max(0.0, pos)));
}

DWORD Player::fileTimeMs() {
    requireOpen();
    return static_cast<DWORD>(durationMs());
}

DWORD Player::playedTimeMs() {
    requireOpen();
    return static_cast<DWORD>(std::max<int64_t>(0, currentMs_));
}

void Player::setPlayedTimeMs(DWORD ms) {
    auto api = enterApi();
    requireOpen();
    if (static_cast<int64_t>(ms) >= durationMs())
        throw EngineError{kParameterInvalid};
    int frame = frameAtMs(ms);
    runOnWorker([&] { showExact(frame); });
}

DWORD Player::totalFrames() {
    requireOpen();
    index_.waitReady();
    return static_cast<DWORD>(index_.count());
}

DWORD Player::currentFrame() {
    requireOpen();
    return static_cast<DWORD>(currentNumber_.load());
}

void Player::setCurrentFrame(DWORD frame) {
    auto api = enterApi();
    requireOpen();
    index_.waitReady();
    if (frame >= static_cast<DWORD>(index_.count()))
        throw EngineError{kParameterInvalid};
    runOnWorker([&] { showExact(static_cast<int>(frame)); });
}

void Player::pictureSize(LONG *width, LONG *height) {
    requireOpen();
    *width = width_;
    *height = height_;
}

void Player::stepForward() {
    auto api = enterApi();
    requireOpen();
    runOnWorker([&] {
        decoder_.setSkipNonReference(false);
        DecodedFrame frame = obtain(nextToShow());
        if (!frame)
            throw EngineError{kOrderIncorrect};
        present(std::move(frame));
        std::lock_guard<std::mutex> lock(mutex_);
        setModeLocked(Mode::Holding);
    });
}

void Player::stepBack() {
    auto api = enterApi();
    requireOpen();
    runOnWorker([&] {
        if (!shown_ || currentNumber_ <= 0)
            throw EngineError{kOrderIncorrect};
        decoder_.setSkipNonReference(false);
        DecodedFrame frame = obtainBackward(currentNumber_ - 1);
        if (!frame)
            throw EngineError{kDecodeVideo};
        pending_ = {};
        present(std::move(frame));
        std::lock_guard<std::mutex> lock(mutex_);
        setModeLocked(Mode::Holding);
        endPosted_ = false;
    });
}

FramePosition Player::keyFramePos(DWORD value, DWORD type, bool after) {
    requireOpen();
    index_.waitReady();
    int frame;
    if (type == 1)
        frame = static_cast<int>(std::min<DWORD>(value, 0x7FFFFFFF));
    else if (type == 2)
        frame = frameAtMs(value);
    else
        throw EngineError{kParameterInvalid};
    if (frame >= index_.count())
        throw EngineError{kParameterInvalid};
    int key = after ? index_.keyAfter(frame) : index_.keyAtOrBefore(frame);
    if (key < 0)
        throw EngineError{kParameterInvalid};
    const IndexEntry &e = index_.at(key);
    FramePosition position = {};
    position.word1 = static_cast<LONG>(e.pos);
    position.frameNum = key;
    position.words3to7[0] = static_cast<LONG>(decoder_.toMs(e.pts, index_.firstPts()));
    return position;
}

std::vector<uint8_t> Player::snapshot(bool jpeg) {
    auto api = enterApi();
    requireOpen();
    std::vector<uint8_t> image;
    runOnWorker([&] {
        if (!current_)
            throw EngineError{kOrderIncorrect};
        image = jpeg ? encodeJpeg(current_.frame.get()) : encodeBmp(current_.frame.get());
    });
    return image;
}

} // namespace playctrl
