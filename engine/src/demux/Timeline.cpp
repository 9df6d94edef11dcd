#include "demux/Timeline.h"

extern "C" {
#include <libavutil/avutil.h>
}

#include <algorithm>
#include <climits>
#include <iterator>

namespace playctrl {

namespace {
// A leap must be longer than this many recent frame intervals, and than this many seconds:
// recorders slow down to a frame every few seconds while nothing moves, and that is no gap.
constexpr int64_t kJumpFrames = 10;
constexpr int64_t kGapSeconds = 60;
// A new time base counts once this many packets after its first keep to it.
constexpr int kPersist = 3;
} // namespace

void Timeline::reset(int64_t headerTicks, int64_t second, bool joins) {
    *this = Timeline{};
    headerTicks_ = std::max<int64_t>(headerTicks, 1);
    second_ = std::max<int64_t>(second, 1);
    joins_ = joins;
}

int64_t Timeline::longestStep() const {
    const int64_t longest = *std::max_element(std::begin(steps_), std::end(steps_));
    return longest > 0 ? longest : headerTicks_;
}

// Whether the step from stamp `from` to `to`, `frames` pictures on, is a true gap.
bool Timeline::leaps(int64_t from, int64_t to, bool key, int64_t frames) const {
    const int64_t interval = longestStep();
    const int64_t step = to - from;
    const int64_t forward =
        std::max(kGapSeconds * second_, kJumpFrames * interval) + (frames - 1) * interval;
    return step > forward || (step < 0 && (key || step < -kJumpFrames * interval * frames));
}

namespace {
int64_t timeOf(int64_t dts, int64_t pts) {
    return pts != AV_NOPTS_VALUE ? pts : dts;
}
} // namespace

void Timeline::add(int64_t dts, int64_t pts, int64_t pos, bool key, bool discontinuity) {
    const Packet p{dts, pts, pos, key};
    if (segments_.empty() || (joins_ && discontinuity && key)) {
        placeOutliers(pending_.size());
        begin(p);
        return;
    }
    const int64_t ts = timeOf(dts, pts);
    const int64_t latest = segments_.back().lastPts;
    if (!joins_ || (pending_.empty() && (ts == AV_NOPTS_VALUE || latest == INT64_MIN ||
                                         !leaps(latest, ts, key, untimed_ + 1)))) {
        accept(p);
        return;
    }
    waitFor(p);
}

// A packet after a leap: the leap persists, or comes back, or another one starts.
void Timeline::waitFor(const Packet &p) {
    const int64_t ts = timeOf(p.dts, p.pts);
    pending_.push_back(p);
    if (pending_.size() > 1 && ts == AV_NOPTS_VALUE) {
        ++runUntimed_;
        return;
    }
    if (pending_.size() > 1 && !leaps(runLatest_, ts, p.key, runUntimed_ + 1)) {
        runLatest_ = std::max(runLatest_, ts);
        runUntimed_ = 0;
        if (++runLength_ < kPersist) {
            return;
        }
        placeOutliers(runFrom_);
        const std::vector<Packet> run = std::move(pending_);
        pending_.clear();
        begin(run.front());
        for (size_t i = 1; i < run.size(); ++i) {
            accept(run[i]);
        }
        return;
    }
    const int64_t frames = untimed_ + static_cast<int64_t>(pending_.size());
    if (pending_.size() > 1 && !leaps(segments_.back().lastPts, ts, p.key, frames)) {
        placeOutliers(pending_.size() - 1);
        pending_.clear();
        accept(p);
        return;
    }
    runFrom_ = pending_.size() - 1;
    runLatest_ = ts;
    runUntimed_ = 0;
    runLength_ = 0;
}

// Where the recording's own pace puts the picture of the pending packet at index `at`.
int64_t Timeline::outlierShift(const Packet &p, size_t at) const {
    const int64_t ts = timeOf(p.dts, p.pts);
    const int64_t latest = segments_.back().lastPts;
    if (ts == AV_NOPTS_VALUE || latest == INT64_MIN) {
        return 0;
    }
    const int64_t frames = untimed_ + static_cast<int64_t>(at) + 1;
    return latest + frames * (step_ > 0 ? step_ : headerTicks_) - ts;
}

// The first `count` pending packets are damage: each keeps the segment's pace.
void Timeline::placeOutliers(size_t count) {
    for (size_t i = 0; i < count; ++i) {
        if (pending_[i].pos >= 0) {
            pieces_.push_back({pending_[i].pos, segments() - 1, outlierShift(pending_[i], i)});
        }
    }
    untimed_ += static_cast<int64_t>(count);
    unstamped_ += static_cast<int64_t>(count);
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(count));
}

