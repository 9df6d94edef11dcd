#include "video/Presenter.h"

#include "Owners.h"

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

const std::vector<uint8_t> &Presenter::yuv420(const AVFrame *frame) {
    return yuv_.convert(frame, AV_PIX_FMT_YUV420P);
}

void Presenter::draw(HWND window, const AVFrame *frame) {
    if (!window || !IsWindow(window)) {
        return;
    }
    RECT client;
    if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) {
        return;
    }
    // Scaling once, straight to the window's size, costs less than GDI stretching.
    const int w = client.right, h = client.bottom;
    const std::vector<uint8_t> &pixels = bgra_.convert(frame, AV_PIX_FMT_BGRA, w, h);
    if (pixels.empty()) {
        return;
    }
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h; // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    const kestrava::WindowDc dc(window);
    if (!dc) {
        return;
    }
    SetDIBitsToDevice(dc.get(), 0, 0, w, h, 0, 0, 0, h, pixels.data(), &info, DIB_RGB_COLORS);
}

} // namespace playctrl
