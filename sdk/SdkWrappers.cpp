#include "SdkWrappers.h"

#include "LogStatement.h"
#include "SdkErrorDescription.h"

namespace {

// The error code is read first, on this thread, before anything can overwrite it; it is read
// even when the entry is filtered out.
int reportCode(DWORD code, const char *tag) noexcept {
    LOG_STATEMENT(CQorLog::WARN_LEVEL, tag, static_cast<LONG>(code),
                  "\nDescription: ", SdkErrorDescription(code));
    return -1;
}

int reportFailure(LONG port, const char *tag) noexcept {
    return reportCode(PlayM4_GetLastError(port), tag);
}

// For the two calls that have no port to ask about: the tag alone.
int reportFailureWithoutCode(const char *tag) noexcept {
    LOG_STATEMENT(CQorLog::WARN_LEVEL, tag);
    return -1;
}

inline int checked(BOOL result, LONG port, const char *tag) noexcept {
    return result ? 0 : reportFailure(port, tag);
}

// The engine's answer to a buffer too small: code 1, and the size the picture needs.
constexpr DWORD kParameterInvalid = 1;

int checkedUnlessTooSmall(BOOL result, LONG port, DWORD size, const DWORD *written,
                          const char *tag) noexcept {
    if (result) {
        return 0;
    }
    const DWORD code = PlayM4_GetLastError(port);
    if (code == kParameterInvalid && written && *written > size) {
        return 1;
    }
    return reportCode(code, tag);
}

} // namespace

int SdkGetPort(LONG *port) noexcept {
    return PlayM4_GetPort(port) ? 0 : reportFailureWithoutCode("PlayM4_GetPort ERROR:");
}

int SdkFreePort(LONG port) noexcept {
    return checked(PlayM4_FreePort(port), port, "PlayM4_FreePort:");
}

int SdkOpenFile(LONG port, const char *path) noexcept {
    // The SDK takes a non-const path but does not write to it.
    return checked(PlayM4_OpenFile(port, const_cast<char *>(path)), port, "PlayM4_OpenFile:");
}

int SdkCloseFile(LONG port) noexcept {
    return checked(PlayM4_CloseFile(port), port, "PlayM4_CloseFile:");
}

int SdkSetFileEndMsg(LONG port, HWND window, UINT message) noexcept {
    return checked(PlayM4_SetFileEndMsg(port, window, message), port, "PlayM4_SetFileEndMsg:");
}

int SdkSetFileRefCallBack(LONG port, FileRefCallBack callback, DWORD_PTR user) noexcept {
    return checked(PlayM4_SetFileRefCallBack(port, callback, user), port,
                   "PlayM4_SetFileRefCallBack:");
}

int SdkSetDisplayCallBack(LONG port, DisplayCallBack callback) noexcept {
    return checked(PlayM4_SetDisplayCallBack(port, callback), port, "PlayM4_SetDisplayCallBack:");
}

int SdkPlay(LONG port, HWND window) noexcept {
    return checked(PlayM4_Play(port, window), port, "Sdk_PlayM4_Play:");
}

int SdkPause(LONG port, DWORD pause) noexcept {
    return checked(PlayM4_Pause(port, pause), port, "PlayM4_Pause:");
}

int SdkStop(LONG port) noexcept {
    return checked(PlayM4_Stop(port), port, "Sdk_PlayM4_Stop:");
}

int SdkFast(LONG port) noexcept {
    return checked(PlayM4_Fast(port), port, "PlayM4_Fast:");
}

int SdkSlow(LONG port) noexcept {
    return checked(PlayM4_Slow(port), port, "PlayM4_Slow:");
}

int SdkThrowBFrameNum(LONG port, DWORD count) noexcept {
    return checked(PlayM4_ThrowBFrameNum(port, count), port, "PlayM4_ThrowBFrameNum:");
}

int SdkPlaySound(LONG port) noexcept {
    return checked(PlayM4_PlaySound(port), port, "PlayM4_PlaySound:");
}

