// The port's positioning calls and the queries of where it stands (the class: Port.h).
#include "port/Port.h"

#include <algorithm>
#include <climits>

namespace playctrl {

void Port::followGrowthFor(int frame) {
    {
        auto file = readFile();
        if (frame < index_.count() - 1 || !index_.follows()) {
            return;
        }
    }
    worker_.run([this] { transport_.followGrowth(); });
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
        if (transport_.endedLocked()) {
            return 1.0f;
        }
    }
    double pos = static_cast<double>(transport_.ms()) / static_cast<double>(total);
    return static_cast<float>(std::min(1.0, std::max(0.0, pos)));
}

DWORD Port::fileTimeMs() {
    auto file = readFile();
    return static_cast<DWORD>(times_.durationMs());
}

DWORD Port::playedTimeMs() {
    auto file = readFile();
    return static_cast<DWORD>(std::max<int64_t>(0, transport_.ms()));
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
    return static_cast<DWORD>(transport_.number());
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
    *width = transport_.width();
    *height = transport_.height();
}

void Port::stepForward() {
    refuseOnOwnWorker();
    auto api = enterApi();
    requireOpen();
    worker_.run([&] { transport_.stepForward(); });
}

void Port::stepBack() {
    refuseOnOwnWorker();
    auto api = enterApi();
    requireOpen();
    worker_.run([&] { transport_.stepBack(); });
}

FramePosition Port::keyFramePos(DWORD value, DWORD type, bool after) {
    auto file = readFile();
    return times_.keyFramePos(value, type, after);
}

} // namespace playctrl
