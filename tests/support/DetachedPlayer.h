// The player object made concrete without a COM server, for tests and benchmarks that drive
// the component's code directly: plain reference count, no late binding.
#ifndef KESTRAVA_TESTS_SUPPORT_DETACHEDPLAYER_H
#define KESTRAVA_TESTS_SUPPORT_DETACHEDPLAYER_H

#include "KestravaCOM.h"

#include <string>

class TestPlayer : public KestravaCOM {
  public:
    STDMETHODIMP QueryInterface(REFIID, void **object) override {
        if (object) {
            *object = nullptr;
        }
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override { return --references_; }
    HRESULT dispatchTypeInfoCount(REFIID, UINT *) override { return E_NOTIMPL; }
    HRESULT dispatchTypeInfo(REFIID, UINT, LCID, ITypeInfo **) override { return E_NOTIMPL; }
    HRESULT dispatchIDsOfNames(REFIID, LPOLESTR *, UINT, LCID, DISPID *) override {
        return E_NOTIMPL;
    }
    HRESULT dispatchInvoke(REFIID, IDispatch *, DISPID, LCID, WORD, DISPPARAMS *, VARIANT *,
                           EXCEPINFO *, UINT *) override {
        return E_NOTIMPL;
    }

    PlayState state() const { return playState; }
    LONG speed() const { return speedLevel; }
    LONG window() const { return renderWindow; }
    std::string path() const { return fileName.c_str(); }
    LONG sdkPort() const { return port; }

  private:
    ULONG references_ = 1;
};

#endif
