// Decoded frames around the one on screen, so that stepping back and short moves cost no
// decoding. One budget serves the whole process: the open ports share it evenly.
// Worker-only: no lock (the shared budget is an atomic count).
#ifndef KESTRAVA_PLAYCTRL_FRAMECACHE_H
#define KESTRAVA_PLAYCTRL_FRAMECACHE_H

#include "video/VideoDecoder.h"

#include <cstddef>
#include <map>

namespace playctrl {

class FrameCache {
  public:
    FrameCache() = default;
    ~FrameCache() { close(); }
    FrameCache(const FrameCache &) = delete;
    FrameCache &operator=(const FrameCache &) = delete;

    // Takes a share of the budget for a file whose pictures take `frameBytes` each, and
    // gives it back.
    void open(size_t frameBytes);
    void close();

    // A new reference to frame `number`, or an empty frame.
    DecodedFrame find(int number) const;
    // The first frame worth keeping while decoding towards `target`.
    int keepFrom(int target) const { return target - static_cast<int>(capacity()) + 1; }
    // Keeps a frame decoded on the way to a target.
    void keep(const DecodedFrame &frame);
    // Keeps the frame just shown, dropping what lies farthest from it.
    void remember(const DecodedFrame &frame);
    void clear();

    // What the pictures of a frame really take.
    static size_t bytesOf(const AVFrame *frame);

  private:
    size_t share() const;
    size_t capacity() const; // frames that fit this port's share
    void insert(const DecodedFrame &frame);
    void trim(int around);

    std::map<int, DecodedFrame> frames_; // by frame number
    size_t bytes_ = 0;                   // what frames_ holds
    size_t frameBytes_ = 0;              // one picture of the open file
    bool open_ = false;
};

} // namespace playctrl

#endif
