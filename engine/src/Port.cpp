#include "Port.h"

#include "MediaInput.h"
#include "PortTable.h"
#include "PortWait.h"
#include "Snapshot.h"

#include <algorithm>
#include <climits>

namespace playctrl {

namespace {
// An idle worker ends after this long without playing or commands.
constexpr auto kWorkerLinger = std::chrono::milliseconds(1000);
// Playback that is behind the clock still shows a late frame when it has shown none for this
// long.
constexpr auto kLongestBlank = std::chrono::milliseconds(100);

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

Port::Port(LONG port) : port_(port) {}

Port::~Port() {
    try {
        if (open_ && !onOwnWorker()) {
            close();
        }
    } catch (...) {
    }
    worker_.detach(); // a worker still ending holds no reference to this port
}

// A host thread waits for the lock. The engine's own threads are running a callback: on their
// own port the holder may be waiting for them, so they only try; on another port they wait
// unless that port's threads are, in turn, waiting for theirs.
template <class Mutex> std::unique_lock<Mutex> Port::lockAsCaller(Mutex &mutex) {
    std::unique_lock<Mutex> lock(mutex, std::defer_lock);
    LONG caller = ModuleThread::currentPort();
    if (caller < 0) {
        lock.lock();
    } else if (caller == port_) {
        if (!lock.try_lock()) {
            throw EngineError{kOrderIncorrect};
        }
    } else {
        PortWait wait(port_);
        lock.lock();
    }
    return lock;
}

std::unique_lock<std::mutex> Port::enterApi() {
    // Inside its own display callback the worker needs no lock: it is the thread the others
    // hand their work to, and the host may be waiting for it with apiMutex_ held.
    if (onOwnWorker()) {
        return {};
    }
    auto api = lockAsCaller(apiMutex_);
    completeDeferred();
    return api;
}

void Port::refuseOnOwnWorker() const {
    if (onOwnWorker()) {
        throw EngineError{kOrderIncorrect};
    }
}

void Port::requireOpen() const {
    if (!open_ || closeRequested_) {
        throw EngineError{kOrderIncorrect};
    }
}

std::unique_lock<std::mutex> Port::readFile() {
    std::unique_lock<std::mutex> file(fileMutex_);
    requireOpen();
    return file;
}

void Port::setFileEndMessage(HWND window, UINT message) {
    std::lock_guard<std::mutex> lock(mutex_);
    endWindow_ = window;
    endMessage_ = message;
}

void Port::setFileRefCallback(FileRefCallBack callback, DWORD_PTR user) {
    std::lock_guard<std::mutex> lock(mutex_);
    fileRefCallback_ = callback;
    fileRefUser_ = user;
}

void Port::setDisplayCallback(DisplayCallBack callback) {
    // Taking the lock waits for a callback in progress; none starts after we set null. The
    // worker holds it already inside its own callback.
    auto lock = onOwnWorker() ? std::unique_lock<std::recursive_mutex>(callbackMutex_)
                              : lockAsCaller(callbackMutex_);
    displayCallback_ = callback;
}

void Port::open(const char *path) {
    refuseOnOwnWorker();
    if (index_.isBuilderThread()) {
        throw EngineError{kOrderIncorrect};
    }
    auto api = enterApi();
    if (!path || !*path) {
        throw EngineError{kParameterInvalid};
    }
    // The new file is opened before the old one closes: a file that cannot be opened loses
    // nothing.
    std::string utf8Path = ansiToUtf8(path);
    VideoDecoder fresh;
    fresh.open(utf8Path, &abortIo_);
    DecodedFrame first = fresh.next(nullptr);
    if (!first) {
        throw EngineError{kNoKeyFrame};
    }
    first.number = 0;
    first.ms = 0;
    DecodedFrame shown = first.clone();
    if (!shown) {
        throw EngineError{kAllocMemory};
    }
    if (open_) {
        stopWorker();
        teardown();
    }
    std::lock_guard<std::mutex> file(fileMutex_);
    abortIo_ = false;
    utf8Path_ = std::move(utf8Path);
    decoder_ = std::move(fresh);
    width_ = first.frame->width;
    height_ = first.frame->height;
    cache_.open(FrameCache::bytesOf(first.frame.get()));
    current_ = std::move(shown);
    pending_ = std::move(first);
    shown_ = false;
    skippedThrough_ = -1;
    endPosted_ = false;
    currentNumber_ = 0;
    currentMs_ = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        command_ = nullptr;
        mode_ = Mode::Stopped;
        clock_.reset();
    }
    skipNonReference_ = false;
    try {
        index_.start(port_, utf8Path_, decoder_.streamIndex(), [this] {
            FileRefCallBack callback;
            DWORD_PTR user;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                callback = fileRefCallback_;
                user = fileRefUser_;
            }
            if (callback) {
                callback(static_cast<DWORD>(port_), user);
            }
        });
    } catch (...) {
        current_ = {};
        pending_ = {};
        cache_.close();
        decoder_.close();
        throw;
    }
    open_ = true;
}

