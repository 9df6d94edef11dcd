// One continuous timeline for a file whose time stamps jump: exports that join recordings byte
// for byte, and recorders that stop while nothing moves, write streams whose stamps leap
// forwards (a gap of minutes or hours) or backwards (an older recording after a newer one).
//
// The rule. The file's own time is kept wherever the recorder kept recording, at any rate.
// Video packets, taken in file order, start a new segment only at a true gap in their
// presentation times (the first pictures of a new recording may still carry decoding times
// of the old one):
// - a step forward from the latest picture longer than a minute and than ten of the
//   recording's recent frame intervals (the longest of its last few steps);
// - a step back at a key frame, or by more than ten intervals anywhere (B-frames step back a
//   little);
// - a transport stream's discontinuity flag at a key frame (counts at once).
// A step of the first two kinds counts only once the new stamps persist, for a few packets.
// Stamps that leap and come back are damage: those packets are outliers, placed where the
// recording's own pace puts them, and the segment goes on. Only containers read straight
// through (transport and program streams, bare streams) are joined this way; MP4 and Matroska
// carry the exact times of one recording and are kept as they are.
//
// The mapping. Each segment is placed on the timeline one frame interval after the latest
// picture of the one before. A stamp of the packet at byte position `pos` maps to the timeline
// as `stamp + offsetAt(pos)`, in the video stream's time base: by the piece of the file the
// packet lies in (a segment, or an outlier). A packet of another stream converts its stamp to
// that time base first and goes through `map`, which uses the video segment in effect at its
// position, or the neighbouring segment whose own stamps hold the stamp (sound near a join).
//
// Packets may be added at any time. Segments but the last are final; the last one's place
// settles with its first pictures, and packets waiting to persist are outliers until they do.
#ifndef KESTRAVA_PLAYCTRL_TIMELINE_H
#define KESTRAVA_PLAYCTRL_TIMELINE_H

#include <cstdint>
#include <vector>

namespace playctrl {

class Timeline {
  public:
    // Starts afresh for a stream whose header gives this frame interval and this second, in its
    // time base; `joins`: whether the container's stamps may jump.
    void reset(int64_t headerTicks, int64_t second, bool joins);

    // The next packet of the stream in file order: its decoding and presentation time stamps
    // (AV_NOPTS_VALUE where it has none), byte position (-1 if unknown), whether decoding may
    // start there, and whether the container says its time base starts afresh there.
    void add(int64_t dts, int64_t pts, int64_t pos, bool key, bool discontinuity);

    int segments() const { return static_cast<int>(segments_.size()); }
    // Whether any stamp moves: the file's stamps jump, or some packets are outliers.
    bool moves() const { return pieces_.size() > 1 || !pending_.empty(); }
    int64_t offset(int segment) const { return segments_[segment].offset; }
    // Whether packets wait for a leap to persist: their place is not yet final.
    bool waiting() const { return !pending_.empty(); }
    // The timeline time from which places may still change as packets are added: the last
    // segment's (its offset settles with its first pictures), or the waiting packets'.
    int64_t settledBefore() const;
    // What moves the stamps of the video packet at byte position `pos` onto the timeline.
    int64_t offsetAt(int64_t pos) const;
    // A stamp of any stream at byte position `pos`, already in the video's time base, on the
    // timeline.
    int64_t map(int64_t ts, int64_t pos) const;

  private:
    struct Segment {
        int64_t startPos; // byte position of its first packet
        int64_t firstPts; // its earliest presentation time stamp
        int64_t lastPts;  // its latest
        int64_t offset;   // moves its stamps onto the timeline
        int64_t interval; // the frame interval that follows it on the timeline
    };
    // A stretch of the file by byte position: a segment's packets, or one outlier.
    struct Piece {
        int64_t startPos;
        int segment;
        int64_t shift; // added to the segment's offset: an outlier's move to its place
    };
    struct Packet {
        int64_t dts, pts, pos;
        bool key;
    };

    bool leaps(int64_t from, int64_t to, bool key, int64_t frames) const;
    int64_t longestStep() const;
    void begin(const Packet &p);
    void accept(const Packet &p, bool fresh = false);
    void waitFor(const Packet &p);
    void placeOutliers(size_t count);
    int64_t outlierShift(const Packet &p, size_t at) const;
    void placeLast();

    std::vector<Segment> segments_;
    std::vector<Piece> pieces_; // by startPos
    int64_t headerTicks_ = 1;
    int64_t second_ = 1;
    bool joins_ = false;
    int64_t lastDts_ = 0;
    bool haveDts_ = false;
    int64_t unstamped_ = 0; // packets without a decoding time since the last one with
    int64_t untimed_ = 0;   // packets without any time stamp since the last one with
    int64_t step_ = 0;      // the latest regular step per frame
    int64_t steps_[8] = {}; // the last few of them
    int stepAt_ = 0;
    // Packets since a leap, waiting for its new stamps to persist or to come back; the newest
    // run of them that keeps to one pace starts at runFrom_.
    std::vector<Packet> pending_;
    size_t runFrom_ = 0;
    int64_t runLatest_ = 0; // its latest presentation time
    int64_t runUntimed_ = 0;
    int runLength_ = 0;
};

} // namespace playctrl

#endif
