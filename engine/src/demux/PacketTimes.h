// What the frame index takes from the packets it reads: entries, times and the usual frame step.
#ifndef KESTRAVA_PLAYCTRL_PACKETTIMES_H
#define KESTRAVA_PLAYCTRL_PACKETTIMES_H

#include "base/FfmpegPtr.h"
#include "demux/DisplayOrder.h"
#include "demux/FrameIndex.h"
#include "demux/Timeline.h"

#include "Owners.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace playctrl {

// The discontinuity flag that a transport stream sets in the packet where its time base starts
// afresh: libavformat reads it but does not hand it on.
class TsDiscontinuity {
  public:
    TsDiscontinuity(const std::string &utf8Path, const AVFormatContext *fmt);
    // Whether the transport packet at byte position `pos` (192-byte packets start with four
    // bytes of their own) carries the flag.
    bool at(int64_t pos) const;

  private:
    kestrava::FileHandle file_;
};

// What the index takes from one packet of its stream; `counter` numbers untimed packets.
IndexEntry entryOf(const AVPacket &pkt, int64_t counter);

// The stream's packets as one reading of the whole file takes them, in decode order.
struct PacketsRead {
    void add(const AVPacket &pkt);

    std::vector<IndexEntry> packets;
    bool everyPts = true;          // every packet carries its presentation time
    std::vector<int64_t> dtsSteps; // from each decoding time to the next

  private:
    int64_t lastDts_ = AV_NOPTS_VALUE;
};

// Puts packets onto a timeline one behind, so that its state before the last one is known:
// the last packet of a reading may have been cut short, and is read again next time.
class TimelineFeed {
  public:
    TimelineFeed(Timeline &timeline, const TsDiscontinuity &discontinuity)
        : timeline_(timeline), discontinuity_(discontinuity) {}
    void add(const AVPacket &pkt);
    // The timeline before the last packet; then the last packet goes onto it too.
    Timeline finish();

  private:
    void flush();
    struct Held {
        int64_t dts, pts, pos;
        bool key;
    };
    Timeline &timeline_;
    const TsDiscontinuity &discontinuity_;
    Held held_{};
    bool holding_ = false;
};

// Packets that each carry their display time: in display order within each segment, and
// segment after segment.
std::vector<IndexEntry> inTimeOrder(std::vector<IndexEntry> packets, const Timeline &timeline);
// Pictures whose order comes from the bitstream, each given the time of its place; `rateTicks`
// is a frame's time at the stream's frame rate.
std::vector<IndexEntry> timedByPlace(const PacketsRead &read,
                                     const std::vector<DisplayOrder::Picture> &pictures,
                                     int64_t rateTicks);

// The middle of the positive steps, 0 if there are none.
int64_t medianStep(std::vector<int64_t> steps);
// Counts (sign 1) or uncounts (-1) the steps from each entry's time to the next that involve
// the entries [from, to).
void countSteps(const std::vector<IndexEntry> &entries, size_t from, size_t to,
                std::map<int64_t, int64_t> &counts, int sign);
// The middle of the counted steps, as medianStep finds it; 0 if there are none.
int64_t medianOf(const std::map<int64_t, int64_t> &counts);

} // namespace playctrl

#endif