void Port::close() {
    if (onOwnWorker()) {
        requestClose(false);
        return;
    }
    if (index_.isBuilderThread()) {
        throw EngineError{kOrderIncorrect};
    }
    auto api = enterApi();
    requireOpen();
    stopWorker();
    teardown();
}

bool Port::release() {
    if (onOwnWorker()) {
        requestClose(true);
        return false;
    }
    if (open_ && index_.isBuilderThread()) {
        throw EngineError{kOrderIncorrect};
    }
    auto api = enterApi();
    if (open_) {
        stopWorker();
        teardown();
    }
    return true;
}

void Port::requestClose(bool release) {
    requireOpen();
    std::lock_guard<std::mutex> lock(mutex_);
    releaseRequested_ = releaseRequested_ || release;
    closeRequested_ = true;
    wake_.notify_all();
}

void Port::completeDeferred() {
    if (!closeRequested_) {
        return;
    }
    stopWorker(); // it leaves its loop as soon as it sees the request
    if (open_) {
        teardown();
    }
    bool release;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        release = releaseRequested_;
        releaseRequested_ = false;
        closeRequested_ = false;
    }
    if (release) {
        finishRelease(port_, this);
    }
}

void Port::teardown() {
    abortIo_ = true;
    audio_.stop();
    {
        PortWait wait(port_);
        index_.stop();
    }
    std::lock_guard<std::mutex> file(fileMutex_);
    open_ = false;
    current_ = {};
    pending_ = {};
    cache_.close();
    decoder_.close();
    currentNumber_ = 0;
    currentMs_ = 0;
    width_ = 0;
    height_ = 0;
    abortIo_ = false;
}

void Port::ensureWorkerLocked() {
    if (workerRunning_) {
        return;
    }
    quit_ = false;
    std::shared_ptr<Port> self = shared_from_this();
    worker_.detach(); // one that is still ending goes on alone
    worker_.start(port_, [self] { self->workerMain(); });
    workerRunning_ = true;
}

void Port::stopWorker() {
    PortWait wait(port_);
    abortIo_ = true; // a read in progress gives up
    std::unique_lock<std::mutex> lock(mutex_);
    quit_ = true;
    wake_.notify_all();
    wake_.wait(lock, [this] { return !workerRunning_; });
    abortIo_ = false;
}

void Port::runOnWorker(std::function<void()> work) {
    if (onOwnWorker()) {
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
        ensureWorkerLocked();
        command_ = std::move(command);
        commandDone_ = false;
        wake_.notify_all();
        wake_.wait(lock, [this] { return commandDone_ || !workerRunning_; });
        command_ = nullptr;
    }
    if (!ran) {
        throw EngineError{kOrderIncorrect};
    }
    if (failure.code != kNoError) {
        throw failure;
    }
}

