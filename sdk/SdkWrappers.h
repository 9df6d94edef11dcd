// One free function per player-SDK call. Logging wrappers return 0 when the SDK reported success
// and -1 after logging the failure (level 30000) with the SDK's error code and description;
// getters hand the SDK's value on unchanged. Nothing else in the component calls PlayM4_*.
#ifndef KESTRAVA_SDK_SDKWRAPPERS_H
#define KESTRAVA_SDK_SDKWRAPPERS_H

#include "PlayM4.h"

int SdkGetPort(LONG *port) noexcept;
int SdkFreePort(LONG port) noexcept;
int SdkOpenFile(LONG port, const char *path) noexcept;
int SdkCloseFile(LONG port) noexcept;
int SdkSetFileEndMsg(LONG port, HWND window, UINT message) noexcept;
int SdkSetFileRefCallBack(LONG port, FileRefCallBack callback, DWORD_PTR user) noexcept;
int SdkSetDisplayCallBack(LONG port, DisplayCallBack callback) noexcept;
int SdkPlay(LONG port, HWND window) noexcept;
int SdkPause(LONG port, DWORD pause) noexcept;
int SdkStop(LONG port) noexcept;
int SdkFast(LONG port) noexcept;
int SdkSlow(LONG port) noexcept;
int SdkThrowBFrameNum(LONG port, DWORD count) noexcept;
int SdkPlaySound(LONG port) noexcept;
int SdkStopSound() noexcept;
int SdkRefreshPlay(LONG port) noexcept;
int SdkSetPlayPos(LONG port, float position) noexcept;
int SdkSetVolume(LONG port, WORD volume) noexcept;
int SdkSetPlayedTimeEx(LONG port, DWORD milliseconds) noexcept;
int SdkSetCurrentFrameNum(LONG port, DWORD frame) noexcept;
int SdkGetPictureSize(LONG port, LONG *width, LONG *height) noexcept;
int SdkOneByOne(LONG port) noexcept;
int SdkOneByOneBack(LONG port) noexcept;
int SdkGetNextKeyFramePos(LONG port, DWORD frame, DWORD type, FramePosition *position) noexcept;
int SdkGetKeyFramePos(LONG port, DWORD frame, DWORD type, FramePosition *position) noexcept;
int SdkGetBMP(LONG port, BYTE *buffer, DWORD size, DWORD *written) noexcept;
int SdkGetJPEG(LONG port, BYTE *buffer, DWORD size, DWORD *written) noexcept;
// As SdkGetBMP and SdkGetJPEG, except that a refusal because the buffer is too small (code 1,
// with `written` naming a size above `size`) returns 1 and is not logged: the caller asks again
// in a buffer that fits, and a snapshot that then succeeds leaves no failure in the log.
int SdkTryGetBMP(LONG port, BYTE *buffer, DWORD size, DWORD *written) noexcept;
int SdkTryGetJPEG(LONG port, BYTE *buffer, DWORD size, DWORD *written) noexcept;

DWORD SdkGetFileTime(LONG port) noexcept;
DWORD SdkGetPlayedTime(LONG port) noexcept;
DWORD SdkGetPlayedTimeEx(LONG port) noexcept;
DWORD SdkGetFileTotalFrames(LONG port) noexcept;
DWORD SdkGetCurrentFrameNum(LONG port) noexcept;
float SdkGetPlayPos(LONG port) noexcept;
WORD SdkGetVolume(LONG port) noexcept;

#endif
