#include "video/Positioner.h"

#include "base/Errors.h"

namespace playctrl {

DecodedFrame Positioner::obtain(int number, DecodedFrame &pending) {
    if (DecodedFrame hit = cache_.find(number)) {
        return hit;
    }
    if (pending && pending.number == number) {
        return std::move(pending);
    }
    pending = {};
    return forwardTo(number);
}

DecodedFrame Positioner::obtainBackward(int number, DecodedFrame &pending) {
    if (DecodedFrame hit = cache_.find(number)) {
        return hit;
    }
    pending = {};
    return backTo(number);
}

DecodedFrame Positioner::forwardTo(int number) {
    index_.waitReady();
    if (number >= index_.count() && index_.count() > 0) {
        return {};
    }
    if (decoder_.lastNumber() + 1 == number && decoder_.continuesWith(index_)) {
        DecodedFrame frame = decoder_.next(&index_);
        while (frame && frame.number < number) {
            frame = decoder_.next(&index_);
        }
        return frame;
    }
    // Of the pictures before the target only those it depends on are decoded; the ones
    // decoded are kept, so stepping back from it costs less.
    const int64_t pts = number < index_.count() ? index_.at(number).pts : AV_NOPTS_VALUE;
    const bool onward = goesOnTo(number, pts);
    if (!onward) {
        cache_.clear();
    }
    const int keepFrom = cache_.keepFrom(number);
    WantedFrom wanted(decoder_, pts);
    DecodedFrame frame = onward ? decoder_.next(&index_) : fromKeyFrame(number);
    for (; frame && frame.number < number; frame = decoder_.next(&index_)) {
        if (frame.number >= keepFrom) {
            cache_.keep(frame);
        }
        stopIfSuperseded();
    }
    return frame;
}

// A target later in the group the decoder is in costs less from where it stands than from the
// key frame: a drag along the timeline mostly moves on a few frames.
bool Positioner::goesOnTo(int number, int64_t pts) const {
    const int last = decoder_.lastNumber();
    return last >= 0 && last < number && index_.keyAtOrBefore(number) <= last &&
           decoder_.continuesWith(index_) && pts != AV_NOPTS_VALUE && decoder_.keepsAllFrom(pts);
}

void Positioner::stopIfSuperseded() const {
    if (newest_ && newest_->load() != request_) {
        throw Superseded{};
    }
}

DecodedFrame Positioner::backTo(int number) {
    index_.waitReady();
    cache_.clear();
    const int keepFrom = cache_.keepFrom(number);
    for (DecodedFrame frame = fromKeyFrame(number); frame; frame = decoder_.next(&index_)) {
        if (frame.number >= keepFrom && frame.number <= number) {
            cache_.keep(frame);
        }
        if (frame.number >= number) {
            return frame;
        }
    }
    return {};
}

// Seeks to a key frame before `number` and returns the first frame decoded there; when the
// demuxer lands past the frame wanted, an earlier key frame is tried.
DecodedFrame Positioner::fromKeyFrame(int number) {
    int target = number;
    for (int attempt = 0; attempt < 3; ++attempt) {
        stopIfSuperseded();
        decoder_.seekBefore(target, index_);
        DecodedFrame frame = decoder_.next(&index_);
        if (frame && frame.number <= number) {
            return frame;
        }
        int key = index_.keyAtOrBefore(target);
        target = key > 0 ? key - 1 : 0;
    }
    // Last resort: decode from the very start.
    decoder_.rewind(index_);
    decoder_.restart();
    DecodedFrame frame = decoder_.next(&index_);
    if (frame && frame.number > number) {
        throw EngineError{kDecodeVideo};
    }
    return frame;
}

} // namespace playctrl