void Port::requestFrame(std::unique_lock<std::mutex> api, int number) {
    PortWait wait(port_);
    std::unique_lock<std::mutex> lock(mutex_);
    if (closeRequested_) {
        throw EngineError{kOrderIncorrect};
    }
    ensureWorkerLocked();
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

void Port::serveRequest(std::unique_lock<std::mutex> &lock) {
    const int number = requestedFrame_;
    const uint64_t request = newestRequest_;
    requestedFrame_ = -1;
    lock.unlock();
    Error failure = kNoError;
    bool overtaken = false;
    try {
        Positioner::Serving serving(positioner_, newestRequest_, request);
        failure = failureOf([&] { showExact(number); });
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

void Port::workerMain() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        workerThread_ = GetCurrentThreadId();
        workerLoop(lock);
        // A request it leaves behind fails as a command would.
        if (requestedFrame_ >= 0) {
            requestedFrame_ = -1;
            requestEnded_ = newestRequest_;
            requestFailure_ = kOrderIncorrect;
        }
        workerThread_ = 0;
        workerRunning_ = false;
        wake_.notify_all();
    }
    // A close asked for inside the display callback completes now, unless a host call on the
    // port has already done it.
    if (closeRequested_) {
        try {
            std::lock_guard<std::mutex> api(apiMutex_);
            completeDeferred();
        } catch (...) {
        }
    }
}

void Port::workerLoop(std::unique_lock<std::mutex> &lock) {
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
        if (mode_ != Mode::Playing) {
            if (wake_.wait_until(lock, busy + kWorkerLinger) == std::cv_status::timeout &&
                !command_ && requestedFrame_ < 0 && mode_ != Mode::Playing) {
                return;
            }
            continue;
        }
        Error failure = kNoError;
        try {
            playStep(lock);
        } catch (...) {
            failure = currentError();
        }
        // A frame that cannot be shown stops playback rather than the host process.
        if (failure != kNoError) {
            if (!lock.owns_lock()) {
                lock.lock();
            }
            failLocked(failure);
        }
        busy = std::chrono::steady_clock::now();
    }
}

