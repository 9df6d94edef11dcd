#include "port/Transport.h"

#include "demux/MediaInput.h"

#include <algorithm>

namespace playctrl {

void Transport::load(std::string utf8Path, DecodedFrame first, DecodedFrame shown) {
    utf8Path_ = std::move(utf8Path);
    width_ = first.frame->width;
    height_ = first.frame->height;
    playhead_.current = std::move(shown);
    playhead_.pending = std::move(first);
    playhead_.shown = false;
    playhead_.skippedThrough = -1;
    endPosted_ = false;
    playhead_.number = 0;
    playhead_.ms = 0;
}

void Transport::unload() {
    playhead_.current = {};
    playhead_.pending = {};
    playhead_.number = 0;
    playhead_.ms = 0;
    width_ = 0;
    height_ = 0;
}

void Transport::resetLocked() {
    mode_ = Mode::Stopped;
    p_.clock.reset();
    soundCue_ = false;
    soundPrime_ = false;
}

void Transport::playLocked(bool withSound) {
    if (mode_ == Mode::Playing) {
        return;
    }
    soundPrime_ = withSound; // the host switches the sound on next
    switch (mode_) {
    case Mode::Playing:
        break;
    case Mode::Paused:
    case Mode::Failed:
        p_.clock.resyncAtNextFrame();
        break;
    case Mode::Stopped:
    case Mode::Ended:
        rewindLocked();
        p_.clock.normalSpeed();
        break;
    case Mode::Holding:
        p_.clock.normalSpeed();
        p_.clock.resyncAtNextFrame();
        break;
    }
    setModeLocked(Mode::Playing);
}

void Transport::pauseLocked(bool pausing) {
    if (pausing && mode_ == Mode::Playing) {
        setModeLocked(Mode::Paused);
    } else if (!pausing && mode_ == Mode::Paused) {
        setModeLocked(Mode::Playing);
        p_.clock.resyncAtNextFrame();
    }
}

void Transport::stopLocked() {
    setModeLocked(Mode::Stopped);
    rewindLocked();
}

// Stops playback where it stands and tells the host why; never the end of the file.
void Transport::failLocked(Error code) {
    setModeLocked(Mode::Failed);
    p_.errors.setForAll(code); // every thread reads it next
}

void Transport::setFileEndMessageLocked(HWND window, UINT message) {
    endWindow_ = window;
    endMessage_ = message;
}

void Transport::reachedEndLocked() {
    setModeLocked(Mode::Ended);
    if (!endPosted_ && endWindow_) {
        PostMessage(endWindow_, endMessage_, 0, 0);
    }
    endPosted_ = true;
}

void Transport::setModeLocked(Mode mode) {
    mode_ = mode;
    if (mode == Mode::Playing) {
        p_.clock.run();
        soundCue_ = true;
    } else {
        p_.clock.hold();
        p_.audio.halt(mode == Mode::Ended);
    }
}

void Transport::rewindLocked() {
    if (playhead_.pending && playhead_.pending.number != 0) {
        playhead_.pending = {};
    }
    playhead_.shown = false;
    playhead_.skippedThrough = -1;
    playhead_.number = 0;
    playhead_.ms = 0;
    endPosted_ = false;
    p_.clock.resyncAtNextFrame();
}

void Transport::present(DecodedFrame frame) {
    playhead_.skippedThrough = -1;
    p_.cache.remember(frame);
    playhead_.current = std::move(frame);
    playhead_.shown = true;
    playhead_.number = playhead_.current.number;
    playhead_.ms = playhead_.current.ms;
    width_ = playhead_.current.frame->width;
    height_ = playhead_.current.frame->height;
    presenter_.draw(window_, playhead_.current.frame.get());
    std::lock_guard<std::recursive_mutex> lock(p_.display.mutex);
    if (p_.display.callback && !p_.worker.closeRequested()) {
        const AVFrame *f = playhead_.current.frame.get();
        const std::vector<uint8_t> &yuv = presenter_.yuv420(f);
        if (!yuv.empty()) {
            p_.display.callback(p_.port,
                                reinterpret_cast<char *>(const_cast<uint8_t *>(yuv.data())),
                                static_cast<LONG>(yuv.size()), f->width, f->height,
                                static_cast<LONG>(playhead_.current.ms), kPixelFormatYuv420,
                                playhead_.current.number);
        }
    }
    playhead_.shownAt = std::chrono::steady_clock::now();
}

void Transport::showExact(int number) {
    p_.audio.halt();                       // the old place falls silent at once
    p_.decoder.setSkipNonReference(false); // the frame asked for may be one playback skips
    DecodedFrame frame = p_.positioner.obtain(number, playhead_.pending);
    if (!frame) {
        throw EngineError{kParameterInvalid};
    }
    present(std::move(frame));
    std::lock_guard<std::mutex> lock(p_.state);
    endPosted_ = false;
    if (mode_ == Mode::Stopped || mode_ == Mode::Ended || mode_ == Mode::Failed) {
        setModeLocked(Mode::Holding);
    }
    p_.clock.rebase(playhead_.ms);
    soundCue_ = mode_ == Mode::Playing;
}

void Transport::stepForward() {
    p_.decoder.setSkipNonReference(false);
    DecodedFrame frame = p_.positioner.obtain(playhead_.nextToShow(), playhead_.pending);
    if (!frame) {
        throw EngineError{kOrderIncorrect};
    }
    present(std::move(frame));
    std::lock_guard<std::mutex> lock(p_.state);
    setModeLocked(Mode::Holding);
}

void Transport::stepBack() {
    if (!playhead_.shown || playhead_.number <= 0) {
        throw EngineError{kOrderIncorrect};
    }
    p_.decoder.setSkipNonReference(false);
    DecodedFrame frame = p_.positioner.obtainBackward(playhead_.number - 1, playhead_.pending);
    if (!frame) {
        throw EngineError{kDecodeVideo};
    }
    playhead_.pending = {};
    present(std::move(frame));
    std::lock_guard<std::mutex> lock(p_.state);
    setModeLocked(Mode::Holding);
    endPosted_ = false;
}

void Transport::refresh() {
    if (playhead_.current) {
        presenter_.draw(window_, playhead_.current.frame.get());
    }
}

void Transport::keepToSoundLocked(int64_t nextMs) {
    if (soundCue_ && p_.clock.runsAtNormalSpeed()) {
        soundCue_ = false;
        const int64_t ms = p_.clock.now(nextMs);
        p_.audio.cue(p_.port, utf8Path_, ms, soundSeekPos(ms), soundPlacement(), soundPrime_);
        soundPrime_ = false;
    }
    int64_t heard;
    if (p_.audio.heardMs(&heard)) {
        p_.clock.follow(heard);
    } else if (playhead_.shown && p_.clock.runsAtNormalSpeed() && p_.audio.awaited()) {
        p_.clock.rebase(nextMs - p_.decoder.frameDurationMs()); // the picture waits for the sound
    }
}

int64_t Transport::soundSeekPos(int64_t ms) {
    // Muxers write sound up to about a second away from its pictures.
    constexpr int64_t kSoundLeadMs = 1000;
    FrameIndex &index = p_.index;
    if (!index.isReady() || index.count() == 0 || !readsStraightThrough(p_.decoder.format())) {
        return -1;
    }
    const int frame =
        index.lastFrameAtOrBefore(p_.decoder.fromMs(ms - kSoundLeadMs, index.firstPts()));
    const int key = frame < 0 ? -1 : index.keyAtOrBefore(frame);
    return key < 0 ? 0 : std::max<int64_t>(0, index.at(key).pos);
}

std::shared_ptr<const SoundPlacement> Transport::soundPlacement() {
    auto placement = std::make_shared<SoundPlacement>();
    const AVStream *st = p_.decoder.stream();
    placement->pictureBase = st->time_base;
    if (p_.index.isReady() && p_.index.count() > 0) {
        placement->originPts = p_.index.firstPts();
        placement->timeline = p_.index.timeline();
    } else {
        placement->originPts = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    }
    return placement;
}

void Transport::followGrowth() {
    FrameIndex &index = p_.index;
    if (!index.isReady() || !index.follows()) {
        return;
    }
    // Read without the file lock: queries go on meanwhile, and take it only while the new
    // entries go in.
    FrameIndex::Appended appended;
    if (!index.readAppended(appended)) {
        return;
    }
    std::lock_guard<std::mutex> file(p_.file);
    const int segments = index.segments();
    index.takeIn(std::move(appended));
    // Pictures near the old end may have moved up: their numbers are not kept.
    p_.cache.clear();
    playhead_.pending = {};
    // A decoder that met the old end has taken its last packet as it was then, perhaps cut
    // short, and one that read past it took packets of a new segment as they were stamped: it
    // starts again from a key frame.
    if (p_.decoder.drained() || index.segments() != segments) {
        p_.decoder.restart();
    }
    p_.audio.place(soundPlacement());
}

} // namespace playctrl
