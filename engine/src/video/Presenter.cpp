#include "video/Presenter.h"

#include "Owners.h"

namespace playctrl {

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
