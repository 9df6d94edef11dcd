// Error codes reported by PlayM4_GetLastError; the numbering is the one hosts already know.
#ifndef KESTRAVA_PLAYCTRL_ERRORS_H
#define KESTRAVA_PLAYCTRL_ERRORS_H

namespace playctrl {

enum Error : unsigned long {
    kNoError = 0,
    kParameterInvalid = 1,
    kOrderIncorrect = 2,
    kDecodeVideo = 4,
    kDecodeAudio = 5,
    kAllocMemory = 6,
    kOpenFile = 7,
    kCreateThread = 8,
    kCreateSoundDevice = 12,
    kSetVolume = 13,
    kUnknownFileHeader = 17,
    kInitDecoder = 19,
    kNoKeyFrame = 20,
    kJpegCompress = 26,
};

// Thrown inside the engine and turned into a failed call with this code at the export.
struct EngineError {
    Error code;
};

// The code a caller is given for the exception being handled; call it only inside a catch
// block. Every place that turns an exception into a code uses it, so that the same failure gives
// the same code whether it happened on the caller's thread or on the port's worker.
Error currentError() noexcept;

} // namespace playctrl

#endif
