// Whole image files of one decoded frame, made with FFmpeg's encoders.
#ifndef KESTRAVA_PLAYCTRL_SNAPSHOT_H
#define KESTRAVA_PLAYCTRL_SNAPSHOT_H

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

namespace playctrl {

// A 24-bit BMP file. Throws EngineError on failure.
std::vector<uint8_t> encodeBmp(const AVFrame *frame);
// A baseline JPEG file. Throws EngineError{kJpegCompress} on failure.
std::vector<uint8_t> encodeJpeg(const AVFrame *frame);

} // namespace playctrl

#endif
