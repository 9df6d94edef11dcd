// Helpers shared by the COM-level tests: the component's path, a loaded server, COM pointers,
// registry reads. Helpers return AssertionResult so that failures point at the caller's line.
#ifndef KESTRAVA_TESTS_COM_COMTESTSUPPORT_H
#define KESTRAVA_TESTS_COM_COMTESTSUPPORT_H

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include "Owned.h"

#include <Kestrava.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace comtest {

// This build's architecture: how its type library is registered and what LONG_PTR becomes.
#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
constexpr const wchar_t *kTypeLibPlatform = L"win64";
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
constexpr const wchar_t *kTypeLibPlatform = L"win32";
#endif

// The folder of the running test, with its trailing backslash.
inline std::wstring exeDirectory() {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L'\\') + 1);
}

// Tests run beside the copy of the component that loads the test doubles.
inline std::wstring componentPath() {
    return exeDirectory() + L"Kestrava.DLL";
}

// The component's own owning pointer serves the tests too.
using kestrava::ComPtr;

// The component's exports, called directly as COM would.
class Server {
  public:
    explicit Server(const std::wstring &path = componentPath())
        : module_(LoadLibraryW(path.c_str())) {
        if (!module_) {
            return;
        }
        canUnloadNow = reinterpret_cast<HRESULT(WINAPI *)()>(proc("DllCanUnloadNow"));
        getClassObject = reinterpret_cast<HRESULT(WINAPI *)(REFCLSID, REFIID, void **)>(
            proc("DllGetClassObject"));
        registerServer = reinterpret_cast<HRESULT(WINAPI *)()>(proc("DllRegisterServer"));
        unregisterServer = reinterpret_cast<HRESULT(WINAPI *)()>(proc("DllUnregisterServer"));
    }
    ~Server() {
        if (module_) {
            FreeLibrary(module_);
        }
    }
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    bool loaded() const { return module_ && canUnloadNow && getClassObject; }
    HMODULE module() const { return module_; }

    ComPtr<IClassFactory> factory() {
        ComPtr<IClassFactory> result;
        getClassObject(CLSID_KestravaCOM, IID_IClassFactory, result.outVoid());
        return result;
    }

    template <class T> ComPtr<T> create(REFIID iid) {
        ComPtr<T> result;
        ComPtr<IClassFactory> f = factory();
        if (f) {
            f->CreateInstance(nullptr, iid, result.outVoid());
        }
        return result;
    }

    HRESULT(WINAPI *canUnloadNow)() = nullptr;
    HRESULT(WINAPI *getClassObject)(REFCLSID, REFIID, void **) = nullptr;
    HRESULT(WINAPI *registerServer)() = nullptr;
    HRESULT(WINAPI *unregisterServer)() = nullptr;

  private:
    void (*proc(const char *name))() {
        return reinterpret_cast<void (*)()>(GetProcAddress(module_, name));
    }
    HMODULE module_;
};

inline bool keyExists(HKEY root, const std::wstring &path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

inline bool valueExists(HKEY root, const std::wstring &path, const wchar_t *name) {
    return RegGetValueW(root, path.c_str(), name, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

// A REG_SZ value equal to `expected`; name null or empty for the default value.
inline ::testing::AssertionResult hasString(HKEY root, const std::wstring &path,
                                            const wchar_t *name, const std::wstring &expected) {
    wchar_t data[1024] = {};
    DWORD size = sizeof data;
    DWORD type = 0;
    LONG status =
        RegGetValueW(root, path.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size);
    std::string where = std::string("value '") +
                        (name ? std::string(name, name + wcslen(name)) : "") + "' of " +
                        std::string(path.begin(), path.end());
    if (status != ERROR_SUCCESS) {
        return ::testing::AssertionFailure() << where << " missing (" << status << ")";
    }
    if (type != REG_SZ) {
        return ::testing::AssertionFailure() << where << " has type " << type;
    }
    if (expected != data) {
        return ::testing::AssertionFailure()
               << where << " is '" << std::string(data, data + wcslen(data)) << "'";
    }
    return ::testing::AssertionSuccess();
}

inline std::string narrow(const std::wstring &s) {
    return std::string(s.begin(), s.end());
}

struct ComApartment {
    ComApartment() { CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~ComApartment() { CoUninitialize(); }
};

} // namespace comtest

#endif
