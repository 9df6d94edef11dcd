// Owning types for the Windows handles our DLLs hold: each closes what it owns exactly once, on
// every path, so an exception between acquiring and releasing leaks nothing. This is the one
// place that closes a file, key, module or kernel handle, or gives back a window's DC.
#ifndef KESTRAVA_PLATFORM_OWNERS_H
#define KESTRAVA_PLATFORM_OWNERS_H

#include <windows.h>

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
using KernelHandle = Owned<ClosedBy<HANDLE, &CloseHandle>>; // threads, events: null is empty

// A window's device context from GetDC, given back to that window.
class WindowDc {
  public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(GetDC(window)) {}
    ~WindowDc() {
        if (dc_) {
            ReleaseDC(window_, dc_);
        }
    }
    WindowDc(const WindowDc &) = delete;
    WindowDc &operator=(const WindowDc &) = delete;

    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }

  private:
    HWND window_;
    HDC dc_;
};

} // namespace kestrava

#endif
