// Plays a clip to its end through Kestrava into a window of this program's own, as a C++ host
// does, counts its frames in an analysis function, reads what the file holds and saves the last
// picture as a JPEG. Builds for 32- and 64-bit hosts alike.
// Usage: play.exe CLIP [SNAPSHOT.jpg]
#include <windows.h>

#include <Kestrava.h>

#include <atomic>
#include <cstdio>
#include <string>

namespace {

constexpr UINT kFileEndMessage = WM_USER + 33; // 1057, posted by the engine at the end
constexpr UINT_PTR kGiveUpTimer = 1;
constexpr UINT kSlackMs = 30000; // beyond the clip's own length

int failures = 0;

void check(bool condition, const char *what) {
    if (!condition) {
        std::printf("FAIL: %s\n", what);
        ++failures;
    }
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kFileEndMessage) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_TIMER && wParam == kGiveUpTimer) {
        PostQuitMessage(1);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND makeWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = L"KestravaExample";
    RegisterClassW(&windowClass);
    HWND window =
        CreateWindowW(L"KestravaExample", L"Kestrava example", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                      CW_USEDEFAULT, 640, 360, nullptr, nullptr, windowClass.hInstance, nullptr);
    ShowWindow(window, SW_SHOWNORMAL);
    return window;
}

// Called on the engine's thread for every frame; userData is what the host gave with the
// function, here the address of its counter: pointer-sized (LONG_PTR), so 64-bit hosts may pass
// addresses too.
void CALLBACK countFrame(char *, LONG, LONG, LONG, LONG_PTR userData, LONG) {
    ++*reinterpret_cast<std::atomic<long> *>(userData);
}

// The window handle travels as a 32-bit number, like every argument of the interfaces.
LONG handleNumber(HWND window) {
    return static_cast<LONG>(reinterpret_cast<LONG_PTR>(window));
}

BSTR bstrOf(const char *ansi) {
    const int length = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    std::wstring wide(length > 0 ? length : 1, L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, &wide[0], length);
    return SysAllocString(wide.c_str());
}

