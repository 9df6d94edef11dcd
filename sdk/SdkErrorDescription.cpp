#include "SdkErrorDescription.h"

namespace {

const char *const kDescriptions[] = {
    "No error.",
    "The parameter that user inputted is invalid.",
    "The order of the function to be called is incorrect.",
    "Failure when creating system multimedia clock.",
    "Failure when decoding video data.",
    "Failure when decoding audio data.",
    "Failure when allocating memory.",
    "File open failed when calling API Sdk_PlayM4_OpenFile.",
    "Failure when creating thread or event.",
    "Failure when creating directdraw object.",
    "Failure when creating off-screen surface.",
    "The input source buffer has overflowed when calling API Sdk_PlayM4_InputData.",
    "Failure when creating audio device.",
    "Failure when setting audio volume.",
    "The function only supports playing a file.",
    "The function only supports playing a stream.",
    "Neither MMX nor SSE arithmetic is supported by system.",
    "Unknown file header.",
    "The version of video decoder and video encoder is not compatible.",
    "Failure when initializing decoder.",
    "The file data is unknown. No I-frame found.",
    "Failure when initializing multimedia clock.",
    "Failure when blitting overlay.",
    "Failure when updating overlay or offscreen surface.",
    "Open file error, streamtype is multi.",
    "Openfile error, streamtype is video.",
    "JPEG compression error when capturing jpeg file.",
    "Version of this file not supported when extracting h264 video data.",
    "Failure when extracting video data.",
};

} // namespace

const char *SdkErrorDescription(DWORD code) noexcept {
    if (code < sizeof kDescriptions / sizeof kDescriptions[0]) {
        return kDescriptions[code];
    }
    return "Unrecognized error value.";
}
