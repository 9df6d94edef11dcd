#include "video/FrameConverter.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace playctrl {

FrameConverter::~FrameConverter() {
    sws_freeContext(sws_);
}

const std::vector<uint8_t> &FrameConverter::convert(const AVFrame *frame, AVPixelFormat format,
                                                    int width, int height) {
    const int w = width > 0 ? width : frame->width, h = height > 0 ? height : frame->height;
    int size = av_image_get_buffer_size(format, w, h, 1);
    if (size <= 0) {
        out_.clear();
        return out_;
    }
    out_.resize(static_cast<size_t>(size));
    uint8_t *dst[4];
    int dstStride[4];
    av_image_fill_arrays(dst, dstStride, out_.data(), format, w, h, 1);
    if (frame->format == format && w == frame->width && h == frame->height) {
        av_image_copy(dst, dstStride, const_cast<const uint8_t **>(frame->data), frame->linesize,
                      format, w, h);
        return out_;
    }
    sws_ = sws_getCachedContext(sws_, frame->width, frame->height,
                                static_cast<AVPixelFormat>(frame->format), w, h, format,
                                SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws_) {
        out_.clear();
        return out_;
    }
    sws_scale(sws_, frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    return out_;
}

} // namespace playctrl
