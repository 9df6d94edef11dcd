#include "video/VideoDecoder.h"

#include "base/Errors.h"
#include "demux/MediaInput.h"

#include <algorithm>
#include <chrono>

extern "C" {
#include <libavutil/mathematics.h>
}

namespace playctrl {

void VideoDecoder::open(const std::string &utf8Path, const std::atomic<bool> *abort) {
    // A file played to its end before leaves the decoder drained.
    drained_ = false;
    metEnd_ = false;
    lastNumber_ = -1;
    skippedUpTo_ = INT64_MIN;
    pictureMicros_ = 0;
    fmt_ = openInput(utf8Path, abort);
    stream_ = bestStream(fmt_.get(), AVMEDIA_TYPE_VIDEO);
    if (stream_ < 0) {
        throw EngineError{kUnknownFileHeader};
    }
    for (unsigned i = 0; i < fmt_->nb_streams; ++i) {
        if (static_cast<int>(i) != stream_) {
            fmt_->streams[i]->discard = AVDISCARD_ALL;
        }
    }
    AVCodecParameters *par = stream()->codecpar;
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    if (!codec) {
        throw EngineError{kInitDecoder};
    }
    codec_.reset(avcodec_alloc_context3(codec));
    if (!codec_ || avcodec_parameters_to_context(codec_.get(), par) < 0) {
        throw EngineError{kInitDecoder};
    }
    codec_->thread_count = threads_.take();
    codec_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    codec_->pkt_timebase = stream()->time_base;
    if (avcodec_open2(codec_.get(), codec, nullptr) < 0) {
        throw EngineError{kInitDecoder};
    }
    packet_.reset(av_packet_alloc());
    if (!packet_) {
        throw EngineError{kAllocMemory};
    }
}

void VideoDecoder::close() {
    codec_.reset();
    threads_.release();
    fmt_.reset();
    packet_.reset();
    stream_ = -1;
    unstamped_ = false;
}

int64_t VideoDecoder::frameDurationMs() const {
    AVRational rate = frameRateOf(stream());
    return av_rescale(1000, rate.den, rate.num);
}

int64_t VideoDecoder::toMs(int64_t pts, int64_t firstPts) const {
    return av_rescale_q(pts - firstPts, stream()->time_base, AVRational{1, 1000});
}

int64_t VideoDecoder::fromMs(int64_t ms, int64_t firstPts) const {
    // The last time stamp that toMs rounds to `ms` or less: in coarse time bases (AVI's is
    // one frame) rounding to the nearest would name the next frame.
    return firstPts +
           av_rescale_q_rnd(2 * ms + 1, AVRational{1, 2000}, stream()->time_base, AV_ROUND_UP) - 1;
}

namespace {
constexpr int kMaxFailuresInARow = 64;

int64_t shift(int64_t ts, int64_t offset) {
    return ts == AV_NOPTS_VALUE ? ts : ts + offset;
}

void failIfOutOfMemory(int rc) {
    if (rc == AVERROR(ENOMEM)) {
        throw EngineError{kAllocMemory};
    }
}

// A damaged picture is left out; a decoder that fails on and on is broken.
void countFailure(int rc, int &failures) {
    failIfOutOfMemory(rc);
    if (++failures > kMaxFailuresInARow) {
        throw EngineError{kDecodeVideo};
    }
}
} // namespace

DecodedFrame VideoDecoder::next(const FrameIndex *index) {
    const auto start = std::chrono::steady_clock::now();
    FramePtr frame(av_frame_alloc());
    if (!frame) {
        throw EngineError{kAllocMemory};
    }
    int failures = 0;
    for (;;) {
        int rc = avcodec_receive_frame(codec_.get(), frame.get());
        if (rc == 0) {
            timePicture(start);
            int64_t pts = frame->best_effort_timestamp;
            int number = -1;
            if (index && pts != AV_NOPTS_VALUE) {
                number = index->frameForPts(pts);
            }
            if (number < 0) {
                number = lastNumber_ + 1;
            }
            lastNumber_ = number;
            int64_t first = index ? index->firstPts() : 0;
            if (index && pts != AV_NOPTS_VALUE) {
                return {std::move(frame), number, toMs(pts, first)};
            }
            return {std::move(frame), number, number * frameDurationMs()};
        }
        failIfOutOfMemory(rc);
        if (rc == AVERROR_EOF || (rc == AVERROR(EAGAIN) && drained_)) {
            return {};
        }
        if (rc != AVERROR(EAGAIN)) {
            countFailure(rc, failures);
            continue;
        }
        rc = av_read_frame(fmt_.get(), packet_.get());
        failIfOutOfMemory(rc);
        if (rc < 0) {
            drained_ = true;
            metEnd_ = true;
            avcodec_send_packet(codec_.get(), nullptr);
            continue;
        }
        rc = 0;
        if (packet_->stream_index == stream_) {
            if (index && index->timedByOrder()) {
                packet_->pts = index->ptsForPacket(packet_->pos);
                packet_->dts = AV_NOPTS_VALUE;
            } else if (index && index->joined()) {
                // By position: across joins the same stamp may stand for several pictures.
                const int64_t offset = index->offsetAt(packet_->pos);
                packet_->pts = shift(packet_->pts, offset);
                packet_->dts = shift(packet_->dts, offset);
            }
            unstamped_ = unstamped_ || !index;
            bool unwanted = wantedFrom_ != AV_NOPTS_VALUE && packet_->pts != AV_NOPTS_VALUE &&
                            packet_->pts < wantedFrom_;
            // Read by the decoder per packet, frame threads included.
            codec_->skip_frame =
                skipNonReference_ || unwanted ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
            if (skipNonReference_ || unwanted) {
                skippedUpTo_ = packet_->pts == AV_NOPTS_VALUE
                                   ? INT64_MAX
                                   : std::max(skippedUpTo_, packet_->pts);
            }
            rc = avcodec_send_packet(codec_.get(), packet_.get());
        }
        av_packet_unref(packet_.get());
        if (rc < 0 && rc != AVERROR(EAGAIN)) {
            countFailure(rc, failures);
        }
    }
}

void VideoDecoder::timePicture(std::chrono::steady_clock::time_point start) {
    const int64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::steady_clock::now() - start)
                               .count();
    // An average over the last several pictures, from nothing: neither one slow key picture
    // nor the first pictures of a decoder still starting count alone.
    pictureMicros_ += (micros - pictureMicros_) / 8;
}

