/* Binary contract of the player engine PlayCtrl.dll. Any DLL with these exports drops in:
   plain-named __stdcall C functions. */
#ifndef PLAYM4_H
#define PLAYM4_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#ifdef PLAYM4_BUILDING_ENGINE
#define PLAYM4_API __declspec(dllexport)
#else
#define PLAYM4_API
#endif

typedef struct FramePosition {
    LONG word1;
    LONG frameNum;
    LONG words3to7[5];
} FramePosition;

/* Threads and callbacks.
   - Every export may be called from any thread, by any number of threads at once, on the same
     port or on different ones.
   - The display callback runs on the port's playback thread, once for each frame shown, one
     call at a time per port; `data` is valid until it returns. The file-ref callback runs once
     for each opened file, on the thread that indexed it, once the index is complete.
   - While a callback runs, the engine holds no lock that a call from inside it needs.
   - From inside either callback, any export may be called on any port. It works, or, where it
     would have to wait for a thread that is itself waiting for the caller, it fails at once
     with code 2; it never blocks for good.
   - From inside a port's own display callback, CloseFile, FreePort and
     SetDisplayCallBack(port, NULL) succeed: the engine completes them as soon as the callback
     returns, and no further display callback of that port starts; a freed port is not handed
     out again before then. Transport calls (Play, Pause, Stop, Fast, Slow, RefreshPlay, sound
     and volume), snapshots, settings and queries work. OpenFile, positioning and stepping of
     the own port fail with code 2: they would show a frame inside the callback.
   - From inside the file-ref callback, OpenFile, CloseFile and FreePort of its own port fail
     with code 2.
   - Outside the callbacks, SetDisplayCallBack(port, NULL), CloseFile and FreePort return once a
     running display callback of the port has returned; none starts afterwards.
   - SetPlayPos, SetPlayedTimeEx and SetCurrentFrameNum return once the frame asked for is shown.
     A newer one on the same port, from another thread, overtakes them: it replaces one not yet
     started and stops one still decoding, which then return success at once, their frame never
     shown. Bad arguments still fail at once. */
/* Playback keeps to its clock.
   - A frame is shown when its time comes. One that comes more than a frame interval late (in
     real time as well when playing faster than normal, and never less than 20 ms, the timer's
     own jitter) is skipped: it is neither drawn nor handed to the display callback. While
     playback is behind, pictures that nothing refers to are not decoded at all, and once the
     clock has passed a key frame ahead, playback goes on from that key frame. So a display
     callback or a decoder slower than the frame rate never puts the picture behind the clock
     and the sound. A port that has shown nothing for 100 ms shows the next frame it decodes,
     however late; the last frame of the file is always shown. At normal speed, on a machine
     that keeps up, no frame is skipped.
   - Except where decoding itself is what falls behind: on a port without sound, at normal
     speed or slower, whose decoding takes most of a frame interval (many ports sharing few
     cores), a late frame is shown rather than skipped, with its own time stamp, until the
     clock reaches the next key frame; playback then goes on from the key frame the clock
     will have reached when its picture is out. The picture stays within a group of pictures
     of the clock, and what the machine decodes for the port is shown.
   - GetCurrentFrameNum, GetPlayedTime, GetPlayedTimeEx and GetPlayPos give the frame shown.
   - Play starts at once after OpenFile: the first frames play while the file is still being
     indexed. Calls that need the index (totals, positioning, key frames) wait for it.
   - While the sound is heard (normal speed), it is the clock: the picture follows the media
     time the sound device reports as played. Play readies the sound at its first moment,
     silent; PlaySound right after is heard from there. A seek, Pause, Stop, a step or a speed
     other than normal silence it at once; back at normal speed it starts at the picture's
     place. */
typedef void(CALLBACK *DisplayCallBack)(LONG port, char *data, LONG size, LONG width, LONG height,
                                        LONG stamp, LONG type, LONG reserved);
typedef void(CALLBACK *FileRefCallBack)(DWORD port, DWORD_PTR user);

PLAYM4_API BOOL WINAPI PlayM4_GetPort(LONG *port);
PLAYM4_API BOOL WINAPI PlayM4_FreePort(LONG port);
/* A path with a character no file name can have (?, *, <, > or ") fails with code 7, as a
   missing file does. */
