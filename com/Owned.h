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

struct RegKeyTraits {
    using Handle = HKEY;
    static HKEY empty() noexcept { return nullptr; }
    static void close(HKEY key) noexcept { RegCloseKey(key); }
};
struct ModuleTraits {
    using Handle = HMODULE;
    static HMODULE empty() noexcept { return nullptr; }
    static void close(HMODULE module) noexcept { FreeLibrary(module); }
};
struct FileTraits {
    using Handle = HANDLE;
    static HANDLE empty() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(HANDLE file) noexcept { CloseHandle(file); }
};
struct BstrTraits {
    using Handle = BSTR;
    static BSTR empty() noexcept { return nullptr; }
    static void close(BSTR text) noexcept { SysFreeString(text); }
};

using RegKey = Owned<RegKeyTraits>;    // an opened or created key, never a predefined root
using ModuleRef = Owned<ModuleTraits>; // one LoadLibrary reference
using FileHandle = Owned<FileTraits>;  // from CreateFile: INVALID_HANDLE_VALUE is empty
using Bstr = Owned<BstrTraits>;

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