void VideoDecoder::seekBefore(int frame, const FrameIndex &index) {
    forgetEnd();
    int key = index.count() ? index.keyAtOrBefore(std::min(frame, index.count() - 1)) : -1;
    bool sought = false;
    if (key > 0) {
        const IndexEntry &e = index.at(key);
        if (seeksByBytes()) {
            sought = e.pos >= 0 &&
                     avformat_seek_file(fmt_.get(), -1, e.pos, e.pos, e.pos, AVSEEK_FLAG_BYTE) >= 0;
        } else {
            // The key frame's own display time: seek tables hold key frames at or before it
            // and the next key frame only later, so the demuxer lands on this one.
            sought = av_seek_frame(fmt_.get(), stream_, e.seekTs, AVSEEK_FLAG_BACKWARD) >= 0;
        }
    }
    if (!sought) {
        rewind(index);
        key = 0;
    }
    avcodec_flush_buffers(codec_.get());
    drained_ = false;
    unstamped_ = false;
    skippedUpTo_ = INT64_MIN;
    lastNumber_ = key - 1;
}

bool VideoDecoder::seeksByBytes() const {
    // A time seek there is a guess, while the key packet's byte position from the index is
    // exact.
    return readsStraightThrough(fmt_.get());
}

void VideoDecoder::forgetEnd() {
    // A seek inside the buffer would not reach the file, whose end the runtime remembers: what
    // was appended to it since would stay unread.
    if (metEnd_ && fmt_->pb) {
        avio_flush(fmt_->pb);
        metEnd_ = false;
    }
}

void VideoDecoder::rewind(const FrameIndex &index) {
    forgetEnd();
    if (seeksByBytes() && avformat_seek_file(fmt_.get(), -1, 0, 0, 0, AVSEEK_FLAG_BYTE) >= 0) {
        return;
    }
    int64_t first = index.count() ? index.at(0).seekTs : INT64_MIN;
    if (av_seek_frame(fmt_.get(), stream_, first, AVSEEK_FLAG_BACKWARD) < 0) {
        av_seek_frame(fmt_.get(), stream_, first, AVSEEK_FLAG_ANY);
    }
}

void VideoDecoder::restart() {
    avcodec_flush_buffers(codec_.get());
    drained_ = false;
    unstamped_ = false;
    skippedUpTo_ = INT64_MIN;
    lastNumber_ = -1;
}

void VideoDecoder::setSkipNonReference(bool skip) {
    skipNonReference_ = skip;
}

} // namespace playctrl
