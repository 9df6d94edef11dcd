// What every QueryInterface and every method with an out-pointer does the same way: COM wants an
// out-pointer set to null on entry, so that a caller finds null after any failure, and an
// interface handed out with one reference added through the interface itself.
#ifndef KESTRAVA_COM_INTERFACEMAP_H
#define KESTRAVA_COM_INTERFACEMAP_H

#include <windows.h>
#include <objbase.h>

namespace kestrava {

// Sets `*out` to null; false, and nothing set, when the caller gave no out-pointer.
template <class T> bool clearOut(T **out) noexcept {
    if (!out) {
        return false;
    }
    *out = nullptr;
    return true;
}

// One row of an interface map: an IID and the interface that answers it.
struct InterfaceEntry {
    const IID *iid;
    IUnknown *answer;
};

// The body of a QueryInterface over `map`: the first row for `iid` answers.
template <class Map> HRESULT queryInterface(const Map &map, REFIID iid, void **object) noexcept {
    if (!clearOut(object)) {
        return E_POINTER;
    }
    for (const InterfaceEntry &entry : map) {
        if (IsEqualIID(*entry.iid, iid)) {
            *object = entry.answer;
            entry.answer->AddRef();
            return S_OK;
        }
    }
    return E_NOINTERFACE;
}

} // namespace kestrava

#endif
