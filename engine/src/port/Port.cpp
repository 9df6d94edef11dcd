#include "port/Port.h"

#include "demux/MediaInput.h"

#include <algorithm>
#include "port/PortWait.h"
#include "video/Snapshot.h"

namespace playctrl {

Port::Port(LONG port, LastError &errors, std::function<void(const Port *)> released)
    : port_(port), errors_(errors), released_(std::move(released)) {}

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
    if (!open_ || worker_.closeRequested()) {
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
    // A name no file can have (the component spells so what the code page cannot hold) fails as
    // a missing file does, not as a damaged one.
    if (utf8Path.find("://") == std::string::npos &&
        utf8Path.find_first_of("?*<>\"") != std::string::npos) {
        throw EngineError{kOpenFile};
    }
    VideoDecoder fresh;
    fresh.open(utf8Path, &abortIo_);
    bool soundPresent = false;
    const bool soundDecodable = playctrl::soundDecodable(fresh.format(), utf8Path, &soundPresent);
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
        worker_.stop();
        teardown();
    }
    std::lock_guard<std::mutex> file(fileMutex_);
    abortIo_ = false;
    utf8Path_ = std::move(utf8Path);
    soundDecodable_ = soundDecodable;
    soundPresent_ = soundPresent;
    decoder_ = std::move(fresh);
    width_ = first.frame->width;
    height_ = first.frame->height;
    cache_.open(FrameCache::bytesOf(first.frame.get()));
    playhead_.current = std::move(shown);
    playhead_.pending = std::move(first);
    playhead_.shown = false;
    playhead_.skippedThrough = -1;
    endPosted_ = false;
    playhead_.number = 0;
    playhead_.ms = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        worker_.dropCommandLocked();
        mode_ = Mode::Stopped;
        clock_.reset();
        soundCue_ = false;
        soundPrime_ = false;
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
        playhead_.current = {};
        playhead_.pending = {};
        cache_.close();
        decoder_.close();
        throw;
    }
    open_ = true;
    AudioOut::warmUp();
}

void Port::close() {
    if (onOwnWorker()) {
        requestClose(false);
        return;
    }
    if (index_.isBuilderThread()) {
        throw EngineError{kOrderIncorrect};
    }
    index_.interrupt(); // a reading of what a writer appended, which a caller may wait for
    auto api = enterApi();
    requireOpen();
    worker_.stop();
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
    index_.interrupt();
    auto api = enterApi();
    if (open_) {
        worker_.stop();
        teardown();
    }
    return true;
}

void Port::requestClose(bool release) {
    requireOpen();
    worker_.requestClose(release);
}

void Port::completeDeferred() {
    if (!worker_.closeRequested()) {
        return;
    }
    worker_.stop(); // it leaves its loop as soon as it sees the request
    if (open_) {
        teardown();
    }
    if (worker_.endCloseRequest()) {
        released_(this);
    }
}

