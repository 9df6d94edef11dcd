#include "Player.h"

#include "MediaInput.h"
#include "Snapshot.h"

#include <algorithm>
#include <cmath>

namespace playctrl {

namespace {
// Frames kept for stepping back: the budget bounds memory for large pictures.
constexpr size_t kRecentBytes = 96u << 20;
constexpr size_t kRecentMin = 12, kRecentMax = 64;
constexpr int kSlowestLevel = -4, kFastestLevel = 4;

double speedOf(int level) {
    return std::ldexp(1.0, level);
}
} // namespace

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
        size_t frameBytes = static_cast<size_t>(width_) * height_ * 3 / 2 + 1;
        recentLimit_ = std::min(kRecentMax, std::max(kRecentMin, kRecentBytes / frameBytes));
        current_ = first.clone();
        pending_ = std::move(first);
    } catch (...) {
        decoder_.close();
        current_ = {};
        pending_ = {};
        throw;
    }
    shown_ = false;
    endPosted_ = false;
    recent_.clear();
    currentNumber_ = 0;
    currentMs_ = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = false;
        command_ = nullptr;
        mode_ = Mode::Stopped;
        speedLevel_ = 0;
        rebaseOnNextFrame_ = true;
    }
    skipNonReference_ = false;
    index_.start(utf8Path_, decoder_.streamIndex(), [this] {
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
    recent_.clear();
    decoder_.close();
    open_ = false;
    currentNumber_ = 0;
    currentMs_ = 0;
    width_ = 0;
    height_ = 0;
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
        try {
            playStep(lock);
        } catch (...) {
            // A frame that cannot be shown ends playback rather than the host process.
            if (!lock.owns_lock())
                lock.lock();
            mode_ = Mode::Ended;
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
        DecodedFrame next;
        try {
            next = obtain(want);
        } catch (...) {
        }
        lock.lock();
        if (!next) {
            mode_ = Mode::Ended;
            if (!endPosted_ && endWindow_)
                PostMessage(endWindow_, endMessage_, 0, 0);
            endPosted_ = true;
            return;
        }
        pending_ = std::move(next);
        return; // look at commands before waiting for the frame's time
    }
    auto now = std::chrono::steady_clock::now();
    if (rebaseOnNextFrame_) {
        clockWall_ = now;
        clockMedia_ = pending_.ms;
        rebaseOnNextFrame_ = false;
    }
    double wallMs = static_cast<double>(pending_.ms - clockMedia_) / speedOf(speedLevel_);
    auto due = clockWall_ + std::chrono::microseconds(static_cast<int64_t>(wallMs * 1000.0));
    if (now < due) {
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
    auto hit = recent_.find(number);
    if (hit != recent_.end())
        return hit->second.clone();
    if (pending_ && pending_.number == number)
        return std::move(pending_);
    pending_ = {};
    index_.waitReady();
    if (number >= index_.count() && index_.count() > 0)
        return {};
    if (decoder_.lastNumber() + 1 == number) {
        DecodedFrame frame = decoder_.next(&index_);
        while (frame && frame.number < number)
            frame = decoder_.next(&index_);
        return frame;
    }
    // Frames decoded on the way to the target are kept: stepping back from it costs nothing.
    recent_.clear();
    const int keepFrom = number - static_cast<int>(recentLimit_) + 1;
    DecodedFrame frame = seekAndDecode(number);
    for (; frame && frame.number < number; frame = decoder_.next(&index_))
        if (frame.number >= keepFrom)
            recent_[frame.number] = frame.clone();
    return frame;
}

// Seeks to a key frame before `number` and returns the first frame decoded there; when the
// demuxer lands past the frame wanted, an earlier key frame is tried.
DecodedFrame Player::seekAndDecode(int number) {
    int target = number;
    for (int attempt = 0; attempt < 3; ++attempt) {
        decoder_.seekBefore(target, index_);
        DecodedFrame frame = decoder_.next(&index_);
        if (frame && frame.number <= number)
            return frame;
        int key = index_.keyAtOrBefore(target);
        target = key > 0 ? key - 1 : 0;
    }
    // Last resort: decode from the very start.
    decoder_.rewind(index_);
    decoder_.restart();
    DecodedFrame frame = decoder_.next(&index_);
    if (frame && frame.number > number)
        throw EngineError{kDecodeVideo};
    return frame;
}

DecodedFrame Player::obtainBackward(int number) {
    auto hit = recent_.find(number);
    if (hit != recent_.end())
        return hit->second.clone();
    index_.waitReady();
    pending_ = {};
    recent_.clear();
    int keepFrom = number - static_cast<int>(recentLimit_) + 1;
    for (DecodedFrame frame = seekAndDecode(number); frame; frame = decoder_.next(&index_)) {
        if (frame.number >= keepFrom && frame.number <= number)
            recent_[frame.number] = frame.clone();
        if (frame.number >= number)
            return frame;
    }
    return {};
}

void Player::remember(const DecodedFrame &frame) {
    if (!recent_.empty() &&
        (frame.number < recent_.begin()->first - 1 || frame.number > recent_.rbegin()->first + 1))
        recent_.clear();
    if (recent_.count(frame.number) == 0)
        recent_[frame.number] = frame.clone();
    while (recent_.size() > recentLimit_) {
        // Drop the end farthest from the frame just shown.
        if (frame.number - recent_.begin()->first > recent_.rbegin()->first - frame.number)
            recent_.erase(recent_.begin());
        else
            recent_.erase(std::prev(recent_.end()));
    }
}

void Player::present(DecodedFrame frame) {
    remember(frame);
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

void Player::rebaseClock(int64_t ms) {
    clockWall_ = std::chrono::steady_clock::now();
    clockMedia_ = ms;
    rebaseOnNextFrame_ = false;
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
    if (mode_ == Mode::Stopped || mode_ == Mode::Ended)
        mode_ = Mode::Holding;
    rebaseClock(currentMs_);
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
            rebaseOnNextFrame_ = true;
            break;
        case Mode::Stopped:
        case Mode::Ended:
            rewindLocked();
            speedLevel_ = 0;
            break;
        case Mode::Holding:
            speedLevel_ = 0;
            rebaseOnNextFrame_ = true;
            break;
        }
        mode_ = Mode::Playing;
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
            mode_ = Mode::Paused;
        } else if (!pausing && mode_ == Mode::Paused) {
            mode_ = Mode::Playing;
            rebaseOnNextFrame_ = true;
        }
    });
}

