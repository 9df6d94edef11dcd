// The exported C functions. Every one catches everything: no exception crosses the DLL
// boundary, and each outcome leaves its code for PlayM4_GetLastError.
#include "PlayM4.h"

#include "port/Port.h"
#include "port/PortTable.h"

#include <cstring>

using namespace playctrl;

namespace {

template <class R, class F> R query(LONG port, R failed, F &&fn) {
    try {
        R result = fn(*portOf(port));
        setLastError(port, kNoError);
        return result;
    } catch (...) {
        setLastError(port, currentError());
        return failed;
    }
}

template <class F> BOOL act(LONG port, F &&fn) {
    return query<BOOL>(port, FALSE, [&](Port &p) {
        fn(p);
        return TRUE;
    });
}

} // namespace

extern "C" {

BOOL WINAPI PlayM4_GetPort(LONG *port) {
    try {
        if (!port) {
            setLastError(-1, kParameterInvalid);
            return FALSE;
        }
        *port = acquirePort();
        if (*port < 0) {
            setLastError(-1, kParameterInvalid);
            return FALSE;
        }
        setLastError(*port, kNoError);
        return TRUE;
    } catch (...) {
        setLastError(-1, currentError());
        return FALSE;
    }
}

BOOL WINAPI PlayM4_FreePort(LONG port) {
    try {
        releasePort(port);
        setLastError(port, kNoError);
        return TRUE;
    } catch (...) {
        setLastError(port, currentError());
        return FALSE;
    }
}

BOOL WINAPI PlayM4_OpenFile(LONG port, char *path) {
    return act(port, [&](Port &p) { p.open(path); });
}
BOOL WINAPI PlayM4_CloseFile(LONG port) {
    return act(port, [](Port &p) { p.close(); });
}
BOOL WINAPI PlayM4_SetFileEndMsg(LONG port, HWND window, UINT message) {
    return act(port, [&](Port &p) { p.setFileEndMessage(window, message); });
}
BOOL WINAPI PlayM4_SetFileRefCallBack(LONG port, FileRefCallBack callback, DWORD_PTR user) {
    return act(port, [&](Port &p) { p.setFileRefCallback(callback, user); });
}
BOOL WINAPI PlayM4_SetDisplayCallBack(LONG port, DisplayCallBack callback) {
    return act(port, [&](Port &p) { p.setDisplayCallback(callback); });
}
BOOL WINAPI PlayM4_Play(LONG port, HWND window) {
    return act(port, [&](Port &p) { p.play(window); });
}
BOOL WINAPI PlayM4_Pause(LONG port, DWORD pause) {
    return act(port, [&](Port &p) { p.pause(pause != 0); });
}
BOOL WINAPI PlayM4_Stop(LONG port) {
    return act(port, [](Port &p) { p.stop(); });
}
BOOL WINAPI PlayM4_RefreshPlay(LONG port) {
    return act(port, [](Port &p) { p.refresh(); });
}
BOOL WINAPI PlayM4_Fast(LONG port) {
    return act(port, [](Port &p) { p.faster(); });
}
BOOL WINAPI PlayM4_Slow(LONG port) {
    return act(port, [](Port &p) { p.slower(); });
}
BOOL WINAPI PlayM4_ThrowBFrameNum(LONG port, DWORD count) {
    return act(port, [&](Port &p) { p.throwBFrames(count); });
}
BOOL WINAPI PlayM4_PlaySound(LONG port) {
    return act(port, [](Port &p) { p.playSound(); });
}

// It takes no port, so its outcome goes where calls without a valid port leave theirs.
BOOL WINAPI PlayM4_StopSound(void) {
    try {
        forEachPort([](Port &p) { p.stopSound(); });
        setLastError(-1, kNoError);
        return TRUE;
    } catch (...) {
        setLastError(-1, currentError());
        return FALSE;
    }
}

BOOL WINAPI PlayM4_SetPlayPos(LONG port, float position) {
    return act(port, [&](Port &p) { p.setPlayPos(position); });
}
float WINAPI PlayM4_GetPlayPos(LONG port) {
    return query(port, 0.0f, [](Port &p) { return p.playPos(); });
}
BOOL WINAPI PlayM4_SetVolume(LONG port, WORD volume) {
    return act(port, [&](Port &p) { p.setVolume(volume); });
}
WORD WINAPI PlayM4_GetVolume(LONG port) {
    return query<WORD>(port, 0, [](Port &p) { return p.volume(); });
}
DWORD WINAPI PlayM4_GetFileTime(LONG port) {
    return query<DWORD>(port, 0, [](Port &p) { return p.fileTimeMs() / 1000; });
}
DWORD WINAPI PlayM4_GetPlayedTime(LONG port) {
    return query<DWORD>(port, 0, [](Port &p) { return p.playedTimeMs() / 1000; });
}
DWORD WINAPI PlayM4_GetPlayedTimeEx(LONG port) {
    return query<DWORD>(port, 0, [](Port &p) { return p.playedTimeMs(); });
}
BOOL WINAPI PlayM4_SetPlayedTimeEx(LONG port, DWORD ms) {
    return act(port, [&](Port &p) { p.setPlayedTimeMs(ms); });
}
DWORD WINAPI PlayM4_GetFileTotalFrames(LONG port) {
    return query<DWORD>(port, 0, [](Port &p) { return p.totalFrames(); });
}
DWORD WINAPI PlayM4_GetCurrentFrameNum(LONG port) {
    return query<DWORD>(port, 0, [](Port &p) { return p.currentFrame(); });
}
BOOL WINAPI PlayM4_SetCurrentFrameNum(LONG port, DWORD frame) {
    return act(port, [&](Port &p) { p.setCurrentFrame(frame); });
}

BOOL WINAPI PlayM4_GetPictureSize(LONG port, LONG *width, LONG *height) {
    return act(port, [&](Port &p) {
        if (!width || !height) {
            throw EngineError{kParameterInvalid};
        }
        p.pictureSize(width, height);
    });
}

BOOL WINAPI PlayM4_OneByOne(LONG port) {
    return act(port, [](Port &p) { p.stepForward(); });
}
BOOL WINAPI PlayM4_OneByOneBack(LONG port) {
    return act(port, [](Port &p) { p.stepBack(); });
}

BOOL WINAPI PlayM4_GetNextKeyFramePos(LONG port, DWORD value, DWORD type, FramePosition *position) {
    return act(port, [&](Port &p) {
        if (!position) {
            throw EngineError{kParameterInvalid};
        }
        *position = p.keyFramePos(value, type, true);
    });
}

BOOL WINAPI PlayM4_GetKeyFramePos(LONG port, DWORD value, DWORD type, FramePosition *position) {
    return act(port, [&](Port &p) {
        if (!position) {
            throw EngineError{kParameterInvalid};
        }
        *position = p.keyFramePos(value, type, false);
    });
}

namespace {
// A buffer too small is refused and left untouched, but `written` tells the caller how large
// a buffer the picture needs, so that it can ask again.
BOOL copySnapshot(LONG port, BYTE *buffer, DWORD size, DWORD *written, bool jpeg) {
    return act(port, [&](Port &p) {
        if (!written) {
            throw EngineError{kParameterInvalid};
        }
        *written = 0;
        size_t needed = 0;
        std::vector<uint8_t> image = p.snapshot(jpeg, buffer ? size : 0, needed);
        if (!buffer || needed > size) {
            *written = static_cast<DWORD>(needed);
            throw EngineError{kParameterInvalid};
        }
        std::memcpy(buffer, image.data(), image.size());
        *written = static_cast<DWORD>(image.size());
    });
}
} // namespace

BOOL WINAPI PlayM4_GetBMP(LONG port, BYTE *buffer, DWORD size, DWORD *written) {
    return copySnapshot(port, buffer, size, written, false);
}
BOOL WINAPI PlayM4_GetJPEG(LONG port, BYTE *buffer, DWORD size, DWORD *written) {
    return copySnapshot(port, buffer, size, written, true);
}

DWORD WINAPI PlayM4_GetLastError(LONG port) {
    return lastError(port);
}

} // extern "C"
