// One continuous timeline for a file whose time stamps jump: recorders that record on motion,
// and exports that join recordings, write streams whose stamps leap forwards (a gap of minutes
// or hours) or backwards (an older recording after a newer one). The video packets, taken in
// file order, fall into segments at every jump, and each segment is placed on the timeline
// right after the one before it, one frame interval on. Packets may be added at any time: every
// segment but the last is final, and the last one's place settles with its first pictures.
#ifndef KESTRAVA_PLAYCTRL_TIMELINE_H
#define KESTRAVA_PLAYCTRL_TIMELINE_H

#include <cstdint>
#include <vector>

namespace playctrl {

class Timeline {
  public:
    // Starts afresh for a stream whose header gives this frame interval, in its time base.
    void reset(int64_t headerTicks);

    // The next packet of the stream in file order: its decoding and presentation time stamps
    // (AV_NOPTS_VALUE where it has none), byte position (-1 if unknown), whether decoding may
    // start there, and whether the container says its time base starts afresh there. Returns
    // its segment.
    int add(int64_t dts, int64_t pts, int64_t pos, bool key, bool discontinuity);

    int segments() const { return static_cast<int>(segments_.size()); }
    // What moves a segment's own time stamps onto the timeline; 0 for the first.
    int64_t offset(int segment) const { return segments_[segment].offset; }
    // The offset of the segment that holds the packet at byte position `pos`.
    int64_t offsetAt(int64_t pos) const;
    // The segment of a packet of another stream of the file (the sound), at byte position `pos`
    // with stamp `pts` in this stream's time base: near a join a muxer may write it on the other
    // side of the picture that starts a segment, so its stamp decides between neighbours.
    int segmentFor(int64_t pos, int64_t pts) const;

  private:
    struct Segment {
        int64_t startPos; // byte position of its first packet
        int64_t firstPts; // its earliest presentation time stamp
        int64_t lastPts;  // its latest
        int64_t offset;   // moves its stamps onto the timeline
        int64_t interval; // the frame interval that follows it on the timeline
    };
    bool jumps(int64_t dts, bool key) const;
    void placeLast();

    std::vector<Segment> segments_;
    int64_t headerTicks_ = 0;
    int64_t lastDts_ = 0;
    bool haveDts_ = false;
    int unstamped_ = 0; // packets without a decoding time since the last one with
    int64_t step_ = 0;  // the latest regular step from one packet's decoding time to the next
};

} // namespace playctrl

#endif
