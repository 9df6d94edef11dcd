// IPlayFrame: single-frame and key-frame steps.
#include "KestravaCOM.h"

#include "ComBoundary.h"
#include "SdkWrappers.h"

namespace {

constexpr DWORD kByFrameNumber = 1; // the searches' value is a frame number

} // namespace

HRESULT KestravaCOM::StepForward() {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        if (SdkOneByOne(port) != 0) {
            return S_FALSE;
        }
        playState = Stepping;
        return S_OK;
    });
}

HRESULT KestravaCOM::StepBackward() {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        if (SdkOneByOneBack(port) != 0) {
            return S_FALSE;
        }
        playState = Stepping;
        return S_OK;
    });
}

HRESULT KestravaCOM::IFrameForward() {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        const DWORD frame = SdkGetCurrentFrameNum(port); // before anything moves
        FramePosition position = {};
        static_cast<IPlayFrame *>(this)->StepForward(); // a failed step does not end the jump
        if (SdkGetNextKeyFramePos(port, frame, kByFrameNumber, &position) != 0) {
            return S_FALSE;
        }
        return SdkSetCurrentFrameNum(port, static_cast<DWORD>(position.frameNum)) == 0 ? S_OK
                                                                                       : S_FALSE;
    });
}

HRESULT KestravaCOM::IFrameBackward() {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        const DWORD frame = SdkGetCurrentFrameNum(port);
        if (frame <= 1) {
            return S_OK; // nothing before it to search
        }
        FramePosition position = {};
        static_cast<IPlayFrame *>(this)->StepBackward();
        if (SdkGetKeyFramePos(port, frame - 1, kByFrameNumber, &position) != 0) {
            return S_FALSE;
        }
        return SdkSetCurrentFrameNum(port, static_cast<DWORD>(position.frameNum)) == 0 ? S_OK
                                                                                       : S_FALSE;
    });
}
