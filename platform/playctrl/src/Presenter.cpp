#include "Presenter.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace playctrl {

FrameConverter::~FrameConverter() {
    sws_freeContext(sws_);
}

const std::vector<uint8_t> &FrameConverter::convert(const AVFrame *frame, AVPixelFormat format,
                                                    int rowAlign) {
    const int w = frame->width, h = frame->height;
    int size = av_image_get_buffer_size(format, w, h, rowAlign);
    if (size <= 0) {
        out_.clear();
        return out_;
    }
    out_.resize(static_cast<size_t>(size));
    uint8_t *dst[4];
    int dstStride[4];
    av_image_fill_arrays(dst, dstStride, out_.data(), format, w, h, rowAlign);
    if (frame->format == format) {
        av_image_copy(dst, dstStride, const_cast<const uint8_t **>(frame->data), frame->linesize,
                      format, w, h);
        return out_;
    }
    sws_ = sws_getCachedContext(sws_, w, h, static_cast<AVPixelFormat>(frame->format), w, h, format,
                                SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws_) {
        out_.clear();
        return out_;
    }
    sws_scale(sws_, frame->data, frame->linesize, 0, h, dst, dstStride);
    return out_;
}

const std::vector<uint8_t> &Presenter::yuv420(const AVFrame *frame) {
    return yuv_.convert(frame, AV_PIX_FMT_YUV420P);
}

void Presenter::draw(HWND window, const AVFrame *frame) {
    if (!window || !IsWindow(window))
        return;
    RECT client;
    if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0)
        return;
    const std::vector<uint8_t> &pixels = bgra_.convert(frame, AV_PIX_FMT_BGRA);
    if (pixels.empty())
        return;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = frame->width;
    info.bmiHeader.biHeight = -frame->height; // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(window);
    if (!dc)
        return;
    SetStretchBltMode(dc, HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, frame->width, frame->height,
                  pixels.data(), &info, DIB_RGB_COLORS, SRCCOPY);
    ReleaseDC(window, dc);
}

} // namespace playctrl
