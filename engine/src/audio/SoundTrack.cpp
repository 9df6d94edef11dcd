#include "audio/SoundTrack.h"

#include "demux/MediaInput.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
}

namespace playctrl {

namespace {
// Sought this much early, the decoder has settled by the moment wanted.
constexpr int64_t kPrerollMs = 200;
} // namespace

bool SoundTrack::open(const std::string &utf8Path, const std::atomic<bool> *abort) {
    fmt_ = openSoundInput(utf8Path, abort, &stream_);
    if (stream_ < 0 || !pkt_ || !frame_) {
        return false;
    }
    AVFormatContext *fmt = fmt_.get();
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        fmt->streams[i]->discard =
            static_cast<int>(i) == stream_ ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    st_ = fmt->streams[stream_];
    const AVCodec *codec = avcodec_find_decoder(st_->codecpar->codec_id);
    if (!codec) {
        return false;
    }
    dec_.reset(avcodec_alloc_context3(codec));
    AVCodecContext *dec = dec_.get();
    if (!dec || avcodec_parameters_to_context(dec, st_->codecpar) < 0) {
        return false;
    }
    dec->pkt_timebase = st_->time_base;
    if (avcodec_open2(dec, codec, nullptr) < 0) {
        return false;
    }
    rate_ = dec->sample_rate > 0 ? dec->sample_rate : 44100;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext *rawSwr = nullptr;
    if (swr_alloc_set_opts2(&rawSwr, &stereo, AV_SAMPLE_FMT_S16, rate_, &dec->ch_layout,
                            dec->sample_fmt, rate_, 0, nullptr) < 0 ||
        swr_init(rawSwr) < 0) {
        swr_free(&rawSwr);
        return false;
    }
    swr_.reset(rawSwr);
    return true;
}

void SoundTrack::place(std::shared_ptr<const SoundPlacement> placement) {
    placement_ = std::move(placement);
}

void SoundTrack::seek(int64_t ms, int64_t pos) {
    if (endSize_ >= 0 && fmt_->pb) {
        avio_flush(fmt_->pb); // the seek reaches the file, whose end may have moved
        endSize_ = -1;
    }
    bool sought =
        pos >= 0 && avformat_seek_file(fmt_.get(), -1, pos, pos, pos, AVSEEK_FLAG_BYTE) >= 0;
    if (!sought) {
        const SoundPlacement &p = *placement_;
        // Never before the track's first stamp: some demuxers (AVI's) fail such a seek and are
        // left part way into the file, so the start of the sound would never be heard.
        const int64_t start = st_->start_time != AV_NOPTS_VALUE ? st_->start_time : 0;
        const int64_t ts =
            std::max(start, av_rescale_q(p.originPts, p.pictureBase, st_->time_base) +
                                av_rescale_q(ms - kPrerollMs, AVRational{1, 1000}, st_->time_base));
        if (av_seek_frame(fmt_.get(), stream_, ts, AVSEEK_FLAG_BACKWARD) < 0) {
            av_seek_frame(fmt_.get(), stream_, start, AVSEEK_FLAG_BACKWARD);
        }
    }
    avcodec_flush_buffers(dec_.get());
}

bool SoundTrack::next(Piece &piece) {
    for (;;) {
        if (avcodec_receive_frame(dec_.get(), frame_.get()) == 0) {
            if (convert(piece)) {
                return true;
            }
            continue;
        }
        // Damaged sound is left out: the next packet is read.
        if (av_read_frame(fmt_.get(), pkt_.get()) < 0) {
            if (reopenAtEnd()) {
                continue;
            }
            return false;
        }
        if (pkt_->stream_index == stream_) {
            lastPos_ = pkt_->pos >= 0 ? pkt_->pos : lastPos_;
            moveOntoTimeline(*pkt_);
            avcodec_send_packet(dec_.get(), pkt_.get());
        }
        av_packet_unref(pkt_.get());
    }
}

bool SoundTrack::convert(Piece &piece) {
    AVFrame *frame = frame_.get();
    const int64_t pts = frame->best_effort_timestamp;
    piece.timed = pts != AV_NOPTS_VALUE;
    if (piece.timed) {
        const SoundPlacement &p = *placement_;
        const int64_t origin = av_rescale_q(p.originPts, p.pictureBase, st_->time_base);
        piece.at = av_rescale_q(pts - origin, st_->time_base, AVRational{1, rate_});
    }
    const int room = swr_get_out_samples(swr_.get(), frame->nb_samples);
    if (room <= 0) {
        av_frame_unref(frame);
        return false;
    }
    piece.samples.resize(static_cast<size_t>(room) * 2);
    uint8_t *out = reinterpret_cast<uint8_t *>(piece.samples.data());
    const int got =
        swr_convert(swr_.get(), &out, room, const_cast<const uint8_t **>(frame->extended_data),
                    frame->nb_samples);
    av_frame_unref(frame);
    if (got <= 0) {
        return false;
    }
    piece.samples.resize(static_cast<size_t>(got) * 2);
    return true;
}

void SoundTrack::moveOntoTimeline(AVPacket &pkt) const {
    const SoundPlacement &p = *placement_;
    const int64_t ts = pkt.pts != AV_NOPTS_VALUE ? pkt.pts : pkt.dts;
    if (!p.timeline.moves() || ts == AV_NOPTS_VALUE) {
        return;
    }
    const int64_t inPicture = av_rescale_q(ts, st_->time_base, p.pictureBase);
    const int64_t shift =
        av_rescale_q(p.timeline.map(inPicture, pkt.pos) - inPicture, p.pictureBase, st_->time_base);
    if (pkt.pts != AV_NOPTS_VALUE) {
        pkt.pts += shift;
    }
    if (pkt.dts != AV_NOPTS_VALUE) {
        pkt.dts += shift;
    }
}

bool SoundTrack::reopenAtEnd() {
    if (!fmt_->pb || !readsStraightThrough(fmt_.get()) || lastPos_ < 0) {
        return false;
    }
    const int64_t size = avio_size(fmt_->pb);
    if (endSize_ < 0) {
        endSize_ = size;
        return false;
    }
    if (size <= endSize_) {
        return false;
    }
    // The last packet may have been cut short: it is read again, and its sound, already played,
    // is placed where it was and left out.
    avio_flush(fmt_->pb);
    endSize_ = -1;
    return avformat_seek_file(fmt_.get(), -1, lastPos_, lastPos_, lastPos_, AVSEEK_FLAG_BYTE) >= 0;
}

} // namespace playctrl
