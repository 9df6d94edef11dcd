// The video stream of one file: demuxing, decoding in display order, and exact positioning with
// the help of the frame index. Used only by its port's worker thread.
#ifndef KESTRAVA_PLAYCTRL_VIDEODECODER_H
#define KESTRAVA_PLAYCTRL_VIDEODECODER_H

#include "base/FfmpegPtr.h"
#include "demux/FrameIndex.h"
#include "video/DecoderThreads.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

namespace playctrl {

struct DecodedFrame {
    FramePtr frame;
    int number = -1;
    int64_t ms = 0; // display time from the start of the file
    explicit operator bool() const { return frame != nullptr; }
    DecodedFrame clone() const { return {cloneFrame(frame.get()), number, ms}; }
};

class VideoDecoder {
  public:
    // Throws EngineError: kOpenFile, kUnknownFileHeader or kInitDecoder.
    void open(const std::string &utf8Path, const std::atomic<bool> *abort);
    void close();

    AVStream *stream() const { return fmt_->streams[stream_]; }
    int streamIndex() const { return stream_; }
    AVFormatContext *format() const { return fmt_.get(); }
    int64_t frameDurationMs() const;
    // Wall time a picture has taken to come out of next() of late, in microseconds: what the
    // port gets of the machine, with the other ports' decoding counted in.
    int64_t pictureMicros() const { return pictureMicros_; }

    // The next frame in display order, numbered from the index once it is ready (before
    // that, frames count up from zero). Empty at the end of the stream; a decoder out of
    // memory throws kAllocMemory, one that keeps failing kDecodeVideo.
    DecodedFrame next(const FrameIndex *index);

    // Positions the demuxer on the key frame at or before `frame` (earlier if needed).
    void seekBefore(int frame, const FrameIndex &index);
    // Back to the first frame of the file.
    void rewind(const FrameIndex &index);
    void restart();
    // The demuxer met the end of the file: what it held then has gone to the decoder.
    bool drained() const { return drained_; }
    // Number of the last frame returned by next(); -1 right after opening or seeking.
    int lastNumber() const { return lastNumber_; }
    // Whether decoding may go on to lastNumber() + 1: not when the index's times are stamped
    // on packets but packets went in before it was ready, without those times.
    bool continuesWith(const FrameIndex &index) const { return !(unstamped_ && index.restamps()); }
    // Whether every picture shown at or after `pts` can still come out: none of them was left
    // out since the last seek.
    bool keepsAllFrom(int64_t pts) const { return skippedUpTo_ < pts; }

    // Playback leaves out pictures nothing refers to.
    void setSkipNonReference(bool skip);
    // Pictures shown before this time stamp are not wanted: those nothing refers to are
    // left out before they are decoded. AV_NOPTS_VALUE: every picture is wanted.
    void skipUnwantedBefore(int64_t pts) { wantedFrom_ = pts; }
    int64_t toMs(int64_t pts, int64_t firstPts) const;
    int64_t fromMs(int64_t ms, int64_t firstPts) const; // the last time stamp shown at ms

  private:
    bool seeksByBytes() const;
    void timePicture(std::chrono::steady_clock::time_point start);
    void forgetEnd();

    DecoderThreads threads_; // outlives codec_, whose threads it counts
    FormatContextPtr fmt_;
    CodecContextPtr codec_;
    PacketPtr packet_;
    int stream_ = -1;
    bool drained_ = false;
    bool metEnd_ = false; // the file's end was read since the last seek
    int lastNumber_ = -1;
    bool unstamped_ = false; // packets were sent without the index since the last seek
    bool skipNonReference_ = false;
    int64_t wantedFrom_ = AV_NOPTS_VALUE;
    int64_t skippedUpTo_ = INT64_MIN; // the latest picture that may have been left out
    int64_t pictureMicros_ = 0;
};

// Leaves out unwanted pictures while decoding towards a target, and no longer.
class WantedFrom {
  public:
    WantedFrom(VideoDecoder &decoder, int64_t pts) : decoder_(decoder) {
        decoder_.skipUnwantedBefore(pts);
    }
    ~WantedFrom() { decoder_.skipUnwantedBefore(AV_NOPTS_VALUE); }
    WantedFrom(const WantedFrom &) = delete;
    WantedFrom &operator=(const WantedFrom &) = delete;

  private:
    VideoDecoder &decoder_;
};

} // namespace playctrl

#endif