// Plays the clip; false when the component refused it (the reason is in the log).
bool play(IBaseFilePlay *player, const char *clip, const char *snapshot) {
    HWND window = makeWindow();
    BSTR path = bstrOf(clip);
    const HRESULT opened = player->OpenFile(path, handleNumber(window));
    SysFreeString(path);
    if (opened != S_OK) {
        std::printf("FAIL: OpenFile returned 0x%08lX: the engine's reason is in the log\n",
                    static_cast<unsigned long>(opened));
        DestroyWindow(window);
        return false;
    }

    std::atomic<long> framesSeen{0};
    IExtendHalvet *extension = nullptr;
    player->QueryInterface(IID_IExtendHalvet, reinterpret_cast<void **>(&extension));
    check(extension->SetAnalyzeCallBack(reinterpret_cast<LONG_PTR>(&countFrame),
                                        reinterpret_cast<LONG_PTR>(&framesSeen), 0) == S_OK,
          "SetAnalyzeCallBack");

    IFileInfo *info = nullptr;
    player->QueryInterface(IID_IFileInfo, reinterpret_cast<void **>(&info));
    LONG seconds = 0, frames = 0, width = 0, height = 0;
    info->get_TotalTime(&seconds);
    info->get_TotalFrame(&frames);
    check(info->get_PictureSize(&width, &height) == S_OK, "PictureSize");
    std::printf("%s: %ld s, %ld frames, %ldx%ld\n", clip, static_cast<long>(seconds),
                static_cast<long>(frames), static_cast<long>(width), static_cast<long>(height));

    check(player->SetVolume(80) == S_OK, "SetVolume(80)");
    LONG volume = 0;
    player->get_Volume(&volume);
    check(volume == 79, "Volume reads back one less than was set");

    check(player->Play() == S_OK, "Play");
    SetTimer(window, kGiveUpTimer, static_cast<UINT>(seconds) * 1000 + kSlackMs, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    const bool ended = message.wParam == 0;
    check(ended, "the end-of-file message arrived");
    LONG position = 0, frame = 0;
    player->get_PlayPos(&position);
    info->get_PlayedFrame(&frame);
    std::printf("end-of-file message: %s, at %ld%%, frame %ld\n", ended ? "received" : "missing",
                static_cast<long>(position), static_cast<long>(frame));
    std::printf("frames seen by the analysis function: %ld\n", framesSeen.load());
    check(framesSeen.load() > 0, "the analysis function saw frames");

    if (snapshot) {
        ICapture *capture = nullptr;
        player->QueryInterface(IID_ICapture, reinterpret_cast<void **>(&capture));
        BSTR target = bstrOf(snapshot);
        check(capture->GetPicture(1, target) == S_OK, "GetPicture(1 = JPEG)");
        SysFreeString(target);
        capture->Release();
        std::printf("snapshot: %s\n", snapshot);
    }
    info->Release();
    player->Stop();
    check(player->CloseFile() == S_OK, "CloseFile"); // no frame reaches countFrame after this
    extension->Release();
    DestroyWindow(window);
    return true;
}

// Where the package is unpacked, play.exe sits in examples\, one folder below the assembly,
// where Windows does not look for it (play.manifest makes the dependency optional, so the
// program starts all the same). It then activates the assembly's manifest from its own folder or
// the one above itself; the context stays active until the program ends.
bool activateAssemblyNearby() {
    wchar_t program[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring folder(program, length < MAX_PATH ? length : 0);
    for (int up = 0; up < 2 && folder.size() > 1; ++up) {
        const size_t end = folder.find_last_of(L'\\', folder.size() - 2);
        if (end == std::wstring::npos) {
            break;
        }
        folder.erase(end + 1); // the folder, with its backslash
        const std::wstring manifest = folder + L"Kestrava.Component.manifest";
        ACTCTXW context = {};
        context.cbSize = sizeof context;
        context.dwFlags = ACTCTX_FLAG_ASSEMBLY_DIRECTORY_VALID;
        context.lpSource = manifest.c_str();
        context.lpAssemblyDirectory = folder.c_str();
        HANDLE activation = CreateActCtxW(&context);
        if (activation == INVALID_HANDLE_VALUE) {
            continue;
        }
        ULONG_PTR cookie = 0;
        if (ActivateActCtx(activation, &cookie)) {
            return true;
        }
        ReleaseActCtx(activation);
    }
    return false;
}

HRESULT createPlayer(IBaseFilePlay **player) {
    CLSID clsid = {};
    HRESULT created = CLSIDFromProgID(L"Kestrava.KestravaCOM", &clsid);
    if (SUCCEEDED(created)) {
        created = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilePlay,
                                   reinterpret_cast<void **>(player));
    }
    return created;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3) {
        std::printf("usage: play.exe CLIP [SNAPSHOT.jpg]\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IBaseFilePlay *player = nullptr;
    HRESULT created = createPlayer(&player);
    if ((created == CO_E_CLASSSTRING || created == REGDB_E_CLASSNOTREG) &&
        activateAssemblyNearby()) {
        created = createPlayer(&player);
    }
    if (FAILED(created)) {
        // 0x800401F3: the ProgID is not registered, 0x80040154: the class is not (in this
        // host's registry view); 0x8007007E (under Wine 0x80070005): a DLL beside
        // Kestrava.DLL is missing.
        std::printf("FAIL: CoCreateInstance returned 0x%08lX\n",
                    static_cast<unsigned long>(created));
        ++failures;
    } else {
        if (!play(player, argv[1], argc == 3 ? argv[2] : nullptr)) {
            ++failures;
        }
        player->Release();
    }
    CoUninitialize();
    std::printf("KESTRAVA-SCRIPT-END %d\n", failures);
    std::fflush(stdout);
    return failures;
}