PLAYM4_API BOOL WINAPI PlayM4_OpenFile(LONG port, char *path);
PLAYM4_API BOOL WINAPI PlayM4_CloseFile(LONG port);
PLAYM4_API BOOL WINAPI PlayM4_SetFileEndMsg(LONG port, HWND window, UINT message);
PLAYM4_API BOOL WINAPI PlayM4_SetFileRefCallBack(LONG port, FileRefCallBack callback,
                                                 DWORD_PTR user);
PLAYM4_API BOOL WINAPI PlayM4_SetDisplayCallBack(LONG port, DisplayCallBack callback);
PLAYM4_API BOOL WINAPI PlayM4_Play(LONG port, HWND window);
PLAYM4_API BOOL WINAPI PlayM4_Pause(LONG port, DWORD pause);
PLAYM4_API BOOL WINAPI PlayM4_Stop(LONG port);
PLAYM4_API BOOL WINAPI PlayM4_RefreshPlay(LONG port);
PLAYM4_API BOOL WINAPI PlayM4_Fast(LONG port);
PLAYM4_API BOOL WINAPI PlayM4_Slow(LONG port);
PLAYM4_API BOOL WINAPI PlayM4_ThrowBFrameNum(LONG port, DWORD count);
PLAYM4_API BOOL WINAPI PlayM4_PlaySound(LONG port);
/* Silences every port. It takes no port: its outcome (0, or the code of its failure) is read
   with PlayM4_GetLastError(-1). */
PLAYM4_API BOOL WINAPI PlayM4_StopSound(void);
PLAYM4_API BOOL WINAPI PlayM4_SetPlayPos(LONG port, float position);
PLAYM4_API float WINAPI PlayM4_GetPlayPos(LONG port);
PLAYM4_API BOOL WINAPI PlayM4_SetVolume(LONG port, WORD volume);
PLAYM4_API WORD WINAPI PlayM4_GetVolume(LONG port);
PLAYM4_API DWORD WINAPI PlayM4_GetFileTime(LONG port);
PLAYM4_API DWORD WINAPI PlayM4_GetPlayedTime(LONG port);
PLAYM4_API DWORD WINAPI PlayM4_GetPlayedTimeEx(LONG port);
PLAYM4_API BOOL WINAPI PlayM4_SetPlayedTimeEx(LONG port, DWORD ms);
PLAYM4_API DWORD WINAPI PlayM4_GetFileTotalFrames(LONG port);
PLAYM4_API DWORD WINAPI PlayM4_GetCurrentFrameNum(LONG port);
PLAYM4_API BOOL WINAPI PlayM4_SetCurrentFrameNum(LONG port, DWORD frame);
PLAYM4_API BOOL WINAPI PlayM4_GetPictureSize(LONG port, LONG *width, LONG *height);
PLAYM4_API BOOL WINAPI PlayM4_OneByOne(LONG port);
PLAYM4_API BOOL WINAPI PlayM4_OneByOneBack(LONG port);
PLAYM4_API BOOL WINAPI PlayM4_GetNextKeyFramePos(LONG port, DWORD value, DWORD type,
                                                 FramePosition *position);
PLAYM4_API BOOL WINAPI PlayM4_GetKeyFramePos(LONG port, DWORD value, DWORD type,
                                             FramePosition *position);
/* A buffer too small (or null) fails with code 1 and stays untouched; `written` then holds the
   size the picture needs. A BMP's size is told from the picture's without making it. */
PLAYM4_API BOOL WINAPI PlayM4_GetBMP(LONG port, BYTE *buffer, DWORD size, DWORD *written);
PLAYM4_API BOOL WINAPI PlayM4_GetJPEG(LONG port, BYTE *buffer, DWORD size, DWORD *written);
/* The code the calling thread's last call on `port` left: 0 after success. Calls on the same
   port from other threads do not change it. The codes of the eight threads that called on the
   port most recently are kept apart: a ninth thread's call drops the code of the thread that
   called least recently, and that thread, like every thread after playback stopped on a frame
   it could not decode, then reads the port's latest code, whoever left it. GetPort and
   FreePort start the port afresh: no thread reads a code left before them. A port outside
   0..31, -1 (no port)
   included, fails with code 1; a port inside that range not handed out by GetPort, or one with
   no file where a file is needed, fails with code 2. The ports outside 0..31 share one code:
   the last left by a call on any of them, by a failed GetPort or by StopSound. */
PLAYM4_API DWORD WINAPI PlayM4_GetLastError(LONG port);

#ifdef __cplusplus
}
#endif

#endif