void Port::completeDeferredClose() {
    try {
        std::lock_guard<std::mutex> api(apiMutex_);
        completeDeferred();
    } catch (...) {
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
    playhead_.current = {};
    playhead_.pending = {};
    cache_.close();
    decoder_.close();
    playhead_.number = 0;
    playhead_.ms = 0;
    width_ = 0;
    height_ = 0;
    abortIo_ = false;
}

void Port::present(DecodedFrame frame) {
    playhead_.skippedThrough = -1;
    cache_.remember(frame);
    playhead_.current = std::move(frame);
    playhead_.shown = true;
    playhead_.number = playhead_.current.number;
    playhead_.ms = playhead_.current.ms;
    width_ = playhead_.current.frame->width;
    height_ = playhead_.current.frame->height;
    presenter_.draw(window_, playhead_.current.frame.get());
    std::lock_guard<std::recursive_mutex> lock(callbackMutex_);
    if (displayCallback_ && !worker_.closeRequested()) {
        const AVFrame *f = playhead_.current.frame.get();
        const std::vector<uint8_t> &yuv = presenter_.yuv420(f);
        if (!yuv.empty()) {
            displayCallback_(port_, reinterpret_cast<char *>(const_cast<uint8_t *>(yuv.data())),
                             static_cast<LONG>(yuv.size()), f->width, f->height,
                             static_cast<LONG>(playhead_.current.ms), kPixelFormatYuv420,
                             playhead_.current.number);
        }
    }
    playhead_.shownAt = std::chrono::steady_clock::now();
}

// Stops playback where it stands and tells the host why; never the end of the file.
void Port::failLocked(Error code) {
    setModeLocked(Mode::Failed);
    errors_.setForAll(code); // every thread reads it next
}

void Port::reachedEndLocked() {
    setModeLocked(Mode::Ended);
    if (!endPosted_ && endWindow_) {
        PostMessage(endWindow_, endMessage_, 0, 0);
    }
    endPosted_ = true;
}

void Port::setModeLocked(Mode mode) {
    mode_ = mode;
    if (mode == Mode::Playing) {
        clock_.run();
        soundCue_ = true;
    } else {
        clock_.hold();
        audio_.halt(mode == Mode::Ended);
    }
}

void Port::play(HWND window) {
    auto api = enterApi();
    requireOpen();
    worker_.run([&] {
        window_ = window;
        std::lock_guard<std::mutex> lock(mutex_);
        if (mode_ == Mode::Playing) {
            return;
        }
        soundPrime_ = soundPresent_; // the host switches the sound on next
        switch (mode_) {
        case Mode::Playing:
            break;
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
    worker_.run([&] {
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
    worker_.run([&] {
        std::lock_guard<std::mutex> lock(mutex_);
        setModeLocked(Mode::Stopped);
        rewindLocked();
    });
}

void Port::rewindLocked() {
    if (playhead_.pending && playhead_.pending.number != 0) {
        playhead_.pending = {};
    }
    playhead_.shown = false;
    playhead_.skippedThrough = -1;
    playhead_.number = 0;
    playhead_.ms = 0;
    endPosted_ = false;
    clock_.resyncAtNextFrame();
}

void Port::refresh() {
    auto api = enterApi();
    requireOpen();
    worker_.run([&] {
        if (playhead_.current) {
            presenter_.draw(window_, playhead_.current.frame.get());
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
        stepped = (clock_.*step)(playhead_.ms);
    }
    if (!stepped) {
        throw EngineError{kOrderIncorrect};
    }
    // Sound plays at normal speed only; it starts afresh when playback comes back to it.
    audio_.halt();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        soundCue_ = true;
    }
    wake_.notify_all();
}

void Port::throwBFrames(DWORD count) {
    auto api = enterApi();
    requireOpen();
    skipNonReference_ = count > 0;
}

void Port::playSound() {
    auto api = enterApi();
    requireOpen();
    if (!soundDecodable_) {
        throw EngineError{kDecodeAudio};
    }
    if (audio_.start(volume_)) {
        std::lock_guard<std::mutex> lock(mutex_);
        soundCue_ = true;
    }
    wake_.notify_all();
}

void Port::stopSound() {
    audio_.stop();
}

void Port::setVolume(WORD volume) {
    volume_ = volume;
    audio_.setVolume(volume);
}

std::vector<uint8_t> Port::snapshot(bool jpeg, size_t room, size_t &needed) {
    auto api = enterApi();
    requireOpen();
    std::vector<uint8_t> image;
    worker_.run([&] {
        if (!playhead_.current) {
            throw EngineError{kOrderIncorrect};
        }
        const AVFrame *frame = playhead_.current.frame.get();
        if (jpeg) {
            image = encodeJpeg(frame);
            needed = image.size();
            return;
        }
        // A BMP's size follows from the picture's: one that cannot fit is not made at all.
        needed = bmpFileSize(frame->width, frame->height);
        if (needed <= room) {
            image = encodeBmp(frame);
            needed = image.size();
        }
    });
    return image;
}

} // namespace playctrl
