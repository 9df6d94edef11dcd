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

// The other registry view, or 0 where there is one view only (32-bit Windows).
REGSAM otherView() {
#ifdef _WIN64
    return KEY_WOW64_32KEY;
#else
    BOOL wow64 = FALSE;
    return IsWow64Process(GetCurrentProcess(), &wow64) && wow64 ? KEY_WOW64_64KEY : 0;
#endif
}

// Whether a file exists at the path as its own architecture sees it: a 32-bit process on 64-bit
// Windows looks past the redirection of System32 to SysWOW64 while it asks.
bool fileExistsUnredirected(const std::wstring &path) {
#ifdef _WIN64
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    void *redirection = nullptr;
    const bool off = Wow64DisableWow64FsRedirection(&redirection) != FALSE;
    const bool exists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (off) {
        Wow64RevertWow64FsRedirection(redirection);
    }
    return exists;
#endif
}

// Whether the other architecture's build of this class is registered in the other registry
// view, its DLL still where the class key says: a key left by a DLL deleted without
// unregistering does not count. The ProgIDs are shared between the views, and its hosts find
// the class through them.
bool otherArchitectureRegistered() {
    const REGSAM view = otherView();
    RegKey key;
    if (!view || RegOpenKeyExW(HKEY_CLASSES_ROOT, (classKey() + L"\\InprocServer32").c_str(), 0,
                               KEY_QUERY_VALUE | view, key.out()) != ERROR_SUCCESS) {
        return false;
    }
    wchar_t path[MAX_PATH + 1] = {};
    DWORD size = sizeof path - sizeof path[0];
    // REG_EXPAND_SZ may only be asked for unexpanded; registration writes REG_SZ.
    return RegGetValueW(key.get(), nullptr, nullptr, RRF_RT_REG_SZ, nullptr, path, &size) ==
               ERROR_SUCCESS &&
           fileExistsUnredirected(path);
}

// Deletes a key with everything under it from one registry view (0: this process's own).
void deleteTree(const std::wstring &parent, const std::wstring &name, REGSAM view) {
    RegKey key;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, parent.c_str(), 0, KEY_ALL_ACCESS | view, key.out()) ==
        ERROR_SUCCESS) {
        RegDeleteTreeW(key.get(), name.c_str());
    }
}

// The other architecture's class key and library entry, left behind by a DLL deleted without
// unregistering; removed first, so that UnRegisterTypeLib finds the library no one's.
void removeStaleOtherArchitecture() {
    const REGSAM view = otherView();
    if (!view) {
        return;
    }
#ifdef _WIN64
    const wchar_t *otherPlatform = L"win32";
#else
    const wchar_t *otherPlatform = L"win64";
#endif
    const std::wstring library = ownTypeLibraryKey();
    deleteTree(L"CLSID", guidText(CLSID_KestravaCOM), view);
    deleteTree(library.substr(0, library.rfind(L'\\')), otherPlatform, view);
}

// The seven interfaces' keys in both views: UnRegisterTypeLib is not relied on to remove them
// from the other view.
void removeInterfaceKeys() {
    const REGSAM view = otherView();
    const IID *interfaces[] = {&IID_IBaseFilePlay, &IID_IFileInfo, &IID_IRegionManify,
                               &IID_IPlayFrame,    &IID_IConvert,  &IID_ICapture,
                               &IID_IExtendHalvet};
    for (const IID *iid : interfaces) {
        deleteTree(L"Interface", guidText(*iid), 0);
        if (view) {
            deleteTree(L"Interface", guidText(*iid), view);
        }
    }
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
    removeStaleOtherArchitecture();
    applyOwnScript(RegistryMode::Unregister);
    unregisterTypeLibrary();
    removeInterfaceKeys();
}

} // namespace kestrava