void Player::stop() {
    auto api = enterApi();
    requireOpen();
    runOnWorker([&] {
        std::lock_guard<std::mutex> lock(mutex_);
        mode_ = Mode::Stopped;
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
    rebaseOnNextFrame_ = true;
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
    auto api = enterApi();
    requireOpen();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (speedLevel_ >= kFastestLevel)
            throw EngineError{kOrderIncorrect};
        int64_t now = clockMsLocked();
        ++speedLevel_;
        rebaseClock(now);
    }
    wake_.notify_all();
}

void Player::slower() {
    auto api = enterApi();
    requireOpen();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (speedLevel_ <= kSlowestLevel)
            throw EngineError{kOrderIncorrect};
        int64_t now = clockMsLocked();
        --speedLevel_;
        rebaseClock(now);
    }
    wake_.notify_all();
}

void Player::throwBFrames(DWORD count) {
    auto api = enterApi();
    requireOpen();
    skipNonReference_ = count > 0;
}

int64_t Player::clockMsLocked() {
    if (mode_ != Mode::Playing || rebaseOnNextFrame_)
        return currentMs_;
    auto elapsed = std::chrono::steady_clock::now() - clockWall_;
    double ms = std::chrono::duration<double, std::milli>(elapsed).count() * speedOf(speedLevel_);
    return clockMedia_ + static_cast<int64_t>(ms);
}

int64_t Player::clockMs() {
    std::lock_guard<std::mutex> lock(mutex_);
    return clockMsLocked();
}

bool Player::clockRunsAtNormalSpeed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return mode_ == Mode::Playing && speedLevel_ == 0;
}

void Player::playSound() {
    auto api = enterApi();
    requireOpen();
    audio_.start(
        utf8Path_, volume_, [this] { return clockMs(); },
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
    int64_t lastMs = decoder_.toMs(index_.at(index_.count() - 1).pts, index_.firstPts());
    return lastMs + decoder_.frameDurationMs();
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
        mode_ = Mode::Holding;
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
        mode_ = Mode::Holding;
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
