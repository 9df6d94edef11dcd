#include "KestravaCOM.h"

#include "AnalysisRegistry.h"
#include "ComBoundary.h"
#include "LogConfiguration.h"
#include "LogStatement.h"
#include "SdkWrappers.h"

KestravaCOM::KestravaCOM()
    : renderWindow(-1), speedLevel(0), fileName(), playState(Closed), registered_(false) {
    kestrava::configureLog();
}

KestravaCOM::~KestravaCOM() {
    // A registered subscriber must leave the registry before this record dies, and its file
    // and port must not outlive the object.
    if (registered_) {
        releaseFile(true);
    } else if (port != -1) {
        SdkFreePort(port);
        port = -1;
    }
}

std::array<kestrava::InterfaceEntry, 9> KestravaCOM::interfaceMap(IUnknown *unknown) {
    IBaseFilePlay *base = this;
    return {{{&IID_IUnknown, unknown},
             {&IID_IBaseFilePlay, base},
             {&IID_IDispatch, base},
             {&IID_ICapture, static_cast<ICapture *>(this)},
             {&IID_IConvert, static_cast<IConvert *>(this)},
             {&IID_IExtendHalvet, static_cast<IExtendHalvet *>(this)},
             {&IID_IFileInfo, static_cast<IFileInfo *>(this)},
             {&IID_IPlayFrame, static_cast<IPlayFrame *>(this)},
             {&IID_IRegionManify, static_cast<IRegionManify *>(this)}}};
}

void CALLBACK KestravaCOM::OnFileRefDone(DWORD, DWORD_PTR) {}

void KestravaCOM::ThrowBFrames(DWORD count) noexcept {
    SdkThrowBFrameNum(port, count);
}

void KestravaCOM::CheckFileLength() noexcept {
    if (SdkGetFileTime(port) == 0) {
        LOG_STATEMENT(CQorLog::WARN_LEVEL, "File seconds is zero");
    }
}

int KestravaCOM::releaseFile(bool evenIfCloseFails) noexcept {
    // The engine waits below for a frame of ours that may be waiting for a host function.
    AnalysisRegistry::Withdrawal withdrawal(*this);
    int closed = 0;
    // Closed while registered (only the destructor gets here so) means every open failed: no
    // file to close, and a StopSound would silence whichever other player has the sound.
    if (playState != Closed) {
        if (playState != Stopped) {
            static_cast<IBaseFilePlay *>(this)->Stop();
        }
        closed = SdkCloseFile(port);
        if (closed != 0 && !evenIfCloseFails) {
            return closed;
        }
    }
    SdkSetDisplayCallBack(port, nullptr);
    // After remove returns, no SDK thread is inside or will enter this object's host callback.
    if (AnalysisRegistry *registry = AnalysisRegistry::instance()) {
        registry->remove(this);
    }
    registered_ = false;
    playState = Closed;
    SdkFreePort(port);
    port = -1;
    return closed;
}

HRESULT KestravaCOM::Convert(BSTR, BSTR, LONG) {
    return kestrava::comBoundary(kestrava::kRefused, [] { return S_OK; });
}

HRESULT KestravaCOM::SetAnalyzeCallBack(LONG_PTR pCallback, LONG_PTR userdata, LONG reversedValue) {
    return kestrava::comBoundary(kestrava::kRefused, [&] {
        setCallback(reinterpret_cast<AnalysisCallback>(pCallback), userdata, reversedValue);
        return S_OK;
    });
}