// One round of playback: make sure the next frame is decoded, wait for its time, show it. A
// frame the clock has passed by more than a frame interval is not shown, so that what is shown
// keeps up with the clock (and the sound) when decoding or the display callback is slower.
void Port::playStep(std::unique_lock<std::mutex> &lock) {
    int want = nextToPlay();
    // Skipped non-reference frames leave gaps, so a later frame than wanted is fine.
    if (!pending_ || pending_.number < want) {
        lock.unlock();
        DecodedFrame next = decodeToPlay(want);
        lock.lock();
        if (!next) {
            setModeLocked(Mode::Ended);
            if (!endPosted_ && endWindow_) {
                PostMessage(endWindow_, endMessage_, 0, 0);
            }
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
    if (tooLate(pending_)) {
        skippedThrough_ = pending_.number;
        pending_ = {};
        return;
    }
    DecodedFrame frame = std::move(pending_);
    lock.unlock();
    if (clock_.runsAtNormalSpeed()) {
        audio_.resume(); // sound left off while the clock stood still
    }
    present(std::move(frame));
    lock.lock();
}

int Port::nextToShow() const {
    return shown_ ? currentNumber_.load() + 1 : currentNumber_.load();
}

int Port::nextToPlay() const {
    return std::max(nextToShow(), skippedThrough_ + 1);
}

bool Port::tooLate(const DecodedFrame &frame) {
    if (frame.ms >= clock_.lateBefore(decoder_.frameDurationMs())) {
        return false;
    }
    // The last frame is shown however late: playback ends on it.
    if (index_.isReady() && frame.number >= index_.count() - 1) {
        return false;
    }
    // Where decoding alone cannot keep up, showing what it manages costs little and gains
    // a picture now and then.
    return std::chrono::steady_clock::now() - shownAt_ < kLongestBlank;
}

namespace {
// Leaves out, while playback decodes, the non-reference pictures it would not show.
class PassedOver {
  public:
    PassedOver(VideoDecoder &decoder, int64_t pts) : decoder_(decoder) {
        decoder_.skipUnwantedBefore(pts);
    }
    ~PassedOver() { decoder_.skipUnwantedBefore(AV_NOPTS_VALUE); }
    PassedOver(const PassedOver &) = delete;
    PassedOver &operator=(const PassedOver &) = delete;

  private:
    VideoDecoder &decoder_;
};
} // namespace

DecodedFrame Port::decodeToPlay(int number) {
    if (!index_.isReady()) {
        // Until the index is complete the decoder goes on from where it stands and counts the
        // frames itself, so that a long file plays at once; frames it would number wrongly
        // without the index (left-out pictures) are all decoded.
        decoder_.setSkipNonReference(false);
        if (decoder_.lastNumber() + 1 == number) {
            return decoder_.next(nullptr);
        }
        return obtain(number); // elsewhere: waits for the index
    }
    if (number >= index_.count() - 1) {
        followGrowth();
    }
    decoder_.setSkipNonReference(skipNonReference_);
    const int64_t lateBefore = clock_.lateBefore(decoder_.frameDurationMs());
    if (lateBefore == INT64_MIN) {
        return obtain(number);
    }
    const int64_t first = index_.firstPts();
    const int64_t lastLatePts = decoder_.fromMs(lateBefore - 1, first);
    // Once every frame before the key frame at the clock is late, playback goes on from that
    // key frame instead of decoding them.
    int key = index_.keyAtOrBefore(
        index_.lastFrameAtOrBefore(decoder_.fromMs(clock_.now(currentMs_), first)));
    if (key > number && key - 1 <= index_.lastFrameAtOrBefore(lastLatePts)) {
        number = key;
    }
    // Late pictures that nothing refers to are not decoded at all.
    PassedOver passed(decoder_, lastLatePts + 1);
    return obtain(number);
}

void Port::followGrowth() {
    if (!index_.isReady() || !index_.follows()) {
        return;
    }
    std::lock_guard<std::mutex> file(fileMutex_);
    const int segments = index_.segments();
    if (!index_.extend()) {
        return;
    }
    // Pictures near the old end may have moved up: their numbers are not kept.
    cache_.clear();
    pending_ = {};
    // A decoder that met the old end has taken its last packet as it was then, perhaps cut
    // short, and one that read past it took packets of a new segment as they were stamped: it
    // starts again from a key frame.
    if (decoder_.drained() || index_.segments() != segments) {
        decoder_.restart();
    }
}

void Port::followGrowthFor(int frame) {
    {
        auto file = readFile();
        if (frame < index_.count() - 1 || !index_.follows()) {
            return;
        }
    }
    runOnWorker([this] { followGrowth(); });
}

DecodedFrame Port::obtain(int number) {
    if (DecodedFrame hit = cache_.find(number)) {
        return hit;
    }
    if (pending_ && pending_.number == number) {
        return std::move(pending_);
    }
    pending_ = {};
    return positioner_.forwardTo(number);
}

DecodedFrame Port::obtainBackward(int number) {
    if (DecodedFrame hit = cache_.find(number)) {
        return hit;
    }
    pending_ = {};
    return positioner_.backTo(number);
}

void Port::present(DecodedFrame frame) {
    skippedThrough_ = -1;
    cache_.remember(frame);
    current_ = std::move(frame);
    shown_ = true;
    currentNumber_ = current_.number;
    currentMs_ = current_.ms;
    width_ = current_.frame->width;
    height_ = current_.frame->height;
    presenter_.draw(window_, current_.frame.get());
    std::lock_guard<std::recursive_mutex> lock(callbackMutex_);
    if (displayCallback_ && !closeRequested_) {
        const AVFrame *f = current_.frame.get();
        const std::vector<uint8_t> &yuv = presenter_.yuv420(f);
        if (!yuv.empty()) {
            displayCallback_(port_, reinterpret_cast<char *>(const_cast<uint8_t *>(yuv.data())),
                             static_cast<LONG>(yuv.size()), f->width, f->height,
                             static_cast<LONG>(current_.ms), kPixelFormatYuv420, current_.number);
        }
    }
    shownAt_ = std::chrono::steady_clock::now();
}

// Stops playback where it stands and tells the host why; never the end of the file.
void Port::failLocked(Error code) {
    setModeLocked(Mode::Failed);
    setLastError(port_, code);
}

void Port::setModeLocked(Mode mode) {
    mode_ = mode;
    if (mode == Mode::Playing) {
        clock_.run();
    } else {
        clock_.hold();
    }
}

// Shows exactly frame `number` and keeps the transport: playing goes on from there.
void Port::showExact(int number) {
    decoder_.setSkipNonReference(false); // the frame asked for may be one playback skips
    DecodedFrame frame = obtain(number);
    if (!frame) {
        throw EngineError{kParameterInvalid};
    }
    present(std::move(frame));
    std::lock_guard<std::mutex> lock(mutex_);
    endPosted_ = false;
    if (mode_ == Mode::Stopped || mode_ == Mode::Ended || mode_ == Mode::Failed) {
        setModeLocked(Mode::Holding);
    }
    clock_.rebase(currentMs_);
}

void Port::play(HWND window) {
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

void Port::pause(bool pausing) {
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

void Port::stop() {
    auto api = enterApi();
    requireOpen();
    runOnWorker([&] {
        std::lock_guard<std::mutex> lock(mutex_);
        setModeLocked(Mode::Stopped);
        rewindLocked();
    });
}

void Port::rewindLocked() {
    if (pending_ && pending_.number != 0) {
        pending_ = {};
    }
    shown_ = false;
    skippedThrough_ = -1;
    currentNumber_ = 0;
    currentMs_ = 0;
    endPosted_ = false;
    clock_.resyncAtNextFrame();
}

void Port::refresh() {
    auto api = enterApi();
    requireOpen();
    runOnWorker([&] {
        if (current_) {
            presenter_.draw(window_, current_.frame.get());
        }
    });
}

void Port::faster() {
    changeSpeed(&PresentationClock::faster);
}

void Port::slower() {
    changeSpeed(&PresentationClock::slower);
}

void Port::changeSpeed(bool (PresentationClock::*step)(int64_t)) {
    auto api = enterApi();
    requireOpen();
    bool stepped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stepped = (clock_.*step)(currentMs_);
    }
    if (!stepped) {
        throw EngineError{kOrderIncorrect};
    }
    wake_.notify_all();
}

void Port::throwBFrames(DWORD count) {
    auto api = enterApi();
    requireOpen();
    skipNonReference_ = count > 0;
}

int64_t Port::clockMs() {
    return clock_.now(currentMs_);
}

bool Port::clockRunsAtNormalSpeed() {
    return clock_.runsAtNormalSpeed();
}

void Port::playSound() {
    auto api = enterApi();
    requireOpen();
    audio_.start(
        port_, utf8Path_, volume_, [this] { return clockMs(); },
        [this] { return clockRunsAtNormalSpeed(); });
}

void Port::stopSound() {
    audio_.stop();
}

void Port::setVolume(WORD volume) {
    volume_ = volume;
    audio_.setVolume(volume);
}

int64_t Port::durationMs() {
    index_.waitReady();
    if (index_.count() == 0) {
        return 0;
    }
    int64_t last = index_.at(index_.count() - 1).pts;
    if (index_.frameTicks() > 0) {
        return decoder_.toMs(last + index_.frameTicks(), index_.firstPts());
    }
    return decoder_.toMs(last, index_.firstPts()) + decoder_.frameDurationMs();
}

int Port::frameAtMs(int64_t ms) {
    index_.waitReady();
    int frame = index_.lastFrameAtOrBefore(decoder_.fromMs(ms, index_.firstPts()));
    return std::max(frame, 0);
}

void Port::setPlayPos(float position) {
    refuseOnOwnWorker();
    auto api = enterApi();
    requireOpen();
    if (!(position >= 0.0f && position <= 1.0f)) {
        throw EngineError{kParameterInvalid};
    }
    auto frameAt = [&] {
        auto file = readFile();
        int64_t ms = static_cast<int64_t>(static_cast<double>(position) * durationMs());
        return std::min(frameAtMs(ms), index_.count() - 1);
    };
    followGrowthFor(frameAt());
    const int frame = frameAt();
    requestFrame(std::move(api), frame);
}

float Port::playPos() {
    auto file = readFile();
    int64_t total = durationMs();
    if (total <= 0) {
        return 0.0f;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (mode_ == Mode::Ended) {
            return 1.0f;
        }
    }
    double pos = static_cast<double>(currentMs_) / static_cast<double>(total);
    return static_cast<float>(std::min(1.0, std::max(0.0, pos)));
}

DWORD Port::fileTimeMs() {
    auto file = readFile();
    return static_cast<DWORD>(durationMs());
}

DWORD Port::playedTimeMs() {
    auto file = readFile();
    return static_cast<DWORD>(std::max<int64_t>(0, currentMs_));
}

void Port::setPlayedTimeMs(DWORD ms) {
    refuseOnOwnWorker();
    auto api = enterApi();
    requireOpen();
    auto frameAt = [&] {
        auto file = readFile();
        // Past the end: a growing file may have it by now.
        return static_cast<int64_t>(ms) >= durationMs() ? INT_MAX : frameAtMs(ms);
    };
    followGrowthFor(frameAt());
    const int frame = frameAt();
    if (frame == INT_MAX) {
        throw EngineError{kParameterInvalid};
    }
    requestFrame(std::move(api), frame);
}

DWORD Port::totalFrames() {
    auto file = readFile();
    index_.waitReady();
    return static_cast<DWORD>(index_.count());
}

DWORD Port::currentFrame() {
    auto file = readFile();
    return static_cast<DWORD>(currentNumber_.load());
}

void Port::setCurrentFrame(DWORD frame) {
    refuseOnOwnWorker();
    auto api = enterApi();
    requireOpen();
    index_.waitReady();
    const int wanted = static_cast<int>(std::min<DWORD>(frame, INT_MAX));
    followGrowthFor(wanted);
    {
        auto file = readFile();
        if (wanted >= index_.count()) {
            throw EngineError{kParameterInvalid};
        }
    }
    requestFrame(std::move(api), wanted);
}

void Port::pictureSize(LONG *width, LONG *height) {
    auto file = readFile();
    *width = width_;
    *height = height_;
}

void Port::stepForward() {
    refuseOnOwnWorker();
    auto api = enterApi();
    requireOpen();
    runOnWorker([&] {
        decoder_.setSkipNonReference(false);
        DecodedFrame frame = obtain(nextToShow());
        if (!frame) {
            throw EngineError{kOrderIncorrect};
        }
        present(std::move(frame));
        std::lock_guard<std::mutex> lock(mutex_);
        setModeLocked(Mode::Holding);
    });
}

void Port::stepBack() {
    refuseOnOwnWorker();
    auto api = enterApi();
    requireOpen();
    runOnWorker([&] {
        if (!shown_ || currentNumber_ <= 0) {
            throw EngineError{kOrderIncorrect};
        }
        decoder_.setSkipNonReference(false);
        DecodedFrame frame = obtainBackward(currentNumber_ - 1);
        if (!frame) {
            throw EngineError{kDecodeVideo};
        }
        pending_ = {};
        present(std::move(frame));
        std::lock_guard<std::mutex> lock(mutex_);
        setModeLocked(Mode::Holding);
        endPosted_ = false;
    });
}

FramePosition Port::keyFramePos(DWORD value, DWORD type, bool after) {
    auto file = readFile();
    index_.waitReady();
    int frame;
    if (type == 1) {
        frame = static_cast<int>(std::min<DWORD>(value, 0x7FFFFFFF));
    } else if (type == 2) {
        frame = frameAtMs(value);
    } else {
        throw EngineError{kParameterInvalid};
    }
    if (frame >= index_.count()) {
        throw EngineError{kParameterInvalid};
    }
    int key = after ? index_.keyAfter(frame) : index_.keyAtOrBefore(frame);
    if (key < 0) {
        throw EngineError{kParameterInvalid};
    }
    const IndexEntry &e = index_.at(key);
    FramePosition position = {};
    position.word1 = static_cast<LONG>(e.pos);
    position.frameNum = key;
    position.words3to7[0] = static_cast<LONG>(decoder_.toMs(e.pts, index_.firstPts()));
    return position;
}

std::vector<uint8_t> Port::snapshot(bool jpeg) {
    auto api = enterApi();
    requireOpen();
    std::vector<uint8_t> image;
    runOnWorker([&] {
        if (!current_) {
            throw EngineError{kOrderIncorrect};
        }
        image = jpeg ? encodeJpeg(current_.frame.get()) : encodeBmp(current_.frame.get());
    });
    return image;
}

} // namespace playctrl
