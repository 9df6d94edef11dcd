// Whole image files of one decoded frame, made with FFmpeg's encoders.
#ifndef KESTRAVA_PLAYCTRL_SNAPSHOT_H
#define KESTRAVA_PLAYCTRL_SNAPSHOT_H

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

namespace playctrl {

// The size of encodeBmp's file for a picture of this size, known before encoding it: a header
// of 54 bytes and rows of three bytes a pixel, each padded to four bytes.
size_t bmpFileSize(int width, int height);
// A 24-bit BMP file. Throws EngineError on failure.
std::vector<uint8_t> encodeBmp(const AVFrame *frame);
// A baseline JPEG file. Throws EngineError{kJpegCompress} on failure.
std::vector<uint8_t> encodeJpeg(const AVFrame *frame);

} // namespace playctrl

#endif
