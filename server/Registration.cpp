#include "Registration.h"

#include "Module.h"
#include "Owned.h"
#include "RegistryApplier.h"

#include <Kestrava.h>
#include <oleauto.h>

#include <string>

namespace kestrava {
namespace {

constexpr WORD kRegistryScriptId = 101;

// The module's path as the platform gives it in the ANSI code page, widened.
std::wstring modulePath() {
    char narrow[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(module::instance(), narrow, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return std::wstring();
    }
    int size = MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(length), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_ACP, 0, narrow, static_cast<int>(length), wide.data(), size);
    return wide;
}

std::u16string toU16(const std::wstring &s) {
    return std::u16string(s.begin(), s.end());
}

HRESULT lastErrorResult() {
    DWORD error = GetLastError();
    return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT loadRegistryScript(const std::wstring &path, std::u16string &script) {
    ModuleRef file(LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!file) {
        return lastErrorResult();
    }
    HRSRC resource = FindResourceW(file.get(), MAKEINTRESOURCEW(kRegistryScriptId), L"REGISTRY");
    if (!resource) {
        return lastErrorResult();
    }
    HGLOBAL loaded = LoadResource(file.get(), resource);
    DWORD size = SizeofResource(file.get(), resource);
    const char *bytes = loaded ? static_cast<const char *>(LockResource(loaded)) : nullptr;
    if (!bytes) {
        return lastErrorResult();
    }
    // The text ends at its size or at its first 0, whichever comes first.
    std::string text(bytes, size);
    text.resize(strnlen(text.c_str(), text.size()));
    if (text.empty()) {
        script.clear();
        return S_OK;
    }
    int wideSize =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(wideSize), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        wideSize);
    script = toU16(wide);
    return S_OK;
}

HRESULT applyOwnScript(RegistryMode mode) {
    std::wstring path = modulePath();
    if (path.empty()) {
        return lastErrorResult();
    }
    std::u16string script;
    HRESULT hr = loadRegistryScript(path, script);
    if (FAILED(hr)) {
        return hr;
    }
    std::u16string quoted;
    for (wchar_t c : path) {
        quoted.push_back(static_cast<char16_t>(c));
        if (c == L'\'') {
            quoted.push_back(u'\'');
        }
    }
    return applyRegistryScript(script, {{u"Module", quoted}}, mode);
}

// The module's own TYPELIB 1, else the .tlb file beside it; `loadedFrom` names what loaded.
HRESULT loadOwnTypeLibrary(ComPtr<ITypeLib> &library, std::wstring &loadedFrom) {
    library.reset();
    loadedFrom = modulePath();
    if (loadedFrom.empty()) {
        return lastErrorResult();
    }
    HRESULT hr = LoadTypeLibEx(loadedFrom.c_str(), REGKIND_NONE, library.out());
    if (SUCCEEDED(hr)) {
        return hr;
    }
    size_t dot = loadedFrom.rfind(L'.');
    size_t separator = loadedFrom.find_last_of(L"\\/:");
    if (dot != std::wstring::npos && (separator == std::wstring::npos || dot > separator)) {
        loadedFrom.erase(dot);
    }
    loadedFrom += L".tlb";
    return LoadTypeLibEx(loadedFrom.c_str(), REGKIND_NONE, library.out());
}

HRESULT registerTypeLibrary() {
    ComPtr<ITypeLib> library;
    std::wstring path;
    HRESULT hr = loadOwnTypeLibrary(library, path);
    if (FAILED(hr)) {
        return hr;
    }
    std::wstring helpDirectory = path.substr(0, path.find_last_of(L"\\/:") + 1);
    return RegisterTypeLib(library.get(), path.data(), helpDirectory.data());
}

void unregisterTypeLibrary() {
    ComPtr<ITypeLib> library;
    std::wstring path;
    if (FAILED(loadOwnTypeLibrary(library, path))) {
        return;
    }
    LibAttr attributes(library.get());
    if (SUCCEEDED(library->GetLibAttr(attributes.out()))) {
        // Looked up at run time, as older systems lacked it.
        if (ModuleRef oleaut{LoadLibraryW(L"oleaut32.dll")}) {
            using Unregister = HRESULT(WINAPI *)(REFGUID, WORD, WORD, LCID, SYSKIND);
            auto unregister = reinterpret_cast<Unregister>(
                reinterpret_cast<void (*)()>(GetProcAddress(oleaut.get(), "UnRegisterTypeLib")));
            if (unregister) {
                unregister(attributes->guid, attributes->wMajorVerNum, attributes->wMinorVerNum,
                           attributes->lcid, attributes->syskind);
            }
        }
    }
}

std::wstring guidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// The class key, as the registry script names it.
std::wstring classKey() {
    return L"CLSID\\" + guidText(CLSID_KestravaCOM);
}

// This architecture's entry of the type library, as RegisterTypeLib writes it.
std::wstring ownTypeLibraryKey() {
#ifdef _WIN64
    const wchar_t *platform = L"win64";
#else
    const wchar_t *platform = L"win32";
#endif
    return L"TypeLib\\" + guidText(LIBID_KESTRAVALib) + L"\\1.0\\0\\" + platform;
}

// Whether the other architecture's build of this class is registered in the other registry
// view. The ProgIDs are shared between the views, and its hosts find the class through them.
bool otherArchitectureRegistered() {
#ifdef _WIN64
    const REGSAM otherView = KEY_WOW64_32KEY;
#else
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64) || !wow64) {
        return false; // one view only
    }
    const REGSAM otherView = KEY_WOW64_64KEY;
#endif
    RegKey key;
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, (classKey() + L"\\InprocServer32").c_str(), 0,
                         KEY_READ | otherView, key.out()) == ERROR_SUCCESS;
}

} // namespace

HRESULT registerServer() {
    HRESULT hr = applyOwnScript(RegistryMode::Register);
    if (FAILED(hr)) {
        return hr;
    }
    return registerTypeLibrary();
}

void unregisterServer() {
    if (otherArchitectureRegistered()) {
        // Only this view's class key and this architecture's library entry go. UnRegisterTypeLib
        // would also remove the interfaces' keys in both views, and without them the other
        // build's hosts cannot reach the object across apartments.
        RegDeleteTreeW(HKEY_CLASSES_ROOT, classKey().c_str());
        RegDeleteTreeW(HKEY_CLASSES_ROOT, ownTypeLibraryKey().c_str());
        return;
    }
    applyOwnScript(RegistryMode::Unregister);
    unregisterTypeLibrary();
}

} // namespace kestrava
