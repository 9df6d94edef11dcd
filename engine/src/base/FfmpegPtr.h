// Owning handles for FFmpeg objects, so every path releases them.
#ifndef KESTRAVA_PLAYCTRL_FFMPEGPTR_H
#define KESTRAVA_PLAYCTRL_FFMPEGPTR_H

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <memory>

namespace playctrl {

struct FrameDeleter {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct CodecContextDeleter {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FormatContextDeleter {
    void operator()(AVFormatContext *f) const { avformat_close_input(&f); }
};
struct SwrContextDeleter {
    void operator()(SwrContext *s) const { swr_free(&s); }
};

using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextDeleter>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextDeleter>;

inline FramePtr cloneFrame(const AVFrame *f) {
    return FramePtr(av_frame_clone(f));
}

} // namespace playctrl

#endif