void Timeline::begin(const Packet &p) {
    if (!segments_.empty()) {
        segments_.back().interval = step_ > 0 ? step_ : headerTicks_;
    }
    const int64_t start = p.pos < 0 ? INT64_MAX : p.pos;
    segments_.push_back({start, INT64_MAX, INT64_MIN, 0, 0});
    pieces_.push_back({start, segments() - 1, 0});
    std::fill(std::begin(steps_), std::end(steps_), 0);
    step_ = 0;
    accept(p, true);
}

void Timeline::accept(const Packet &p, bool fresh) {
    if (!pieces_.empty() && pieces_.back().shift != 0 && p.pos >= 0) {
        pieces_.push_back({p.pos, segments() - 1, 0}); // on after outliers
    }
    if (p.dts != AV_NOPTS_VALUE) {
        // A step that leaps is no frame interval: a new recording's first pictures may carry
        // the old one's decoding times.
        if (haveDts_ && !fresh && p.dts > lastDts_ &&
            !leaps(lastDts_, p.dts, false, unstamped_ + 1)) {
            step_ = (p.dts - lastDts_) / (unstamped_ + 1);
            steps_[stepAt_] = step_;
            stepAt_ = (stepAt_ + 1) % static_cast<int>(std::size(steps_));
        }
        lastDts_ = p.dts;
        haveDts_ = true;
        unstamped_ = 0;
    } else if (haveDts_) {
        ++unstamped_;
    }
    Segment &s = segments_.back();
    if (s.startPos == INT64_MAX && p.pos >= 0) {
        s.startPos = p.pos;
        pieces_.back().startPos = p.pos;
    }
    const int64_t ts = timeOf(p.dts, p.pts);
    if (ts == AV_NOPTS_VALUE) {
        ++untimed_;
        return;
    }
    untimed_ = 0;
    s.lastPts = std::max(s.lastPts, ts);
    if (ts < s.firstPts) {
        s.firstPts = ts;
        placeLast();
    }
}

// The last segment starts one frame interval after the latest picture of the one before.
void Timeline::placeLast() {
    if (segments_.size() < 2) {
        return;
    }
    Segment &s = segments_.back();
    const Segment &before = segments_[segments_.size() - 2];
    s.offset = before.lastPts == INT64_MIN
                   ? before.offset
                   : before.lastPts + before.offset + before.interval - s.firstPts;
}

int64_t Timeline::offsetAt(int64_t pos) const {
    if (!pending_.empty() && pos >= pending_.front().pos) {
        for (size_t i = 0; i < pending_.size(); ++i) {
            if (pending_[i].pos == pos) {
                return segments_.back().offset + outlierShift(pending_[i], i);
            }
        }
    }
    auto after = std::upper_bound(pieces_.begin(), pieces_.end(), pos,
                                  [](int64_t p, const Piece &piece) { return p < piece.startPos; });
    if (after == pieces_.begin()) {
        return 0;
    }
    const Piece &piece = *(after - 1);
    return segments_[piece.segment].offset + piece.shift;
}

int64_t Timeline::settledBefore() const {
    if (segments_.size() > 1) {
        const Segment &before = segments_[segments_.size() - 2];
        return before.lastPts == INT64_MIN ? INT64_MIN
                                           : before.lastPts + before.offset + before.interval;
    }
    if (!pending_.empty() && segments_.back().lastPts != INT64_MIN) {
        return segments_.back().lastPts + segments_.back().offset + 1;
    }
    return pending_.empty() ? INT64_MAX : INT64_MIN;
}

int64_t Timeline::map(int64_t ts, int64_t pos) const {
    auto after = std::upper_bound(pieces_.begin(), pieces_.end(), pos,
                                  [](int64_t p, const Piece &piece) { return p < piece.startPos; });
    const int at = after == pieces_.begin() ? 0 : (after - 1)->segment;
    // Sound a little ahead of or behind its pictures may lie across a join from them.
    for (int segment : {at, at + 1, at - 1}) {
        if (segment >= 0 && segment < segments() && ts >= segments_[segment].firstPts - second_ &&
            ts <= segments_[segment].lastPts + second_) {
            return ts + segments_[segment].offset;
        }
    }
    return ts + (segments_.empty() ? 0 : segments_[at].offset);
}

} // namespace playctrl
