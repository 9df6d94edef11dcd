// Times and key frames of the open file, from its index and the stream's time base. Each call
// waits for the index; callers hold the port's file lock.
#ifndef KESTRAVA_PLAYCTRL_FRAMETIMES_H
#define KESTRAVA_PLAYCTRL_FRAMETIMES_H

#include "demux/FrameIndex.h"
#include "video/VideoDecoder.h"

#include "PlayM4.h"

#include <cstdint>

namespace playctrl {

class FrameTimes {
  public:
    FrameTimes(FrameIndex &index, const VideoDecoder &decoder) : index_(index), decoder_(decoder) {}

    int64_t durationMs();
    // The frame shown at `ms`, at least 0.
    int frameAtMs(int64_t ms);
    // The key frame at or before (or after) a frame number (type 1) or a time in ms (type 2).
    FramePosition keyFramePos(DWORD value, DWORD type, bool after);

  private:
    FrameIndex &index_;
    const VideoDecoder &decoder_;
};

} // namespace playctrl

#endif
