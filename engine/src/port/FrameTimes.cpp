#include "port/FrameTimes.h"

#include "base/Errors.h"

#include <algorithm>

namespace playctrl {

int64_t FrameTimes::durationMs() {
    index_.waitReady();
    if (index_.count() == 0) {
        return 0;
    }
    int64_t last = index_.at(index_.count() - 1).pts;
    if (index_.frameTicks() > 0) {
        return decoder_.toMs(last + index_.frameTicks(), index_.firstPts());
    }
    return decoder_.toMs(last, index_.firstPts()) + decoder_.frameDurationMs();
}

int FrameTimes::frameAtMs(int64_t ms) {
    index_.waitReady();
    int frame = index_.lastFrameAtOrBefore(decoder_.fromMs(ms, index_.firstPts()));
    return std::max(frame, 0);
}

FramePosition FrameTimes::keyFramePos(DWORD value, DWORD type, bool after) {
    index_.waitReady();
    int frame;
    if (type == 1) {
        frame = static_cast<int>(std::min<DWORD>(value, 0x7FFFFFFF));
    } else if (type == 2) {
        frame = frameAtMs(value);
    } else {
        throw EngineError{kParameterInvalid};
    }
    if (frame >= index_.count()) {
        throw EngineError{kParameterInvalid};
    }
    int key = after ? index_.keyAfter(frame) : index_.keyAtOrBefore(frame);
    if (key < 0) {
        throw EngineError{kParameterInvalid};
    }
    const IndexEntry &e = index_.at(key);
    FramePosition position = {};
    position.word1 = static_cast<LONG>(e.pos);
    position.frameNum = key;
    position.words3to7[0] = static_cast<LONG>(decoder_.toMs(e.pts, index_.firstPts()));
    return position;
}

} // namespace playctrl
