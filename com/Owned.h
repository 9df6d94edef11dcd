// Owning types for the handles the component holds: each closes what it owns exactly once, on
// every path, so an exception between acquiring and releasing leaks nothing.
#ifndef KESTRAVA_COM_OWNED_H
#define KESTRAVA_COM_OWNED_H

#include <windows.h>
#include <oleauto.h>

#include <utility>

namespace kestrava {

// A handle of one kind, move-only. Traits give its empty value and how to close it.
template <class Traits> class Owned {
  public:
    using Handle = typename Traits::Handle;

    Owned() noexcept = default;
    explicit Owned(Handle handle) noexcept : handle_(handle) {}
    Owned(Owned &&other) noexcept : handle_(other.release()) {}
    Owned &operator=(Owned &&other) noexcept {
        reset(other.release());
        return *this;
    }
    ~Owned() { reset(); }
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::empty(); }
    Handle release() noexcept { return std::exchange(handle_, Traits::empty()); }
    void reset(Handle handle = Traits::empty()) noexcept {
        Handle old = std::exchange(handle_, handle);
        if (old != Traits::empty()) {
            Traits::close(old);
        }
    }
    // For functions that hand out a handle through a pointer; whatever was held is closed first.
    Handle *out() noexcept {
        reset();
        return &handle_;
    }

  private:
    Handle handle_ = Traits::empty();
};

// Traits of a handle that is empty when null and that `Close` closes.
template <class H, auto Close> struct ClosedBy {
    using Handle = H;
    static H empty() noexcept { return nullptr; }
    static void close(H handle) noexcept { Close(handle); }
};
struct FileTraits {
    using Handle = HANDLE;
    static HANDLE empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE file) noexcept { CloseHandle(file); }
};

// An opened or created key, never a predefined root.
using RegKey = Owned<ClosedBy<HKEY, &RegCloseKey>>;
using ModuleRef = Owned<ClosedBy<HMODULE, &FreeLibrary>>; // one LoadLibrary reference
using FileHandle = Owned<FileTraits>; // from CreateFile: INVALID_HANDLE_VALUE is empty
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
