// Converts a decoded frame into packed pixels of another format or size, keeping its scaler
// between calls: the display callback's YUV, the window's BGRA and the snapshots all use it.
#ifndef KESTRAVA_PLAYCTRL_FRAMECONVERTER_H
#define KESTRAVA_PLAYCTRL_FRAMECONVERTER_H

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace playctrl {

class FrameConverter {
  public:
    FrameConverter() = default;
    FrameConverter(const FrameConverter &) = delete;
    FrameConverter &operator=(const FrameConverter &) = delete;
    ~FrameConverter();

    // Converts to `format`, at the frame's own size unless one is given; planes are packed
    // one after another with no row padding.
    const std::vector<uint8_t> &convert(const AVFrame *frame, AVPixelFormat format, int width = 0,
                                        int height = 0);

  private:
    SwsContext *sws_ = nullptr;
    std::vector<uint8_t> out_;
};

} // namespace playctrl

#endif
