// Late binding against early binding, measured in one run: the component's exact-case name
// lookup against the type information's own lookup, and a late-bound property get against the
// vtable call. Prints nanoseconds per call and the ratios.
#include <windows.h>
#include <oleauto.h>

#include <Kestrava.h>

#include "BenchSupport.h"

#include <cstdio>
#include <string>

namespace {

std::wstring besideExe(const wchar_t *relative) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    return dir.substr(0, dir.find_last_of(L'\\') + 1) + relative;
}

} // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // The copy beside the test doubles makes the SDK calls cost nothing but the call.
    HMODULE module = LoadLibraryExW(besideExe(L"doubles\\Kestrava.DLL").c_str(), nullptr,
                                    LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!module) {
        module = LoadLibraryW(besideExe(L"Kestrava.DLL").c_str());
    }
    if (!module) {
        std::printf("Kestrava.DLL not found\n");
        return 1;
    }
    auto registerServer = reinterpret_cast<HRESULT(WINAPI *)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllRegisterServer")));
    auto getClassObject = reinterpret_cast<HRESULT(WINAPI *)(REFCLSID, REFIID, void **)>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    if (!registerServer || !getClassObject || FAILED(registerServer())) {
        std::printf("registration failed\n");
        return 1;
    }
    // The test double records every SDK call unless told otherwise.
    if (HMODULE sdk = GetModuleHandleW(L"PlayCtrl.dll")) {
        auto setRecording = reinterpret_cast<void(__cdecl *)(int)>(
            reinterpret_cast<void (*)()>(GetProcAddress(sdk, "PlayCtrlDouble_SetRecording")));
        if (setRecording) {
            setRecording(0);
        }
    }
    IClassFactory *factory = nullptr;
    IBaseFilePlay *player = nullptr;
    if (FAILED(getClassObject(CLSID_KestravaCOM, IID_IClassFactory,
                              reinterpret_cast<void **>(&factory))) ||
        FAILED(factory->CreateInstance(nullptr, IID_IBaseFilePlay,
                                       reinterpret_cast<void **>(&player)))) {
        std::printf("creation failed\n");
        return 1;
    }
    ITypeInfo *info = nullptr;
    if (FAILED(player->GetTypeInfo(0, LOCALE_USER_DEFAULT, &info))) {
        std::printf("type information not available\n");
        return 1;
    }

    const wchar_t *names[] = {L"OpenFile", L"PlayPos", L"RefreshPlay", L"SetVolume"};
    const int kLookups = 200000;
    DISPID id = 0;
    volatile DISPID sink = 0;
    int next = 0;
    double component = bench::nsPerCall(kLookups, 5, [&] {
        LPOLESTR name = const_cast<LPOLESTR>(names[next++ & 3]);
        player->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
        sink = id;
    });
    double typeInfo = bench::nsPerCall(kLookups, 5, [&] {
        LPOLESTR name = const_cast<LPOLESTR>(names[next++ & 3]);
        info->GetIDsOfNames(&name, 1, &id);
        sink = id;
    });

    const int kCalls = 100000;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    double lateBound = bench::nsPerCall(kCalls, 5, [&] {
        player->Invoke(12, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result,
                       nullptr, nullptr);
        sink = result.lVal;
    });
    LONG value = 0;
    double vtable = bench::nsPerCall(kCalls, 5, [&] {
        player->get_PlayPos(&value);
        sink = value;
    });
    (void)sink;

    std::printf("GetIDsOfNames, exact case, component:      %8.1f ns/call\n", component);
    std::printf("GetIDsOfNames, ITypeInfo::GetIDsOfNames:   %8.1f ns/call\n", typeInfo);
    std::printf("  exact-case lookup speed-up:              %8.1fx (target >= 10x)\n",
                typeInfo / component);
    std::printf("PlayPos, late-bound Invoke:                %8.1f ns/call\n", lateBound);
    std::printf("PlayPos, vtable get_PlayPos:               %8.1f ns/call\n", vtable);
    std::printf("  late-bound cost over the vtable call:    %8.1fx\n", lateBound / vtable);

    info->Release();
    player->Release();
    factory->Release();
    CoUninitialize();
    return 0;
}
