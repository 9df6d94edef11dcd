#include "port/Port.h"

#include "demux/MediaInput.h"
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
    transport_.setFileEndMessageLocked(window, message);
}

void Port::setFileRefCallback(FileRefCallBack callback, DWORD_PTR user) {
    std::lock_guard<std::mutex> lock(mutex_);
    fileRefCallback_ = callback;
    fileRefUser_ = user;
}

void Port::setDisplayCallback(DisplayCallBack callback) {
    // Taking the lock waits for a callback in progress; none starts after we set null. The
    // worker holds it already inside its own callback.
    auto lock = onOwnWorker() ? std::unique_lock<std::recursive_mutex>(display_.mutex)
                              : lockAsCaller(display_.mutex);
    display_.callback = callback;
}

namespace {
// A file opened afresh, before the port lets go of the one it has.
struct FreshFile {
    std::string utf8Path;
    VideoDecoder decoder;
    bool soundPresent = false;
    bool soundDecodable = true;
    DecodedFrame first; // numbered 0 at time 0
    DecodedFrame shown; // a copy of it, the picture until playback shows one
};

FreshFile openFresh(const char *path, std::atomic<bool> *abortIo) {
    if (!path || !*path) {
        throw EngineError{kParameterInvalid};
    }
    FreshFile fresh;
    fresh.utf8Path = ansiToUtf8(path);
    // A name no file can have (the component spells so what the code page cannot hold) fails as
    // a missing file does, not as a damaged one.
    if (fresh.utf8Path.find("://") == std::string::npos &&
        fresh.utf8Path.find_first_of("?*<>\"") != std::string::npos) {
        throw EngineError{kOpenFile};
    }
    fresh.decoder.open(fresh.utf8Path, abortIo);
    fresh.soundDecodable =
        soundDecodable(fresh.decoder.format(), fresh.utf8Path, &fresh.soundPresent);
    fresh.first = fresh.decoder.next(nullptr);
    if (!fresh.first) {
        throw EngineError{kNoKeyFrame};
    }
    fresh.first.number = 0;
    fresh.first.ms = 0;
    fresh.shown = fresh.first.clone();
    if (!fresh.shown) {
        throw EngineError{kAllocMemory};
    }
    return fresh;
}
} // namespace

void Port::open(const char *path) {
    refuseOnOwnWorker();
    if (index_.isBuilderThread()) {
        throw EngineError{kOrderIncorrect};
    }
    auto api = enterApi();
    // The new file is opened before the old one closes: a file that cannot be opened loses
    // nothing.
    FreshFile fresh = openFresh(path, &abortIo_);
    if (open_) {
        worker_.stop();
        teardown();
    }
    std::lock_guard<std::mutex> file(fileMutex_);
    abortIo_ = false;
    soundDecodable_ = fresh.soundDecodable;
    soundPresent_ = fresh.soundPresent;
    decoder_ = std::move(fresh.decoder);
    cache_.open(FrameCache::bytesOf(fresh.first.frame.get()));
    transport_.load(std::move(fresh.utf8Path), std::move(fresh.first), std::move(fresh.shown));
    {
        std::lock_guard<std::mutex> lock(mutex_);
        worker_.dropCommandLocked();
        transport_.resetLocked();
    }
    skipNonReference_ = false;
    try {
        index_.start(port_, transport_.path(), decoder_.streamIndex(), [this] {
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
        transport_.unload();
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
    transport_.unload();
    cache_.close();
    decoder_.close();
    abortIo_ = false;
}

void Port::play(HWND window) {
    auto api = enterApi();
    requireOpen();
    worker_.run([&] {
        transport_.setWindow(window);
        std::lock_guard<std::mutex> lock(mutex_);
        transport_.playLocked(soundPresent_);
    });
    wake_.notify_all();
}

void Port::pause(bool pausing) {
    auto api = enterApi();
    requireOpen();
    // On the worker, between two frames: once paused, no further frame is shown.
    worker_.run([&] {
        std::lock_guard<std::mutex> lock(mutex_);
        transport_.pauseLocked(pausing);
    });
}

void Port::stop() {
    auto api = enterApi();
    requireOpen();
    worker_.run([&] {
        std::lock_guard<std::mutex> lock(mutex_);
        transport_.stopLocked();
    });
}

void Port::refresh() {
    auto api = enterApi();
    requireOpen();
    worker_.run([&] { transport_.refresh(); });
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
        stepped = (clock_.*step)(transport_.ms());
    }
    if (!stepped) {
        throw EngineError{kOrderIncorrect};
    }
    // Sound plays at normal speed only; it starts afresh when playback comes back to it.
    audio_.halt();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        transport_.cueSoundLocked();
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
        transport_.cueSoundLocked();
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
        if (!transport_.current()) {
            throw EngineError{kOrderIncorrect};
        }
        const AVFrame *frame = transport_.current().frame.get();
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
