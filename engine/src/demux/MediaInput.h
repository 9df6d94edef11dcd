// Opening a media file with libavformat, shared by the index builder, the video decoder and
// the sound thread (each keeps its own demuxer so none waits for another).
#ifndef KESTRAVA_PLAYCTRL_MEDIAINPUT_H
#define KESTRAVA_PLAYCTRL_MEDIAINPUT_H

#include "base/Errors.h"
#include "base/FfmpegPtr.h"

#include <atomic>
#include <string>

namespace playctrl {

// The host hands paths in the ANSI code page; libavformat on Windows wants UTF-8.
std::string ansiToUtf8(const char *path);

// Opens and probes the file; a set abort flag interrupts blocking reads.
// Throws EngineError with kOpenFile or kUnknownFileHeader.
FormatContextPtr openInput(const std::string &utf8Path, const std::atomic<bool> *abort,
                           int flags = 0);

// Opens the file for its sound and finds the sound stream (-1 if none). Recorders' program
// streams name G.711 sound only in their stream map, which libavformat does not read for it:
// such sound is taken unparsed and declared G.711 here.
FormatContextPtr openSoundInput(const std::string &utf8Path, const std::atomic<bool> *abort,
                                int *stream);

// False when the file has sound that no decoder of this build takes; true for playable sound
// and for a file without sound. `fmt` is the file opened by openInput. `present` says whether
// the file has a sound track at all.
bool soundDecodable(AVFormatContext *fmt, const std::string &utf8Path, bool *present);

// The stream's frame rate; 25 when the stream does not say.
AVRational frameRateOf(const AVStream *stream);

// Containers without a seek table of their own, read straight through: a seek there goes to a
// byte position, and what a writer appends can be read from where the reading stopped.
bool readsStraightThrough(const AVFormatContext *fmt);

// Index of the best stream of this type, or -1.
int bestStream(AVFormatContext *fmt, AVMediaType type);

} // namespace playctrl

#endif
