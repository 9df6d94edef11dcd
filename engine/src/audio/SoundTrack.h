// The sound track of a file, decoded to 16-bit stereo at its own rate, each piece placed on the
// picture's timeline: media time 0 is the first picture, and where the picture's stamps jump
// (Timeline.h) the sound moves with them. Used only by the sound thread.
#ifndef KESTRAVA_PLAYCTRL_SOUNDTRACK_H
#define KESTRAVA_PLAYCTRL_SOUNDTRACK_H

#include "base/FfmpegPtr.h"
#include "demux/Timeline.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace playctrl {

// Where the picture's timeline lies in the file's stamps, as the port knows it at a cue.
struct SoundPlacement {
    AVRational pictureBase{1, 1000};
    int64_t originPts = 0; // the first picture's stamp: media time 0
    Timeline timeline;     // the picture's; where it moves no stamp, the stamps as they are
};

class SoundTrack {
  public:
    struct Piece {
        std::vector<int16_t> samples; // interleaved stereo
        int64_t at = 0;               // media time of the first sample, in samples
        bool timed = false;           // false: it follows the piece before
    };

    // False when the file has no sound this engine can play.
    bool open(const std::string &utf8Path, const std::atomic<bool> *abort);
    int rate() const { return rate_; }
    void place(std::shared_ptr<const SoundPlacement> placement);
    // Makes the sound from media time `ms` on come next: from byte `pos` where the caller knows
    // where that lies (a key picture a while before), else by time.
    void seek(int64_t ms, int64_t pos);
    // The next piece; false when there is none now (the end of what the file holds).
    bool next(Piece &piece);

  private:
    bool convert(Piece &piece);
    void moveOntoTimeline(AVPacket &pkt) const;
    // A file still being written: what was appended is read from the last packet on.
    bool reopenAtEnd();

    FormatContextPtr fmt_;
    CodecContextPtr dec_;
    SwrContextPtr swr_;
    PacketPtr pkt_{av_packet_alloc()};
    FramePtr frame_{av_frame_alloc()};
    AVStream *st_ = nullptr;
    int stream_ = -1;
    int rate_ = 0;
    std::shared_ptr<const SoundPlacement> placement_ = std::make_shared<SoundPlacement>();
    int64_t lastPos_ = -1; // the last packet read
    int64_t endSize_ = -1; // the file's size when its end was met; -1 before
};

} // namespace playctrl

#endif
