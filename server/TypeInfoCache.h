// Process-wide type information of the seven interfaces, serving every object's IDispatch.
#ifndef KESTRAVA_SERVER_TYPEINFOCACHE_H
#define KESTRAVA_SERVER_TYPEINFOCACHE_H

#include "Owned.h"

#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <vector>

namespace kestrava {

class TypeInfoCache {
  public:
    struct MemberName {
        Bstr name;
        UINT length; // UTF-16 code units
        DISPID id;
    };

    // The record of one of the seven interfaces; null for any other IID.
    static TypeInfoCache *forInterface(REFIID iid);

    HRESULT typeInfoCount(UINT *count);
    HRESULT typeInfo(UINT index, LCID lcid, ITypeInfo **info);
    HRESULT idsOfNames(LPOLESTR *names, UINT count, LCID lcid, DISPID *ids);
    HRESULT invoke(IDispatch *self, DISPID id, LCID lcid, WORD flags, DISPPARAMS *params,
                   VARIANT *result, EXCEPINFO *exception, UINT *argError);

    explicit TypeInfoCache(const IID &iid) : iid_(iid) {}
    TypeInfoCache(const TypeInfoCache &) = delete;
    TypeInfoCache &operator=(const TypeInfoCache &) = delete;

  private:
    HRESULT load(LCID lcid, ITypeInfo **info);
    static void release(void *record);

    const IID &iid_;
    // -- protected by module::typeInfoLock() until info_ is published, read without it after
    // Published once, after memberNameTable_ is complete.
    std::atomic<ITypeInfo *> info_{nullptr};
    std::vector<MemberName> memberNameTable_;
};

} // namespace kestrava

#endif
