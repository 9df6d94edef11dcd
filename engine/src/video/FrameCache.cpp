#include "video/FrameCache.h"

#include <algorithm>
#include <atomic>

namespace playctrl {

namespace {
// A 32-bit process has 2 GB of address space; the decoders need most of the rest.
constexpr size_t kProcessBudget = size_t(256) << 20;
// Below this the cache is no help for stepping back.
constexpr size_t kMinFrames = 3;

std::atomic<int> openCaches{0};
} // namespace

void FrameCache::open(size_t frameBytes) {
    close();
    frameBytes_ = std::max<size_t>(frameBytes, 1);
    open_ = true;
    ++openCaches;
}

void FrameCache::close() {
    clear();
    if (open_) {
        --openCaches;
    }
    open_ = false;
}

size_t FrameCache::share() const {
    return kProcessBudget / static_cast<size_t>(std::max(1, openCaches.load()));
}

size_t FrameCache::capacity() const {
    return std::max(kMinFrames, share() / std::max<size_t>(frameBytes_, 1));
}

size_t FrameCache::bytesOf(const AVFrame *frame) {
    size_t bytes = 0;
    for (const AVBufferRef *buf : frame->buf) {
        if (buf) {
            bytes += buf->size;
        }
    }
    for (int i = 0; i < frame->nb_extended_buf; ++i) {
        bytes += frame->extended_buf[i]->size;
    }
    return bytes;
}

DecodedFrame FrameCache::find(int number) const {
    auto hit = frames_.find(number);
    return hit != frames_.end() ? hit->second.clone() : DecodedFrame{};
}

void FrameCache::insert(const DecodedFrame &frame) {
    DecodedFrame copy = frame.clone();
    if (!copy) {
        throw std::bad_alloc();
    }
    auto old = frames_.find(frame.number);
    if (old != frames_.end()) {
        bytes_ -= bytesOf(old->second.frame.get());
        frames_.erase(old);
    }
    bytes_ += bytesOf(copy.frame.get());
    frames_.emplace(frame.number, std::move(copy));
}

void FrameCache::keep(const DecodedFrame &frame) {
    insert(frame);
    trim(frame.number);
}

void FrameCache::remember(const DecodedFrame &frame) {
    if (!frames_.empty() &&
        (frame.number < frames_.begin()->first - 1 || frame.number > frames_.rbegin()->first + 1)) {
        clear();
    }
    if (frames_.count(frame.number) == 0) {
        insert(frame);
    }
    trim(frame.number);
}

// Drops the end farthest from `around` while over this port's share, down to a few frames.
void FrameCache::trim(int around) {
    const size_t limit = share();
    while (frames_.size() > kMinFrames && bytes_ > limit) {
        auto victim = around - frames_.begin()->first > frames_.rbegin()->first - around
                          ? frames_.begin()
                          : std::prev(frames_.end());
        bytes_ -= bytesOf(victim->second.frame.get());
        frames_.erase(victim);
    }
}

void FrameCache::clear() {
    frames_.clear();
    bytes_ = 0;
}

} // namespace playctrl
