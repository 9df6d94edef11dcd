// Turns a decoded frame into what leaves the engine: a packed planar YUV 4:2:0 buffer for the
// display callback, and a picture stretched into the host's window with GDI.
#ifndef KESTRAVA_PLAYCTRL_PRESENTER_H
#define KESTRAVA_PLAYCTRL_PRESENTER_H

#include "video/FrameConverter.h"

#include <windows.h>

#include <cstdint>
#include <vector>

namespace playctrl {

class Presenter {
  public:
    // Planar YUV 4:2:0 of width x height x 3/2 bytes.
    const std::vector<uint8_t> &yuv420(const AVFrame *frame);
    // Stretches the frame over the window's client area; no-op for a null or dead window.
    void draw(HWND window, const AVFrame *frame);

  private:
    FrameConverter yuv_;
    FrameConverter bgra_;
};

} // namespace playctrl

#endif
