#include "TypeInfoCache.h"

#include "Module.h"

#include <Kestrava.h>

#include <cwchar>

namespace kestrava {

TypeInfoCache *TypeInfoCache::forInterface(REFIID iid) {
    static TypeInfoCache records[] = {
        TypeInfoCache(IID_IBaseFilePlay), TypeInfoCache(IID_ICapture),
        TypeInfoCache(IID_IConvert),      TypeInfoCache(IID_IExtendHalvet),
        TypeInfoCache(IID_IFileInfo),     TypeInfoCache(IID_IPlayFrame),
        TypeInfoCache(IID_IRegionManify)};
    for (TypeInfoCache &record : records)
        if (IsEqualIID(record.iid_, iid))
            return &record;
    return nullptr;
}

HRESULT TypeInfoCache::load(LCID lcid, ITypeInfo **info) {
    *info = info_.load(std::memory_order_acquire);
    if (*info)
        return S_OK;
    {
        ModuleLockGuard guard(module::typeInfoLock());
        *info = info_.load(std::memory_order_acquire);
        if (*info)
            return S_OK;
        ITypeLib *library = nullptr;
        HRESULT hr = LoadRegTypeLib(LIBID_KESTRAVALib, 1, 0, lcid, &library);
        if (FAILED(hr))
            return hr;
        ITypeInfo *loaded = nullptr;
        hr = library->GetTypeInfoOfGuid(iid_, &loaded);
        if (FAILED(hr)) {
            library->Release();
            return hr;
        }
        ITypeInfo2 *extended = nullptr;
        if (SUCCEEDED(
                loaded->QueryInterface(IID_ITypeInfo2, reinterpret_cast<void **>(&extended)))) {
            loaded->Release();
            loaded = extended;
        }
        TYPEATTR *attributes = nullptr;
        if (SUCCEEDED(loaded->GetTypeAttr(&attributes))) {
            for (UINT i = 0; i < attributes->cFuncs; ++i) {
                FUNCDESC *function = nullptr;
                if (FAILED(loaded->GetFuncDesc(i, &function)))
                    continue;
                BSTR name = nullptr;
                if (SUCCEEDED(loaded->GetDocumentation(function->memid, &name, nullptr, nullptr,
                                                       nullptr)) &&
                    name)
                    memberNameTable_.push_back({name, SysStringLen(name), function->memid});
                loaded->ReleaseFuncDesc(function);
            }
            loaded->ReleaseTypeAttr(attributes);
        }
        info_.store(loaded, std::memory_order_release);
        library->Release();
        *info = loaded;
    }
    module::addTermination(&TypeInfoCache::release, this);
    return S_OK;
}

void TypeInfoCache::release(void *record) {
    auto *self = static_cast<TypeInfoCache *>(record);
    if (ITypeInfo *info = self->info_.exchange(nullptr))
        info->Release();
    for (MemberName &member : self->memberNameTable_)
        SysFreeString(member.name);
    self->memberNameTable_.clear();
    self->memberNameTable_.shrink_to_fit();
}

HRESULT TypeInfoCache::typeInfoCount(UINT *count) {
    if (!count)
        return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT TypeInfoCache::typeInfo(UINT, LCID lcid, ITypeInfo **info) {
    if (!info)
        return E_POINTER;
    *info = nullptr;
    ITypeInfo *loaded = nullptr;
    HRESULT hr = load(lcid, &loaded);
    if (FAILED(hr))
        return hr;
    loaded->AddRef();
    *info = loaded;
    return S_OK;
}

HRESULT TypeInfoCache::idsOfNames(LPOLESTR *names, UINT count, LCID lcid, DISPID *ids) {
    if (count > 0 && (!names || !ids))
        return E_POINTER;
    ITypeInfo *info = nullptr;
    HRESULT hr = load(lcid, &info);
    if (FAILED(hr))
        return hr;
    for (UINT n = 0; n < count; ++n) {
        if (!names[n])
            return DISP_E_UNKNOWNNAME;
        const size_t length = wcslen(names[n]);
        bool found = false;
        for (size_t i = memberNameTable_.size(); i-- > 0;) {
            const MemberName &member = memberNameTable_[i];
            if (member.length == length && wmemcmp(member.name, names[n], length) == 0) {
                ids[n] = member.id;
                found = true;
                break;
            }
        }
        if (!found) {
            hr = info->GetIDsOfNames(names, count, ids);
            if (FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}

HRESULT TypeInfoCache::invoke(IDispatch *self, DISPID id, LCID lcid, WORD flags, DISPPARAMS *params,
                              VARIANT *result, EXCEPINFO *exception, UINT *argError) {
    ITypeInfo *info = nullptr;
    HRESULT hr = load(lcid, &info);
    if (FAILED(hr))
        return hr;
    return info->Invoke(self, id, flags, params, result, exception, argError);
}

} // namespace kestrava
