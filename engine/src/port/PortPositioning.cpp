// The port's positioning calls and the queries of where it stands (the class: Port.h).
#include "port/Port.h"

#include "demux/MediaInput.h"

#include <algorithm>
#include <climits>

namespace playctrl {

// Shows exactly frame `number` and keeps the transport: playing goes on from there.
void Port::showExact(int number) {
    audio_.halt();                       // the old place falls silent at once
    decoder_.setSkipNonReference(false); // the frame asked for may be one playback skips
    DecodedFrame frame = positioner_.obtain(number, playhead_.pending);
    if (!frame) {
        throw EngineError{kParameterInvalid};
    }
    present(std::move(frame));
    std::lock_guard<std::mutex> lock(mutex_);
    endPosted_ = false;
    if (mode_ == Mode::Stopped || mode_ == Mode::Ended || mode_ == Mode::Failed) {
        setModeLocked(Mode::Holding);
    }
    clock_.rebase(playhead_.ms);
    soundCue_ = mode_ == Mode::Playing;
}

void Port::keepToSoundLocked(int64_t nextMs) {
    if (soundCue_ && clock_.runsAtNormalSpeed()) {
        soundCue_ = false;
        const int64_t ms = clock_.now(nextMs);
        audio_.cue(port_, utf8Path_, ms, soundSeekPos(ms), soundPlacement(), soundPrime_);
        soundPrime_ = false;
    }
    int64_t heard;
    if (audio_.heardMs(&heard)) {
        clock_.follow(heard);
    } else if (playhead_.shown && clock_.runsAtNormalSpeed() && audio_.awaited()) {
        clock_.rebase(nextMs - decoder_.frameDurationMs()); // the picture waits for the sound
    }
}

int64_t Port::soundSeekPos(int64_t ms) {
    // Muxers write sound up to about a second away from its pictures.
    constexpr int64_t kSoundLeadMs = 1000;
    if (!index_.isReady() || index_.count() == 0 || !readsStraightThrough(decoder_.format())) {
        return -1;
    }
    const int frame =
        index_.lastFrameAtOrBefore(decoder_.fromMs(ms - kSoundLeadMs, index_.firstPts()));
    const int key = frame < 0 ? -1 : index_.keyAtOrBefore(frame);
    return key < 0 ? 0 : std::max<int64_t>(0, index_.at(key).pos);
}

std::shared_ptr<const SoundPlacement> Port::soundPlacement() {
    auto placement = std::make_shared<SoundPlacement>();
    const AVStream *st = decoder_.stream();
    placement->pictureBase = st->time_base;
    if (index_.isReady() && index_.count() > 0) {
        placement->originPts = index_.firstPts();
        placement->timeline = index_.timeline();
    } else {
        placement->originPts = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    }
    return placement;
}

void Port::followGrowth() {
    if (!index_.isReady() || !index_.follows()) {
        return;
    }
    // Read without the file lock: queries go on meanwhile, and take it only while the new
    // entries go in.
    FrameIndex::Appended appended;
    if (!index_.readAppended(appended)) {
        return;
    }
    std::lock_guard<std::mutex> file(fileMutex_);
    const int segments = index_.segments();
    index_.takeIn(std::move(appended));
    // Pictures near the old end may have moved up: their numbers are not kept.
    cache_.clear();
    playhead_.pending = {};
    // A decoder that met the old end has taken its last packet as it was then, perhaps cut
    // short, and one that read past it took packets of a new segment as they were stamped: it
    // starts again from a key frame.
    if (decoder_.drained() || index_.segments() != segments) {
        decoder_.restart();
    }
    audio_.place(soundPlacement());
}

void Port::followGrowthFor(int frame) {
    {
        auto file = readFile();
        if (frame < index_.count() - 1 || !index_.follows()) {
            return;
        }
    }
    worker_.run([this] { followGrowth(); });
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
        int64_t ms = static_cast<int64_t>(static_cast<double>(position) * times_.durationMs());
        return std::min(times_.frameAtMs(ms), index_.count() - 1);
    };
    followGrowthFor(frameAt());
    const int frame = frameAt();
    worker_.requestFrame(std::move(api), frame);
}

float Port::playPos() {
    auto file = readFile();
    int64_t total = times_.durationMs();
    if (total <= 0) {
        return 0.0f;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (mode_ == Mode::Ended) {
            return 1.0f;
        }
    }
    double pos = static_cast<double>(playhead_.ms) / static_cast<double>(total);
    return static_cast<float>(std::min(1.0, std::max(0.0, pos)));
}

DWORD Port::fileTimeMs() {
    auto file = readFile();
    return static_cast<DWORD>(times_.durationMs());
}

DWORD Port::playedTimeMs() {
    auto file = readFile();
    return static_cast<DWORD>(std::max<int64_t>(0, playhead_.ms));
}

void Port::setPlayedTimeMs(DWORD ms) {
    refuseOnOwnWorker();
    auto api = enterApi();
    requireOpen();
    auto frameAt = [&] {
        auto file = readFile();
        // Past the end: a growing file may have it by now.
        return static_cast<int64_t>(ms) >= times_.durationMs() ? INT_MAX : times_.frameAtMs(ms);
    };
    followGrowthFor(frameAt());
    const int frame = frameAt();
    if (frame == INT_MAX) {
        throw EngineError{kParameterInvalid};
    }
    worker_.requestFrame(std::move(api), frame);
}

DWORD Port::totalFrames() {
    auto file = readFile();
    index_.waitReady();
    return static_cast<DWORD>(index_.count());
}

DWORD Port::currentFrame() {
    auto file = readFile();
    return static_cast<DWORD>(playhead_.number.load());
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
    worker_.requestFrame(std::move(api), wanted);
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
    worker_.run([&] {
        decoder_.setSkipNonReference(false);
        DecodedFrame frame = positioner_.obtain(playhead_.nextToShow(), playhead_.pending);
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
    worker_.run([&] {
        if (!playhead_.shown || playhead_.number <= 0) {
            throw EngineError{kOrderIncorrect};
        }
        decoder_.setSkipNonReference(false);
        DecodedFrame frame = positioner_.obtainBackward(playhead_.number - 1, playhead_.pending);
        if (!frame) {
            throw EngineError{kDecodeVideo};
        }
        playhead_.pending = {};
        present(std::move(frame));
        std::lock_guard<std::mutex> lock(mutex_);
        setModeLocked(Mode::Holding);
        endPosted_ = false;
    });
}

FramePosition Port::keyFramePos(DWORD value, DWORD type, bool after) {
    auto file = readFile();
    return times_.keyFramePos(value, type, after);
}

} // namespace playctrl
