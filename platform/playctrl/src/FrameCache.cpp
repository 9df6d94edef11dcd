#include "FrameCache.h"

#include <algorithm>

namespace playctrl {

namespace {
// Frames kept for stepping back: the budget bounds memory for large pictures.
constexpr size_t kBudgetBytes = 96u << 20;
constexpr size_t kMinFrames = 12, kMaxFrames = 64;
} // namespace

void FrameCache::setFrameBytes(size_t bytes) {
    limit_ = std::min(kMaxFrames, std::max(kMinFrames, kBudgetBytes / std::max<size_t>(bytes, 1)));
}

DecodedFrame FrameCache::find(int number) const {
    auto hit = frames_.find(number);
    return hit != frames_.end() ? hit->second.clone() : DecodedFrame{};
}

void FrameCache::keep(const DecodedFrame &frame) {
    frames_[frame.number] = frame.clone();
}

void FrameCache::remember(const DecodedFrame &frame) {
    if (!frames_.empty() &&
        (frame.number < frames_.begin()->first - 1 || frame.number > frames_.rbegin()->first + 1))
        frames_.clear();
    if (frames_.count(frame.number) == 0)
        frames_[frame.number] = frame.clone();
    while (frames_.size() > limit_) {
        // Drop the end farthest from the frame just shown.
        if (frame.number - frames_.begin()->first > frames_.rbegin()->first - frame.number)
            frames_.erase(frames_.begin());
        else
            frames_.erase(std::prev(frames_.end()));
    }
}

} // namespace playctrl
