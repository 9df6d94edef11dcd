#include "VideoDecoder.h"

#include "Errors.h"
#include "MediaInput.h"

#include <algorithm>

extern "C" {
#include <libavutil/mathematics.h>
}

namespace playctrl {

void VideoDecoder::open(const std::string &utf8Path, const std::atomic<bool> *abort) {
    fmt_ = openInput(utf8Path, abort);
    stream_ = bestStream(fmt_.get(), AVMEDIA_TYPE_VIDEO);
    if (stream_ < 0)
        throw EngineError{kUnknownFileHeader};
    for (unsigned i = 0; i < fmt_->nb_streams; ++i)
        if (static_cast<int>(i) != stream_)
            fmt_->streams[i]->discard = AVDISCARD_ALL;
    AVCodecParameters *par = stream()->codecpar;
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    if (!codec)
        throw EngineError{kInitDecoder};
    codec_.reset(avcodec_alloc_context3(codec));
    if (!codec_ || avcodec_parameters_to_context(codec_.get(), par) < 0)
        throw EngineError{kInitDecoder};
    codec_->thread_count = 0;
    codec_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    codec_->pkt_timebase = stream()->time_base;
    if (avcodec_open2(codec_.get(), codec, nullptr) < 0)
        throw EngineError{kInitDecoder};
    packet_.reset(av_packet_alloc());
    if (!packet_)
        throw EngineError{kAllocMemory};
}

void VideoDecoder::close() {
    codec_.reset();
    fmt_.reset();
    packet_.reset();
    stream_ = -1;
}

int64_t VideoDecoder::frameDurationMs() const {
    AVRational rate = stream()->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        rate = stream()->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0)
        return 40;
    return av_rescale(1000, rate.den, rate.num);
}

int64_t VideoDecoder::toMs(int64_t pts, int64_t firstPts) const {
    return av_rescale_q(pts - firstPts, stream()->time_base, AVRational{1, 1000});
}

int64_t VideoDecoder::fromMs(int64_t ms, int64_t firstPts) const {
    return firstPts + av_rescale_q(ms, AVRational{1, 1000}, stream()->time_base);
}

DecodedFrame VideoDecoder::next(const FrameIndex *index) {
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw EngineError{kAllocMemory};
    for (;;) {
        int rc = avcodec_receive_frame(codec_.get(), frame.get());
        if (rc == 0) {
            int64_t pts = frame->best_effort_timestamp;
            int number = -1;
            if (index && pts != AV_NOPTS_VALUE)
                number = index->frameForPts(pts);
            if (number < 0)
                number = lastNumber_ + 1;
            lastNumber_ = number;
            int64_t first = index ? index->firstPts() : 0;
            if (index && pts != AV_NOPTS_VALUE)
                return {std::move(frame), number, toMs(pts, first)};
            return {std::move(frame), number, number * frameDurationMs()};
        }
        if (rc != AVERROR(EAGAIN) || drained_)
            return {};
        rc = av_read_frame(fmt_.get(), packet_.get());
        if (rc < 0) {
            drained_ = true;
            avcodec_send_packet(codec_.get(), nullptr);
            continue;
        }
        if (packet_->stream_index == stream_)
            avcodec_send_packet(codec_.get(), packet_.get()); // a damaged packet is skipped
        av_packet_unref(packet_.get());
    }
}

void VideoDecoder::seekBefore(int frame, const FrameIndex &index) {
    int key = index.count() ? index.keyAtOrBefore(std::min(frame, index.count() - 1)) : -1;
    bool sought = false;
    if (key >= 0) {
        const IndexEntry &e = index.at(key);
        // The key frame's own display time: every demuxer's seek table holds key frames at or
        // before it, and the next key frame only later, so the seek lands on this one.
        int64_t ts = e.pts;
        sought = av_seek_frame(fmt_.get(), stream_, ts, AVSEEK_FLAG_BACKWARD) >= 0;
    }
    if (!sought) {
        // Streams without a seek table: back to the first byte, then decode forward.
        key = 0;
        if (avio_seek(fmt_->pb, 0, SEEK_SET) < 0 ||
            avformat_seek_file(fmt_.get(), -1, INT64_MIN, 0, INT64_MAX, AVSEEK_FLAG_BYTE) < 0)
            av_seek_frame(fmt_.get(), stream_, INT64_MIN, AVSEEK_FLAG_ANY);
    }
    avcodec_flush_buffers(codec_.get());
    drained_ = false;
    lastNumber_ = key - 1;
}

void VideoDecoder::setSkipNonReference(bool skip) {
    if (codec_)
        codec_->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
}

} // namespace playctrl
