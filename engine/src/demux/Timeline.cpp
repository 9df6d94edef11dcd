#include "demux/Timeline.h"

extern "C" {
#include <libavutil/avutil.h>
}

#include <algorithm>
#include <climits>

namespace playctrl {

namespace {
// More frame intervals than this between two packets is a jump, not frames a recorder dropped.
constexpr int64_t kJumpFrames = 10;
constexpr int64_t kSoundSlackFrames = 50;
} // namespace

void Timeline::reset(int64_t headerTicks) {
    segments_.clear();
    headerTicks_ = std::max<int64_t>(headerTicks, 1);
    lastDts_ = 0;
    haveDts_ = false;
    unstamped_ = 0;
    step_ = 0;
}

bool Timeline::jumps(int64_t dts, bool key) const {
    if (dts == AV_NOPTS_VALUE || !haveDts_) {
        return false;
    }
    const int64_t step = dts - lastDts_;
    const int64_t limit = kJumpFrames * (step_ > 0 ? step_ : headerTicks_) * (unstamped_ + 1);
    // Backwards at a key frame, where a recording starts; elsewhere only by more than the limit,
    // as streams that give B-frames their display time as decoding time go back a little.
    return step > limit || step < -limit || (step < 0 && key);
}

int Timeline::add(int64_t dts, int64_t pts, int64_t pos, bool key, bool discontinuity) {
    // A flagged discontinuity counts where decoding can start afresh, at a key frame.
    const bool jumped = jumps(dts, key) || (discontinuity && key && !segments_.empty());
    if (segments_.empty() || jumped) {
        if (!segments_.empty()) {
            segments_.back().interval = step_ > 0 ? step_ : headerTicks_;
        }
        segments_.push_back({pos < 0 ? INT64_MAX : pos, INT64_MAX, INT64_MIN, 0, 0});
    }
    if (dts != AV_NOPTS_VALUE) {
        if (haveDts_ && !jumped && dts > lastDts_) {
            step_ = (dts - lastDts_) / (unstamped_ + 1);
        }
        lastDts_ = dts;
        haveDts_ = true;
        unstamped_ = 0;
    } else if (haveDts_) {
        ++unstamped_;
    }
    Segment &s = segments_.back();
    if (s.startPos == INT64_MAX && pos >= 0) {
        s.startPos = pos;
    }
    const int64_t ts = pts != AV_NOPTS_VALUE ? pts : dts;
    if (ts != AV_NOPTS_VALUE) {
        s.lastPts = std::max(s.lastPts, ts);
        if (ts < s.firstPts) {
            s.firstPts = ts;
            placeLast();
        }
    }
    return segments() - 1;
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
    auto after = std::upper_bound(segments_.begin(), segments_.end(), pos,
                                  [](int64_t p, const Segment &s) { return p < s.startPos; });
    return after == segments_.begin() ? 0 : (after - 1)->offset;
}

int Timeline::segmentFor(int64_t pos, int64_t pts) const {
    const int count = segments();
    auto after = std::upper_bound(segments_.begin(), segments_.end(), pos,
                                  [](int64_t p, const Segment &s) { return p < s.startPos; });
    const int byPos = std::max(0, static_cast<int>(after - segments_.begin()) - 1);
    if (count < 2 || pts == AV_NOPTS_VALUE) {
        return byPos;
    }
    // Muxers keep sound within about a second of its pictures.
    const int64_t slack = kSoundSlackFrames * headerTicks_;
    for (int s : {byPos, byPos + 1, byPos - 1}) {
        if (s >= 0 && s < count && segments_[s].firstPts != INT64_MAX &&
            pts >= segments_[s].firstPts - slack && pts <= segments_[s].lastPts + slack) {
            return s;
        }
    }
    return byPos;
}

} // namespace playctrl
