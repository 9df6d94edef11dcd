// The player object: one SDK port, one file at a time, seven dual interfaces, listed in its
// interface map. IUnknown and the four IDispatch hooks are supplied by the COM server's class
// templates that derive from it.
#ifndef KESTRAVA_PLAYER_KESTRAVACOM_H
#define KESTRAVA_PLAYER_KESTRAVACOM_H

#include "AnalysisSubscriber.h"
#include "DualInterface.h"
#include "InterfaceMap.h"

#include "CData.h"
#include "Kestrava.h"

#include <array>
#include <string>

class KestravaCOM : public DualInterface<IBaseFilePlay, KestravaCOM>,
                    public DualInterface<ICapture, KestravaCOM>,
                    public DualInterface<IConvert, KestravaCOM>,
                    public DualInterface<IExtendHalvet, KestravaCOM>,
                    public DualInterface<IFileInfo, KestravaCOM>,
                    public DualInterface<IPlayFrame, KestravaCOM>,
                    public DualInterface<IRegionManify, KestravaCOM>,
                    public AnalysisSubscriber {
  public:
    enum PlayState : LONG { Closed = 0, Playing = 1, Paused = 2, Stopped = 3, Stepping = 4 };

    // The picture buffer offered to the SDK by every capture.
    static constexpr DWORD kPictureCapacity = 2027520;

    KestravaCOM();
    ~KestravaCOM() override;
    KestravaCOM(const KestravaCOM &) = delete;
    KestravaCOM &operator=(const KestravaCOM &) = delete;

    // The interfaces an object answers QueryInterface for; IUnknown is answered by `unknown`,
    // which is the caller's business (the object itself, or an aggregate's inner IUnknown).
    std::array<kestrava::InterfaceEntry, 9> interfaceMap(IUnknown *unknown);
    // The object's own IUnknown when it stands alone.
    IUnknown *identity() { return static_cast<IBaseFilePlay *>(this); }

    virtual HRESULT dispatchTypeInfoCount(REFIID itf, UINT *count) = 0;
    virtual HRESULT dispatchTypeInfo(REFIID itf, UINT index, LCID lcid, ITypeInfo **info) = 0;
    virtual HRESULT dispatchIDsOfNames(REFIID itf, LPOLESTR *names, UINT count, LCID lcid,
                                       DISPID *ids) = 0;
    virtual HRESULT dispatchInvoke(REFIID itf, IDispatch *self, DISPID id, LCID lcid, WORD flags,
                                   DISPPARAMS *params, VARIANT *result, EXCEPINFO *exception,
                                   UINT *argError) = 0;

    // Each runs its body through comBoundary: nothing thrown leaves it, and a host sees the
    // refusal, S_FALSE, as for any other failure.

    // IBaseFilePlay
    STDMETHODIMP OpenFile(BSTR path, LONG hWnd) override;
    STDMETHODIMP CloseFile() override;
    STDMETHODIMP Play() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP Tune() override;
    STDMETHODIMP Mute() override;
    STDMETHODIMP Fast() override;
    STDMETHODIMP Slow() override;
    STDMETHODIMP SetPlayPos(int nPencent) override;
    STDMETHODIMP SetVolume(int nPercent) override;
    STDMETHODIMP get_PlayPos(LONG *pVal) override;
    STDMETHODIMP get_Volume(LONG *pVal) override;
    STDMETHODIMP RefreshPlay() override;

    // ICapture
    STDMETHODIMP GetPicture(int nType, BSTR strSavePath) override;

    // IConvert
    STDMETHODIMP Convert(BSTR srcPath, BSTR dstPath, LONG nConvertType) override;

    // IExtendHalvet
    STDMETHODIMP SetAnalyzeCallBack(LONG_PTR pCallback, LONG_PTR userdata,
                                    LONG reversedValue) override;

    // IFileInfo
    STDMETHODIMP get_TotalTime(LONG *pVal) override;
    STDMETHODIMP get_PlayedTime(LONG *pVal) override;
    STDMETHODIMP get_TotalFrame(LONG *pVal) override;
    STDMETHODIMP get_PlayedFrame(LONG *pVal) override;
    STDMETHODIMP SetCurPlayTime(LONG nTime) override;
    STDMETHODIMP SetCurPlayFrame(LONG nFrameNum) override;
    STDMETHODIMP SetCurPlayTimeEx(LONG nTime) override;
    STDMETHODIMP get_PlayedTimeEx(LONG *pVal) override;
    STDMETHODIMP get_PictureSize(LONG *pWidth, LONG *pHeight) override;

    // IPlayFrame
    STDMETHODIMP StepForward() override;
    STDMETHODIMP StepBackward() override;
    STDMETHODIMP IFrameForward() override;
    STDMETHODIMP IFrameBackward() override;

    // The file-index callback handed to the SDK; it has nothing to do.
    static void CALLBACK OnFileRefDone(DWORD port, DWORD_PTR user);

  protected:
    // -- no lock: the apartment's thread touches these, and a host function on an engine thread
    // reaches all but speedLevel through the calls AnalysisSubscriber.h allows it.
    LONG renderWindow; // the window of the last OpenFile, as the client gave it
    LONG speedLevel;   // successful Fast minus Slow since playback last started
    CData fileName;    // the last opened path, ANSI, `?` where it fails; emptied when an open fails
    PlayState playState;
    bool registered_; // this object's subscriber is in the registry

  private:
    void ThrowBFrames(DWORD count) noexcept;
    void CheckFileLength() noexcept;
    // CloseFile from its stop onwards: stop, close, withdraw the display callback, leave the
    // registry, free the port. A failed close ends it early unless `evenIfCloseFails`.
    int releaseFile(bool evenIfCloseFails) noexcept;
    // `path`, in the code page, names the file in the log; `target` is the host's own name for
    // it, where it is written.
    bool savePicture(int type, const char *path, const wchar_t *target, BYTE *buffer,
                     DWORD capacity) noexcept;
};

#endif
