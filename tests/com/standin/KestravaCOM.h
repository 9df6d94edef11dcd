// Stand-in for the player class with the same shape, so that the server builds and its tests run
// before the player exists. Every method succeeds; PlayPos reports 42.
#ifndef KESTRAVA_TESTS_STANDIN_KESTRAVACOM_H
#define KESTRAVA_TESTS_STANDIN_KESTRAVACOM_H

#include <DualInterface.h>
#include <Kestrava.h>

class KestravaCOM : public DualInterface<IBaseFilePlay, KestravaCOM>,
                    public DualInterface<ICapture, KestravaCOM>,
                    public DualInterface<IConvert, KestravaCOM>,
                    public DualInterface<IExtendHalvet, KestravaCOM>,
                    public DualInterface<IFileInfo, KestravaCOM>,
                    public DualInterface<IPlayFrame, KestravaCOM>,
                    public DualInterface<IRegionManify, KestravaCOM> {
  public:
    KestravaCOM() = default;
    virtual ~KestravaCOM() = default;
    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}

    virtual HRESULT dispatchTypeInfoCount(REFIID itf, UINT *count) = 0;
    virtual HRESULT dispatchTypeInfo(REFIID itf, UINT index, LCID lcid, ITypeInfo **info) = 0;
    virtual HRESULT dispatchIDsOfNames(REFIID itf, LPOLESTR *names, UINT count, LCID lcid,
                                       DISPID *ids) = 0;
    virtual HRESULT dispatchInvoke(REFIID itf, IDispatch *self, DISPID id, LCID lcid, WORD flags,
                                   DISPPARAMS *params, VARIANT *result, EXCEPINFO *exception,
                                   UINT *argError) = 0;

    STDMETHODIMP OpenFile(BSTR, LONG) override { return S_OK; }
    STDMETHODIMP CloseFile() override { return S_OK; }
    STDMETHODIMP Play() override { return S_OK; }
    STDMETHODIMP Pause() override { return S_OK; }
    STDMETHODIMP Stop() override { return S_OK; }
    STDMETHODIMP Tune() override { return S_OK; }
    STDMETHODIMP Mute() override { return S_OK; }
    STDMETHODIMP Fast() override { return S_OK; }
    STDMETHODIMP Slow() override { return S_OK; }
    STDMETHODIMP SetPlayPos(int) override { return S_OK; }
    STDMETHODIMP SetVolume(int) override { return S_OK; }
    STDMETHODIMP get_PlayPos(LONG *value) override { return put(value, 42); }
    STDMETHODIMP get_Volume(LONG *value) override { return put(value, 0); }
    STDMETHODIMP RefreshPlay() override { return S_OK; }
    STDMETHODIMP GetPicture(int, BSTR) override { return S_OK; }
    STDMETHODIMP Convert(BSTR, BSTR, LONG) override { return S_OK; }
    STDMETHODIMP SetAnalyzeCallBack(LONG, LONG, LONG) override { return S_OK; }
    STDMETHODIMP get_TotalTime(LONG *value) override { return put(value, 0); }
    STDMETHODIMP get_PlayedTime(LONG *value) override { return put(value, 0); }
    STDMETHODIMP get_TotalFrame(LONG *value) override { return put(value, 0); }
    STDMETHODIMP get_PlayedFrame(LONG *value) override { return put(value, 0); }
    STDMETHODIMP SetCurPlayTime(LONG) override { return S_OK; }
    STDMETHODIMP SetCurPlayFrame(LONG) override { return S_OK; }
    STDMETHODIMP SetCurPlayTimeEx(LONG) override { return S_OK; }
    STDMETHODIMP get_PlayedTimeEx(LONG *value) override { return put(value, 0); }
    STDMETHODIMP get_PictureSize(LONG *width, LONG *height) override {
        if (width)
            *width = 0;
        return put(height, 0);
    }
    STDMETHODIMP StepForward() override { return S_OK; }
    STDMETHODIMP StepBackward() override { return S_OK; }
    STDMETHODIMP IFrameForward() override { return S_OK; }
    STDMETHODIMP IFrameBackward() override { return S_OK; }

  private:
    static HRESULT put(LONG *to, LONG value) {
        if (!to)
            return E_POINTER;
        *to = value;
        return S_OK;
    }
};

#endif
