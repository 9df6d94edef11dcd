// Owning types for what COM hands the component: BSTRs, interface references and what a type
// library lends. The owners of plain Windows handles are in Owners.h, which this brings along.
#ifndef KESTRAVA_COM_OWNED_H
#define KESTRAVA_COM_OWNED_H

#include "Owners.h"

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace kestrava {

using Bstr = Owned<ClosedBy<BSTR, &SysFreeString>>;

// A new BSTR holding `text`; empty when there was no memory for it.
inline Bstr makeBstr(const wchar_t *text) {
    return Bstr(SysAllocString(text));
}

// A structure a COM object lends out through a pointer and takes back through `GiveBack`
// (type and library attributes, function descriptions): given back once, on every path. The
// lender is not held and must outlive it.
template <class Lender, class T, void (STDMETHODCALLTYPE Lender::*GiveBack)(T *)> class Lent {
  public:
    explicit Lent(Lender *lender) noexcept : lender_(lender) {}
    ~Lent() { reset(); }
    Lent(const Lent &) = delete;
    Lent &operator=(const Lent &) = delete;

    T *get() const noexcept { return value_; }
    T *operator->() const noexcept { return value_; }
    void reset() noexcept {
        if (T *old = std::exchange(value_, nullptr)) {
            (lender_->*GiveBack)(old);
        }
    }
    T **out() noexcept {
        reset();
        return &value_;
    }

  private:
    Lender *lender_;
    T *value_ = nullptr;
};

using TypeAttr = Lent<ITypeInfo, TYPEATTR, &ITypeInfo::ReleaseTypeAttr>;
using FuncDesc = Lent<ITypeInfo, FUNCDESC, &ITypeInfo::ReleaseFuncDesc>;
using LibAttr = Lent<ITypeLib, TLIBATTR, &ITypeLib::ReleaseTLibAttr>;

// One reference to a COM object. Copies add a reference; `out` serves functions that hand out
// a new reference through a pointer.
template <class T> class ComPtr {
  public:
    ComPtr() noexcept = default;
    explicit ComPtr(T *adopted) noexcept : p_(adopted) {}
    ComPtr(const ComPtr &other) noexcept : p_(other.p_) {
        if (p_) {
            p_->AddRef();
        }
    }
    ComPtr(ComPtr &&other) noexcept : p_(other.release()) {}
    ComPtr &operator=(ComPtr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~ComPtr() { reset(); }

    T *get() const noexcept { return p_; }
    T *operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    T *release() noexcept { return std::exchange(p_, nullptr); }
    void reset() noexcept {
        if (T *old = release()) {
            old->Release();
        }
    }
    T **out() noexcept {
        reset();
        return &p_;
    }
    void **outVoid() noexcept { return reinterpret_cast<void **>(out()); }

  private:
    T *p_ = nullptr;
};

} // namespace kestrava

#endif
