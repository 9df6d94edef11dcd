// IBaseFilePlay: open and close, transport, sound, speed, position and volume.
#include "KestravaCOM.h"

#include "AnalysisRegistry.h"
#include "AnsiText.h"
#include "ComBoundary.h"
#include "SdkWrappers.h"

#include <cmath>
#include <climits>
#include <cstring>
#include <string>

namespace {

constexpr UINT kFileEndMessage = WM_USER + 33; // 1057, posted by the SDK to the client's window

HWND windowHandle(LONG window) {
    return reinterpret_cast<HWND>(static_cast<LONG_PTR>(window));
}

HRESULT statusOf(int wrapperResult) {
    return wrapperResult == 0 ? S_OK : S_FALSE;
}

bool isPercent(int value) {
    return value > 0 && value <= 100;
}

// The single-precision value nearest percent / 100, decided exactly: a float times 100 is exact
// in double, so the candidates' distances compare without rounding.
float fractionOf(int percent) {
    const float guess = static_cast<float>(percent / 100.0);
    float best = guess;
    for (float candidate : {std::nextafter(guess, -1.0f), std::nextafter(guess, 2.0f)}) {
        if (std::fabs(static_cast<double>(candidate) * 100.0 - percent) <
            std::fabs(static_cast<double>(best) * 100.0 - percent)) {
            best = candidate;
        }
    }
    return best;
}

} // namespace

HRESULT KestravaCOM::OpenFile(BSTR path, LONG hWnd) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        // The engine waits below for a frame of ours that may be waiting for a host function.
        AnalysisRegistry::Withdrawal withdrawal(*this);
        if (port == -1) {
            // Still registered after an open without a port: SDK threads may be reading it.
            LONG obtained = -1;
            SdkGetPort(&obtained);
            port = obtained;
        }
        // The engine takes an ANSI path. A name the code page cannot hold exactly is handed over
        // by its short name, or else spelt with `?` where the code page fails, which no file
        // can have: never a look-alike that may name another file. The object keeps that
        // spelling too.
        std::string reachable;
        {
            std::string ansi;
            // An unconvertible path stays empty and fails to open.
            if (toAnsi(path, ansi) && !holdsInAnsi(path)) {
                shortAnsiPath(path, reachable);
                toAnsiWithoutLookAlikes(path, ansi);
            }
            fileName = ansi.c_str();
            if (std::strcmp(fileName.c_str(), ansi.c_str()) != 0) {
                // Without memory CData keeps the old path: opening that would reopen the old file.
                fileName = "";
                return S_FALSE;
            }
        }
        renderWindow = hWnd;
        SdkSetFileEndMsg(port, windowHandle(renderWindow), kFileEndMessage);
        SdkSetFileRefCallBack(port, &KestravaCOM::OnFileRefDone,
                              reinterpret_cast<DWORD_PTR>(static_cast<IBaseFilePlay *>(this)));
        SdkSetDisplayCallBack(port, &onDisplayFrame);
        if (AnalysisRegistry *registry = AnalysisRegistry::instance()) {
            registry->add(this);
            registered_ = true;
        }
        if (SdkOpenFile(port, reachable.empty() ? fileName.c_str() : reachable.c_str()) != 0) {
            fileName = "";
            return S_FALSE;
        }
        CheckFileLength();
        // The engine closed any file before and holds this one stopped: CloseFile closes it
        // even if never played, and Play starts it even after the last file played.
        playState = Stopped;
        return S_OK;
    });
}

HRESULT KestravaCOM::CloseFile() {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        if (playState == Closed) {
            return S_OK;
        }
        return statusOf(releaseFile(false));
    });
}

HRESULT KestravaCOM::Play() {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        switch (playState) {
        case Playing:
            return S_OK;
        case Paused:
            SdkPause(port, 0);
            playState = Playing;
            return S_OK;
        case Stepping:
            SdkPlay(port, windowHandle(renderWindow));
            speedLevel = 0;
            playState = Playing;
            return S_OK;
        default: // Closed, Stopped
            speedLevel = 0;
            ThrowBFrames(0);
            if (SdkPlay(port, windowHandle(renderWindow)) != 0) {
                return S_FALSE;
            }
            playState = Playing;
            SdkRefreshPlay(port);
            SdkPlaySound(port);
            return S_OK;
        }
    });
}

HRESULT KestravaCOM::Pause() {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        if (playState != Playing) {
            return S_OK;
        }
        if (SdkPause(port, 1) != 0) {
            return S_FALSE;
        }
        playState = Paused;
        return S_OK;
    });
}

HRESULT KestravaCOM::Stop() {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        if (playState == Stopped) {
            return S_OK;
        }
        SdkStopSound();
        if (SdkStop(port) != 0) {
            return S_FALSE;
        }
        playState = Stopped;
        return S_OK;
    });
}

HRESULT KestravaCOM::Tune() {
    return kestrava::comBoundary(kestrava::kRefused, [&] { return statusOf(SdkPlaySound(port)); });
}

HRESULT KestravaCOM::Mute() {
    return kestrava::comBoundary(kestrava::kRefused, [] { return statusOf(SdkStopSound()); });
}

HRESULT KestravaCOM::Fast() {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        if (SdkFast(port) != 0) {
            return S_FALSE;
        }
        ++speedLevel;
        if (speedLevel > 0) {
            ThrowBFrames(2);
        }
        return S_OK;
    });
}

HRESULT KestravaCOM::Slow() {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        if (SdkSlow(port) != 0) {
            return S_FALSE;
        }
        --speedLevel;
        if (speedLevel <= 0) {
            ThrowBFrames(0);
        }
        return S_OK;
    });
}

HRESULT KestravaCOM::SetPlayPos(int nPencent) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        if (!isPercent(nPencent)) {
            return S_FALSE;
        }
        return statusOf(SdkSetPlayPos(port, fractionOf(nPencent)));
    });
}

HRESULT KestravaCOM::SetVolume(int nPercent) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        if (!isPercent(nPercent)) {
            return S_FALSE;
        }
        return statusOf(SdkSetVolume(port, static_cast<WORD>(nPercent * 655)));
    });
}

HRESULT KestravaCOM::get_PlayPos(LONG *pVal) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        if (!pVal) {
            return E_POINTER;
        }
        const double percent = static_cast<double>(SdkGetPlayPos(port)) * 100.0;
        // Truncated toward zero; values no LONG can hold are pinned instead of undefined.
        if (std::isnan(percent)) {
            *pVal = 0;
        } else if (percent >= 2147483647.0) {
            *pVal = LONG_MAX;
        } else if (percent <= -2147483648.0) {
            *pVal = LONG_MIN;
        } else {
            *pVal = static_cast<LONG>(percent);
        }
        return S_OK;
    });
}

HRESULT KestravaCOM::get_Volume(LONG *pVal) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        if (!pVal) {
            return E_POINTER;
        }
        const unsigned volume = SdkGetVolume(port);
        *pVal = static_cast<LONG>(volume * 100u / 65535u);
        return S_OK;
    });
}

HRESULT KestravaCOM::RefreshPlay() {
    return kestrava::comBoundary(kestrava::kRefused,
                                 [&] { return statusOf(SdkRefreshPlay(port)); });
}
