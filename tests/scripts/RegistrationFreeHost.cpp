// A host that finds Kestrava through its activation context alone: it creates the class by
// CLSID and by both ProgIDs, asks for all seven interfaces, binds late by name, and plays a clip
// (no window) counting its frames in the analysis function. Ends with KESTRAVA-SCRIPT-END and
// the number of failures; a class that cannot be created ends it at once. With "mta" it runs in
// the multithreaded apartment, as a .NET console program does: the apartment-threaded object
// then lives in another apartment, and every call crosses to it through the automation
// marshaller that the assembly's manifest names for each interface.
// Usage: host.exe CLIP [mta]
#include <windows.h>

#include <Kestrava.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

int failures = 0;

void check(bool condition, const char *what) {
    if (!condition) {
        std::printf("FAIL: %s\n", what);
        ++failures;
    }
}

void CALLBACK countFrame(char *, LONG, LONG, LONG, LONG_PTR userData, LONG) {
    ++*reinterpret_cast<std::atomic<long> *>(userData);
}

// A late-bound call by name, as a script makes it: one argument in, or a property read.
HRESULT invoke(IDispatch *dispatch, const wchar_t *name, WORD kind, VARIANT *argument,
               VARIANT *result) {
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) {
        return hr;
    }
    DISPPARAMS parameters = {argument, nullptr, argument ? 1u : 0u, 0};
    return dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &parameters, result, nullptr,
                            nullptr);
}

LONG readProperty(IDispatch *dispatch, const wchar_t *name) {
    VARIANT value;
    VariantInit(&value);
    if (FAILED(invoke(dispatch, name, DISPATCH_PROPERTYGET, nullptr, &value)) ||
        FAILED(VariantChangeType(&value, &value, 0, VT_I4))) {
        return -1;
    }
    return value.lVal;
}

bool creates(const wchar_t *progId) {
    CLSID clsid = {};
    IUnknown *object = nullptr;
    // Under registration-free use the CLSID may be one made up for the ProgID: create, never
    // compare.
    if (FAILED(CLSIDFromProgID(progId, &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                reinterpret_cast<void **>(&object)))) {
        return false;
    }
    object->Release();
    return true;
}

void play(IUnknown *object, const char *clip) {
    const IID *interfaces[] = {&IID_IBaseFilePlay, &IID_IFileInfo, &IID_IRegionManify,
                               &IID_IPlayFrame,    &IID_IConvert,  &IID_ICapture,
                               &IID_IExtendHalvet};
    int answered = 0;
    for (const IID *iid : interfaces) {
        IUnknown *part = nullptr;
        if (SUCCEEDED(object->QueryInterface(*iid, reinterpret_cast<void **>(&part)))) {
            ++answered;
            part->Release();
        }
    }
    std::printf("interfaces answered: %d of 7\n", answered);
    check(answered == 7, "QueryInterface for each of the seven interfaces");

    IBaseFilePlay *player = nullptr;
    IExtendHalvet *extension = nullptr;
    IDispatch *dispatch = nullptr;
    object->QueryInterface(IID_IBaseFilePlay, reinterpret_cast<void **>(&player));
    object->QueryInterface(IID_IExtendHalvet, reinterpret_cast<void **>(&extension));
    object->QueryInterface(IID_IDispatch, reinterpret_cast<void **>(&dispatch));
    if (!player || !extension || !dispatch) {
        check(false, "the interfaces needed to play");
        return;
    }
    std::atomic<long> framesSeen{0};
    check(extension->SetAnalyzeCallBack(reinterpret_cast<LONG_PTR>(&countFrame),
                                        reinterpret_cast<LONG_PTR>(&framesSeen), 0) == S_OK,
          "SetAnalyzeCallBack");
    const int length = MultiByteToWideChar(CP_ACP, 0, clip, -1, nullptr, 0);
    BSTR path = SysAllocStringLen(nullptr, length > 0 ? length - 1 : 0);
    MultiByteToWideChar(CP_ACP, 0, clip, -1, path, length);
    check(player->OpenFile(path, 0) == S_OK, "OpenFile");
    SysFreeString(path);

    VARIANT volume;
    VariantInit(&volume);
    volume.vt = VT_I4;
    volume.lVal = 80;
    check(invoke(dispatch, L"SetVolume", DISPATCH_METHOD, &volume, nullptr) == S_OK,
          "SetVolume(80) bound late");
    const LONG readBack = readProperty(dispatch, L"Volume");
    std::printf("late-bound Volume: %ld\n", static_cast<long>(readBack));
    check(readBack == 79, "Volume bound late reads back one less than was set");

    check(player->Play() == S_OK, "Play");
    // No window, so no end-of-file message: watch the position, late-bound, until it stops.
    LONG position = -1;
    DWORD lastChange = GetTickCount();
    while (position < 100 && GetTickCount() - lastChange < 10000) {
        const LONG now = readProperty(dispatch, L"PlayPos");
        if (now != position) {
            position = now;
            lastChange = GetTickCount();
        }
        Sleep(20);
    }
    player->Stop();
    check(player->CloseFile() == S_OK, "CloseFile");
    std::printf("played to %ld%%, frames seen by the analysis function: %ld\n",
                static_cast<long>(position), framesSeen.load());
    check(position == 100, "the clip played to its end");
    check(framesSeen.load() > 0, "the analysis function saw frames");
    dispatch->Release();
    extension->Release();
    player->Release();
}

} // namespace

int main(int argc, char **argv) {
    const bool multithreaded = argc == 3 && std::strcmp(argv[2], "mta") == 0;
    if (argc != 2 && !multithreaded) {
        std::printf("usage: host.exe CLIP [mta]\n");
        return 2;
    }
    CoInitializeEx(nullptr, multithreaded ? COINIT_MULTITHREADED : COINIT_APARTMENTTHREADED);
    IUnknown *object = nullptr;
    const HRESULT created = CoCreateInstance(CLSID_KestravaCOM, nullptr, CLSCTX_INPROC_SERVER,
                                             IID_IUnknown, reinterpret_cast<void **>(&object));
    if (FAILED(created)) {
        std::printf("FAIL: CoCreateInstance returned 0x%08lX\n",
                    static_cast<unsigned long>(created));
        ++failures;
    } else {
        check(creates(L"Kestrava.KestravaCOM"), "creating by the ProgID");
        check(creates(L"Kestrava.KestravaCOM.1"), "creating by the versioned ProgID");
        play(object, argv[1]);
        object->Release();
    }
    CoUninitialize();
    std::printf("KESTRAVA-SCRIPT-END %d\n", failures);
    std::fflush(stdout);
    return failures;
}
