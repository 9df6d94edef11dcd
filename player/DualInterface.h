// One dual interface of the player object. Late binding is served by whoever makes the object
// concrete (the COM server): each interface hands its IDispatch calls, tagged with its own IID
// and its own pointer, to the hooks of the most derived class, so that every interface answers
// from its own type information although the seven share one object.
#ifndef KESTRAVA_PLAYER_DUALINTERFACE_H
#define KESTRAVA_PLAYER_DUALINTERFACE_H

#include <oaidl.h>

// Hooks must declare, once for all seven interfaces:
//   HRESULT dispatchTypeInfoCount(REFIID itf, UINT *count);
//   HRESULT dispatchTypeInfo(REFIID itf, UINT index, LCID lcid, ITypeInfo **info);
//   HRESULT dispatchIDsOfNames(REFIID itf, LPOLESTR *names, UINT count, LCID lcid, DISPID *ids);
//   HRESULT dispatchInvoke(REFIID itf, IDispatch *self, DISPID id, LCID lcid, WORD flags,
//                          DISPPARAMS *params, VARIANT *result, EXCEPINFO *exception,
//                          UINT *argError);
template <class Itf, class Hooks> class DualInterface : public Itf {
  public:
    STDMETHODIMP GetTypeInfoCount(UINT *count) override {
        return hooks()->dispatchTypeInfoCount(__uuidof(Itf), count);
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo **info) override {
        return hooks()->dispatchTypeInfo(__uuidof(Itf), index, lcid, info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR *names, UINT count, LCID lcid,
                               DISPID *ids) override {
        return hooks()->dispatchIDsOfNames(__uuidof(Itf), names, count, lcid, ids);
    }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID lcid, WORD flags, DISPPARAMS *params,
                        VARIANT *result, EXCEPINFO *exception, UINT *argError) override {
        return hooks()->dispatchInvoke(__uuidof(Itf), static_cast<Itf *>(this), id, lcid, flags,
                                       params, result, exception, argError);
    }

  private:
    Hooks *hooks() { return static_cast<Hooks *>(this); }
};

#endif
