#include "port/PlaybackPacer.h"

#include <climits>

namespace playctrl {

namespace {
// Playback that is behind the clock still shows a late frame when it has shown none for this
// long.
constexpr auto kLongestBlank = std::chrono::milliseconds(100);
// A writer that has written nothing for this long has finished.
constexpr int64_t kWriterPauseMs = 2000;
// Decoding that takes more than this share of a frame interval wins back too little time by
// skipping a late picture for the work thrown away with it.
constexpr int64_t kSkipWorthPercent = 75;
} // namespace

// Make sure the next frame is decoded, wait for its time, show it. A frame the clock has passed
// by more than a frame interval is not shown when the display callback is slower, nor mostly
// when decoding is, unless skipping it would not catch up (showsLate).
void PlaybackPacer::step(std::unique_lock<std::mutex> &lock) {
    Playhead &head = p_.playhead;
    int want = head.nextToPlay();
    // Skipped non-reference frames leave gaps, so a later frame than wanted is fine.
    if (!head.pending || head.pending.number < want) {
        lock.unlock();
        DecodedFrame next = decodeToPlay(want);
        lock.lock();
        if (!next) {
            host_.reachedEndLocked();
            return;
        }
        head.pending = std::move(next);
        return; // look at commands before waiting for the frame's time
    }
    host_.keepToSoundLocked(head.pending.ms);
    auto due = p_.clock.due(head.pending.ms);
    if (std::chrono::steady_clock::now() < due) {
        p_.wake.wait_until(lock, due);
        return;
    }
    if (holdsCutOff(lock)) {
        return;
    }
    if (tooLate(head.pending)) {
        head.skippedThrough = head.pending.number;
        head.pending = {};
        return;
    }
    DecodedFrame frame = std::move(head.pending);
    lock.unlock();
    host_.present(std::move(frame));
    lock.lock();
}

// The last packet of a file being written may have been cut short: its picture waits until
// the writer appends more, when it is read again whole, or stops writing. Meanwhile the clock
// stands, so that playback goes on from there at its pace.
bool PlaybackPacer::holdsCutOff(std::unique_lock<std::mutex> &lock) {
    Playhead &head = p_.playhead;
    const auto now = std::chrono::steady_clock::now();
    if (!p_.index.isReady() || !p_.index.follows() || head.pending.number < p_.index.count() - 1 ||
        (holding_ && now - holdingSince_ >= std::chrono::milliseconds(kWriterPauseMs))) {
        holding_ = false;
        return false;
    }
    lock.unlock();
    const bool writing = p_.index.writtenWithin(kWriterPauseMs);
    if (writing) {
        host_.followGrowth();
    }
    lock.lock();
    if (!head.pending) { // the file grew: the picture is read again
        holding_ = false;
        p_.clock.rebase(head.ms);
        return true;
    }
    if (!writing) {
        holding_ = false;
        return false;
    }
    if (!holding_) {
        holding_ = true;
        holdingSince_ = now;
    }
    p_.wake.wait_for(lock, std::chrono::milliseconds(50));
    return true;
}

bool PlaybackPacer::tooLate(const DecodedFrame &frame) const {
    if (frame.ms >= p_.clock.lateBefore(p_.decoder.frameDurationMs())) {
        return false;
    }
    // The last frame is shown however late: playback ends on it.
    if (p_.index.isReady() && frame.number >= p_.index.count() - 1) {
        return false;
    }
    if (showsLate() && p_.index.isReady()) {
        // Until the clock reaches the key frame playback goes on from.
        const int key = p_.index.keyAfter(frame.number);
        if (key < 0 || p_.clock.now(p_.playhead.ms) < msOf(key)) {
            return false;
        }
    }
    // Where decoding alone cannot keep up, showing what it manages costs little and gains
    // a picture now and then.
    return std::chrono::steady_clock::now() - p_.playhead.shownAt < kLongestBlank;
}

// Late pictures are shown rather than skipped where skipping cannot catch up: decoding alone
// takes most of a frame interval (many ports sharing few cores). Playback then keeps to the
// clock at key frames. Not with sound, whose clock the picture follows, nor faster than normal.
bool PlaybackPacer::showsLate() const {
    if (p_.audio.audible() || !p_.clock.runsAtMostNormalSpeed()) {
        return false;
    }
    return p_.decoder.pictureMicros() * 100 >
           p_.decoder.frameDurationMs() * 1000 * kSkipWorthPercent;
}

int64_t PlaybackPacer::msOf(int frame) const {
    return p_.decoder.toMs(p_.index.at(frame).pts, p_.index.firstPts());
}

DecodedFrame PlaybackPacer::decodeToPlay(int number) {
    VideoDecoder &decoder = p_.decoder;
    FrameIndex &index = p_.index;
    if (!index.isReady()) {
        // Until the index is complete the decoder goes on from where it stands and counts the
        // frames itself, so that a long file plays at once; frames it would number wrongly
        // without the index (left-out pictures) are all decoded.
        decoder.setSkipNonReference(false);
        if (decoder.lastNumber() + 1 == number) {
            return decoder.next(nullptr);
        }
        return p_.positioner.obtain(number, p_.playhead.pending); // elsewhere: waits for the index
    }
    if (number >= index.count() - 1) {
        host_.followGrowth();
    }
    decoder.setSkipNonReference(p_.skipNonReference);
    const int64_t lateBefore = p_.clock.lateBefore(decoder.frameDurationMs());
    if (lateBefore == INT64_MIN) {
        return p_.positioner.obtain(number, p_.playhead.pending);
    }
    const int64_t first = index.firstPts();
    const int64_t lastLatePts = decoder.fromMs(lateBefore - 1, first);
    // Once every frame before the key frame at the clock is late, playback goes on from that
    // key frame instead of decoding them. Showing late pictures, once behind, it goes there as
    // soon as the clock will have reached it when the picture is out, which is then on time.
    const bool showLate = showsLate();
    int64_t clockMs = p_.clock.now(p_.playhead.ms);
    if (showLate) {
        clockMs += decoder.pictureMicros() / 1000;
    }
    int key = index.keyAtOrBefore(index.lastFrameAtOrBefore(decoder.fromMs(clockMs, first)));
    const bool behind = showLate ? number < index.count() && index.at(number).pts <= lastLatePts
                                 : key - 1 <= index.lastFrameAtOrBefore(lastLatePts);
    if (key > number && behind) {
        number = key;
    }
    // Late pictures that nothing refers to are not decoded at all.
    WantedFrom passed(decoder, lastLatePts + 1);
    return p_.positioner.obtain(number, p_.playhead.pending);
}

} // namespace playctrl
