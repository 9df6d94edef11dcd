#include "port/PresentationClock.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace playctrl {

namespace {
constexpr int kSlowestLevel = -4, kFastestLevel = 4;
// Wall time by which a wait may overrun on its own: Windows' timer tick is 15.6 ms. No frame
// is late for less.
constexpr int kJitterMs = 20;
// The device's position moves in steps of its period: the clock takes half of each difference,
// and all of one this large (the sound started, or came back).
constexpr int64_t kFollowJumpMs = 100;

double speedOf(int level) {
    return std::ldexp(1.0, level);
}
} // namespace

void PresentationClock::reset() {
    std::lock_guard<std::mutex> lock(lock_);
    running_ = false;
    resync_ = true;
    speedLevel_ = 0;
}

void PresentationClock::run() {
    std::lock_guard<std::mutex> lock(lock_);
    running_ = true;
}

void PresentationClock::hold() {
    std::lock_guard<std::mutex> lock(lock_);
    running_ = false;
}

void PresentationClock::resyncAtNextFrame() {
    std::lock_guard<std::mutex> lock(lock_);
    resync_ = true;
}

void PresentationClock::rebase(int64_t ms) {
    std::lock_guard<std::mutex> lock(lock_);
    rebaseLocked(ms);
}

void PresentationClock::rebaseLocked(int64_t ms) {
    wall_ = std::chrono::steady_clock::now();
    media_ = ms;
    resync_ = false;
}

PresentationClock::TimePoint PresentationClock::due(int64_t ms) {
    std::lock_guard<std::mutex> lock(lock_);
    if (resync_) {
        rebaseLocked(ms);
    }
    double wallMs = static_cast<double>(ms - media_) / speedOf(speedLevel_);
    return wall_ + std::chrono::microseconds(static_cast<int64_t>(wallMs * 1000.0));
}

int64_t PresentationClock::nowLocked(int64_t shownMs) const {
    if (!running_ || resync_) {
        return shownMs;
    }
    auto elapsed = std::chrono::steady_clock::now() - wall_;
    double ms = std::chrono::duration<double, std::milli>(elapsed).count() * speedOf(speedLevel_);
    return media_ + static_cast<int64_t>(ms);
}

int64_t PresentationClock::now(int64_t shownMs) {
    std::lock_guard<std::mutex> lock(lock_);
    return nowLocked(shownMs);
}

int64_t PresentationClock::lateBefore(int64_t intervalMs) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!running_ || resync_) {
        return INT64_MIN;
    }
    // Faster than normal the interval counts in wall time: a frame is skipped only once it is
    // a whole frame interval late to the eye.
    const double speed = std::max(1.0, speedOf(speedLevel_));
    const double slack = std::max<double>(intervalMs, kJitterMs) * speed;
    return nowLocked(0) - static_cast<int64_t>(slack);
}

bool PresentationClock::runsAtNormalSpeed() {
    std::lock_guard<std::mutex> lock(lock_);
    return running_ && speedLevel_ == 0;
}

void PresentationClock::follow(int64_t heardMs) {
    std::lock_guard<std::mutex> lock(lock_);
    if (!running_ || resync_ || speedLevel_ != 0) {
        return;
    }
    const int64_t now = nowLocked(0);
    const int64_t error = heardMs - now;
    rebaseLocked(error > kFollowJumpMs || error < -kFollowJumpMs ? heardMs : now + error / 2);
}

bool PresentationClock::runsAtMostNormalSpeed() {
    std::lock_guard<std::mutex> lock(lock_);
    return running_ && speedLevel_ <= 0;
}

bool PresentationClock::step(int delta, int64_t shownMs) {
    std::lock_guard<std::mutex> lock(lock_);
    int level = speedLevel_ + delta;
    if (level < kSlowestLevel || level > kFastestLevel) {
        return false;
    }
    int64_t now = nowLocked(shownMs);
    speedLevel_ = level;
    rebaseLocked(now);
    return true;
}

bool PresentationClock::faster(int64_t shownMs) {
    return step(1, shownMs);
}

bool PresentationClock::slower(int64_t shownMs) {
    return step(-1, shownMs);
}

void PresentationClock::normalSpeed() {
    std::lock_guard<std::mutex> lock(lock_);
    speedLevel_ = 0;
}

} // namespace playctrl