int SdkStopSound() noexcept {
    return PlayM4_StopSound() ? 0 : reportFailureWithoutCode("PlayM4_StopSound:");
}

int SdkRefreshPlay(LONG port) noexcept {
    return checked(PlayM4_RefreshPlay(port), port, "PlayM4_RefreshPlay:");
}

int SdkSetPlayPos(LONG port, float position) noexcept {
    return checked(PlayM4_SetPlayPos(port, position), port, "PlayM4_SetPlayPos:");
}

int SdkSetVolume(LONG port, WORD volume) noexcept {
    return checked(PlayM4_SetVolume(port, volume), port, "PlayM4_SetVolume:");
}

int SdkSetPlayedTimeEx(LONG port, DWORD milliseconds) noexcept {
    return checked(PlayM4_SetPlayedTimeEx(port, milliseconds), port, "PlayM4_SetPlayedTimeEx:");
}

int SdkSetCurrentFrameNum(LONG port, DWORD frame) noexcept {
    return checked(PlayM4_SetCurrentFrameNum(port, frame), port, "PlayM4_SetCurrentFrameNum:");
}

int SdkGetPictureSize(LONG port, LONG *width, LONG *height) noexcept {
    return checked(PlayM4_GetPictureSize(port, width, height), port, "PlayM4_GetPictureSize:");
}

int SdkOneByOne(LONG port) noexcept {
    return checked(PlayM4_OneByOne(port), port, "PlayM4_OneByOne:");
}

int SdkOneByOneBack(LONG port) noexcept {
    return checked(PlayM4_OneByOneBack(port), port, "PlayM4_OneByOneBack:");
}

int SdkGetNextKeyFramePos(LONG port, DWORD frame, DWORD type, FramePosition *position) noexcept {
    return checked(PlayM4_GetNextKeyFramePos(port, frame, type, position), port,
                   "PlayM4_GetNextKeyFramePos:");
}

int SdkGetKeyFramePos(LONG port, DWORD frame, DWORD type, FramePosition *position) noexcept {
    return checked(PlayM4_GetKeyFramePos(port, frame, type, position), port,
                   "PlayM4_GetKeyFramePos:");
}

int SdkGetBMP(LONG port, BYTE *buffer, DWORD size, DWORD *written) noexcept {
    return checked(PlayM4_GetBMP(port, buffer, size, written), port, "PlayM4_GetBMP:");
}

int SdkGetJPEG(LONG port, BYTE *buffer, DWORD size, DWORD *written) noexcept {
    return checked(PlayM4_GetJPEG(port, buffer, size, written), port, "PlayM4_GetJPEG:");
}

int SdkTryGetBMP(LONG port, BYTE *buffer, DWORD size, DWORD *written) noexcept {
    return checkedUnlessTooSmall(PlayM4_GetBMP(port, buffer, size, written), port, size, written,
                                 "PlayM4_GetBMP:");
}

int SdkTryGetJPEG(LONG port, BYTE *buffer, DWORD size, DWORD *written) noexcept {
    return checkedUnlessTooSmall(PlayM4_GetJPEG(port, buffer, size, written), port, size, written,
                                 "PlayM4_GetJPEG:");
}

DWORD SdkGetFileTime(LONG port) noexcept {
    return PlayM4_GetFileTime(port);
}
DWORD SdkGetPlayedTime(LONG port) noexcept {
    return PlayM4_GetPlayedTime(port);
}
DWORD SdkGetPlayedTimeEx(LONG port) noexcept {
    return PlayM4_GetPlayedTimeEx(port);
}
DWORD SdkGetFileTotalFrames(LONG port) noexcept {
    return PlayM4_GetFileTotalFrames(port);
}
DWORD SdkGetCurrentFrameNum(LONG port) noexcept {
    return PlayM4_GetCurrentFrameNum(port);
}
float SdkGetPlayPos(LONG port) noexcept {
    return PlayM4_GetPlayPos(port);
}
WORD SdkGetVolume(LONG port) noexcept {
    return PlayM4_GetVolume(port);
}
