// Every video frame of the file in display order: time stamp, key flag and where to seek for
// it. Built on a background thread from the packets alone, so it is exact without decoding.
// Where the container lacks a presentation time for some pictures (bare streams, AVI), the
// order comes from the bitstream and each picture is given the time of its place at the
// stream's frame rate; the decoder then stamps packets with these times (ptsForPacket).
// Where the stamps jump (joined or motion-triggered recordings), times are those of the
// file's continuous timeline (Timeline.h), and the decoder moves packets onto it (offsetAt).
#ifndef KESTRAVA_PLAYCTRL_FRAMEINDEX_H
#define KESTRAVA_PLAYCTRL_FRAMEINDEX_H

#include "base/FfmpegPtr.h"
#include "base/ModuleThread.h"
#include "demux/Timeline.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace playctrl {

struct IndexEntry {
    int64_t pts; // display time on the file's timeline, in the stream's time base
    int64_t pos; // byte position of the packet, -1 if unknown
    bool key;
    int64_t seekTs;  // the packet's own time stamp, as a demuxer's seek finds it
    int64_t filePts; // the time the file gives the picture, the recorder's clock for one
};

class FrameIndex {
  public:
    ~FrameIndex() { stop(); }

    // Starts building for `port`; onDone runs on the builder thread once the index is complete.
    void start(LONG port, const std::string &utf8Path, int stream, std::function<void()> onDone);
    void stop();

    // Blocks until the index is built. Queries below are valid afterwards.
    void waitReady();
    bool isReady() const { return ready_.load(); }
    bool isBuilderThread() const { return builder_.isCurrent(); }

    int count() const { return static_cast<int>(entries_.size()); }
    const IndexEntry &at(int frame) const { return entries_[frame]; }
    int frameForPts(int64_t pts) const;         // exact match, or -1
    int lastFrameAtOrBefore(int64_t pts) const; // -1 if none
    int keyAtOrBefore(int frame) const;         // -1 if none
    int keyAfter(int frame) const;              // -1 if none
    int64_t firstPts() const { return entries_.empty() ? 0 : entries_.front().pts; }
    // The usual time from one frame to the next, in the stream's time base; 0 if unknown.
    int64_t frameTicks() const { return frameTicks_; }
    // Whether times were given from the display order; then the time of the picture that the
    // packet at this byte position yields, or AV_NOPTS_VALUE.
    bool timedByOrder() const { return !packetPts_.empty(); }
    int64_t ptsForPacket(int64_t pos) const;
    // Whether the timeline moves some of the file's stamps; then what moves the packet at this
    // byte position onto it.
    bool joined() const { return timeline_.moves(); }
    int64_t offsetAt(int64_t pos) const { return timeline_.offsetAt(pos); }
    // For the streams of the file: their stamps' place on the timeline (Timeline::map), read as
    // the queries above.
    const Timeline &timeline() const { return timeline_; }
    // Whether decoded pictures carry the index's times only if the decoder stamps packets.
    bool restamps() const { return timedByOrder() || joined(); }

    // A file still being written, timed by its packets and read straight through, can be
    // followed. readAppended() reads what was appended since the last reading, from the last
    // packet read on (it may have been cut short then), touching nothing that queries read, so
    // it runs without the port's file lock; interrupt() stops it. takeIn() then adds it in a
    // moment: only the new entries, and those whose place may still change, are sorted. The
    // count never goes down. Only on the thread that positions the decoder.
    struct Appended {
        std::vector<IndexEntry> entries; // in file order, the packet read again first
        Timeline timeline, beforeLast;
        int64_t lastPos = 0, readTo = 0;
    };
    bool follows() const { return input_ != nullptr; }
    bool readAppended(Appended &appended);
    void takeIn(Appended appended);
    void interrupt() { abort_ = true; }
    // Whether the followed file was written to within the last `ms` milliseconds.
    bool writtenWithin(int64_t ms) const;
    int segments() const { return timeline_.segments(); }

    // For tests and tools: builds synchronously from an already sorted packet list.
    void assign(std::vector<IndexEntry> packets);

  private:
    void build(std::string path, int stream, std::function<void()> onDone);
    std::vector<IndexEntry> read(const std::string &path, int stream);

    std::vector<IndexEntry> entries_; // written by the builder, read only once ready_
    std::vector<int> keys_;           // frame numbers of key frames, ascending
    std::vector<std::pair<int64_t, int64_t>> packetPts_; // (byte position, pts), by position
    Timeline timeline_; // written by the builder, read only once ready_
    int64_t frameTicks_ = 0;
    // Kept for following a growing file: its demuxer, the last packet read (in file order),
    // the timeline before that packet went onto it, how far the file was read, and how often
    // each step from one entry's time to the next occurs (for frameTicks_).
    FormatContextPtr input_;
    std::string path_;
    int stream_ = -1;
    int64_t lastPos_ = 0;
    Timeline beforeLast_;
    int64_t readTo_ = 0;
    std::map<int64_t, int64_t> stepCounts_;
    std::atomic<bool> ready_{false};
    std::atomic<bool> abort_{false};
    std::mutex mutex_; // guards ready_ transitions for waitReady
    std::condition_variable readyChanged_;
    ModuleThread builder_;
};

} // namespace playctrl

#endif
