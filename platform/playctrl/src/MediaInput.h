// Opening a media file with libavformat, shared by the index builder, the video decoder and
// the sound thread (each keeps its own demuxer so none waits for another).
#pragma once

#include "Errors.h"
#include "FfmpegPtr.h"

#include <atomic>
#include <string>

namespace playctrl {

// The host hands paths in the ANSI code page; libavformat on Windows wants UTF-8.
std::string ansiToUtf8(const char *path);

// Opens and probes the file; a set abort flag interrupts blocking reads.
// Throws EngineError with kOpenFile or kUnknownFileHeader.
FormatContextPtr openInput(const std::string &utf8Path, const std::atomic<bool> *abort);

// Index of the best stream of this type, or -1.
int bestStream(AVFormatContext *fmt, AVMediaType type);

} // namespace playctrl
