// IFileInfo: times, frames, seeking and the picture size, each one SDK call on the port.
#include "KestravaCOM.h"

#include "ComBoundary.h"
#include "SdkWrappers.h"

namespace {

// The SDK's unsigned answer handed over bit for bit, error values included.
HRESULT handOver(LONG *pVal, DWORD value) {
    *pVal = static_cast<LONG>(value);
    return S_OK;
}

constexpr LONG kMaxSeekSeconds = 2147483; // the largest whose milliseconds fit a LONG

} // namespace

HRESULT KestravaCOM::get_TotalTime(LONG *pVal) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        return pVal ? handOver(pVal, SdkGetFileTime(port)) : E_POINTER;
    });
}

HRESULT KestravaCOM::get_PlayedTime(LONG *pVal) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        return pVal ? handOver(pVal, SdkGetPlayedTime(port)) : E_POINTER;
    });
}

HRESULT KestravaCOM::get_TotalFrame(LONG *pVal) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        return pVal ? handOver(pVal, SdkGetFileTotalFrames(port)) : E_POINTER;
    });
}

HRESULT KestravaCOM::get_PlayedFrame(LONG *pVal) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        return pVal ? handOver(pVal, SdkGetCurrentFrameNum(port)) : E_POINTER;
    });
}

HRESULT KestravaCOM::get_PlayedTimeEx(LONG *pVal) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        return pVal ? handOver(pVal, SdkGetPlayedTimeEx(port)) : E_POINTER;
    });
}

HRESULT KestravaCOM::SetCurPlayTime(LONG nTime) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        if (nTime < 0 || nTime > kMaxSeekSeconds) {
            return S_FALSE; // the milliseconds would not fit the SDK's argument
        }
        return static_cast<IFileInfo *>(this)->SetCurPlayTimeEx(nTime * 1000);
    });
}

HRESULT KestravaCOM::SetCurPlayTimeEx(LONG nTime) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        return SdkSetPlayedTimeEx(port, static_cast<DWORD>(nTime)) == 0 ? S_OK : S_FALSE;
    });
}

HRESULT KestravaCOM::SetCurPlayFrame(LONG nFrameNum) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        return SdkSetCurrentFrameNum(port, static_cast<DWORD>(nFrameNum)) == 0 ? S_OK : S_FALSE;
    });
}

HRESULT KestravaCOM::get_PictureSize(LONG *pWidth, LONG *pHeight) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        if (!pWidth || !pHeight) {
            return E_POINTER;
        }
        return SdkGetPictureSize(port, pWidth, pHeight) == 0 ? S_OK : S_FALSE;
    });
}
