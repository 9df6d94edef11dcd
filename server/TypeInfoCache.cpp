#include "TypeInfoCache.h"

#include "InterfaceMap.h"
#include "Module.h"

#include <Kestrava.h>

#include <algorithm>
#include <cwchar>

namespace kestrava {

TypeInfoCache *TypeInfoCache::forInterface(REFIID iid) {
    static TypeInfoCache records[] = {
        TypeInfoCache(IID_IBaseFilePlay), TypeInfoCache(IID_ICapture),
        TypeInfoCache(IID_IConvert),      TypeInfoCache(IID_IExtendHalvet),
        TypeInfoCache(IID_IFileInfo),     TypeInfoCache(IID_IPlayFrame),
        TypeInfoCache(IID_IRegionManify)};
    for (TypeInfoCache &record : records) {
        if (IsEqualIID(record.iid_, iid)) {
            return &record;
        }
    }
    return nullptr;
}

namespace {

// The name of the type's `index`th function, when it has one.
void addMemberName(ITypeInfo *info, UINT index, std::vector<TypeInfoCache::MemberName> &table) {
    FuncDesc function(info);
    if (FAILED(info->GetFuncDesc(index, function.out()))) {
        return;
    }
    const DISPID id = function->memid;
    function.reset();
    Bstr name;
    if (SUCCEEDED(info->GetDocumentation(id, name.out(), nullptr, nullptr, nullptr)) && name) {
        const UINT length = SysStringLen(name.get());
        table.push_back({std::move(name), length, id});
    }
}

} // namespace

HRESULT TypeInfoCache::load(LCID lcid, ITypeInfo **info) {
    *info = info_.load(std::memory_order_acquire);
    if (*info) {
        return S_OK;
    }
    LockGuard<ModuleLock> guard(module::typeInfoLock());
    *info = info_.load(std::memory_order_acquire);
    if (*info) {
        return S_OK;
    }
    ComPtr<ITypeLib> library;
    HRESULT hr = LoadRegTypeLib(LIBID_KESTRAVALib, 1, 0, lcid, library.out());
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<ITypeInfo> loaded;
    hr = library->GetTypeInfoOfGuid(iid_, loaded.out());
    if (FAILED(hr)) {
        return hr;
    }
    ComPtr<ITypeInfo2> extended;
    if (SUCCEEDED(loaded->QueryInterface(IID_ITypeInfo2, extended.outVoid()))) {
        loaded = ComPtr<ITypeInfo>(extended.release());
    }
    std::vector<MemberName> table;
    {
        // The attributes go back on every path, the throwing push_back included.
        TypeAttr attributes(loaded.get());
        if (SUCCEEDED(loaded->GetTypeAttr(attributes.out()))) {
            for (UINT i = 0; i < attributes->cFuncs; ++i) {
                addMemberName(loaded.get(), i, table);
            }
        }
    }
    // Without its clean-up the record could not be emptied at unload: refuse rather than leak.
    if (!module::addTermination(&TypeInfoCache::release, this)) {
        return E_OUTOFMEMORY;
    }
    memberNameTable_ = std::move(table);
    *info = loaded.release();
    info_.store(*info, std::memory_order_release);
    return S_OK;
}

void TypeInfoCache::release(void *record) {
    auto *self = static_cast<TypeInfoCache *>(record);
    ComPtr<ITypeInfo> info(self->info_.exchange(nullptr));
    std::vector<MemberName>().swap(self->memberNameTable_);
}

HRESULT TypeInfoCache::typeInfoCount(UINT *count) {
    if (!count) {
        return E_POINTER;
    }
    *count = 1;
    return S_OK;
}

HRESULT TypeInfoCache::typeInfo(UINT, LCID lcid, ITypeInfo **info) {
    if (!clearOut(info)) {
        return E_POINTER;
    }
    ITypeInfo *loaded = nullptr;
    HRESULT hr = load(lcid, &loaded);
    if (FAILED(hr)) {
        return hr;
    }
    loaded->AddRef();
    *info = loaded;
    return S_OK;
}

// Only the first name names a member; the others name its parameters, which only the type
// information knows. A null name cannot be looked up: its slot says DISPID_UNKNOWN.
HRESULT TypeInfoCache::idsOfNames(LPOLESTR *names, UINT count, LCID lcid, DISPID *ids) {
    if (count > 0 && (!names || !ids)) {
        return E_POINTER;
    }
    ITypeInfo *info = nullptr;
    HRESULT hr = load(lcid, &info);
    if (FAILED(hr) || count == 0) {
        return hr;
    }
    // Every slot the lookup does not fill says so.
    std::fill(ids, ids + count, DISPID_UNKNOWN);
    if (!names[0]) {
        return DISP_E_UNKNOWNNAME;
    }
    if (count == 1) {
        const size_t length = wcslen(names[0]);
        for (size_t i = memberNameTable_.size(); i-- > 0;) {
            const MemberName &member = memberNameTable_[i];
            if (member.length == length && wmemcmp(member.name.get(), names[0], length) == 0) {
                ids[0] = member.id;
                return S_OK;
            }
        }
        return info->GetIDsOfNames(names, 1, ids);
    }
    // An empty name matches no parameter, so null names can go through in their places.
    std::vector<LPOLESTR> checked(names, names + count);
    bool nullName = false;
    for (LPOLESTR &name : checked) {
        if (!name) {
            name = const_cast<LPOLESTR>(L"");
            nullName = true;
        }
    }
    hr = info->GetIDsOfNames(checked.data(), count, ids);
    return nullName && SUCCEEDED(hr) ? DISP_E_UNKNOWNNAME : hr;
}

HRESULT TypeInfoCache::invoke(IDispatch *self, DISPID id, LCID lcid, WORD flags, DISPPARAMS *params,
                              VARIANT *result, EXCEPINFO *exception, UINT *argError) {
    ITypeInfo *info = nullptr;
    HRESULT hr = load(lcid, &info);
    if (FAILED(hr)) {
        return hr;
    }
    return info->Invoke(self, id, flags, params, result, exception, argError);
}

} // namespace kestrava
