// Plays a file through the registered component into a window of its own, the way a host
// application does, and prints a short report.
// Usage: KestravaDemo.exe CLIP OUTDIR [JPEG_AT_MS] [BMP_AT_MS]
#include "DemoWindow.h"

#include "Kestrava.h"
#include "Owned.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::atomic<long> framesDelivered{0};
std::atomic<long> badFrames{0};
std::atomic<long> seenWidth{0}, seenHeight{0};

// The analysis function the component calls for every displayed frame.
void CALLBACK analyse(char *data, long size, long width, long height, LONG_PTR, long) {
    ++framesDelivered;
    if (!data || width <= 0 || height <= 0 || size != width * height * 3 / 2) {
        ++badFrames;
    }
    seenWidth = width;
    seenHeight = height;
}

std::vector<std::string> failures;

bool check(HRESULT hr, const char *what) {
    if (hr == S_OK) {
        return true;
    }
    char text[160];
    std::snprintf(text, sizeof text, "%s returned 0x%08lX", what, static_cast<unsigned long>(hr));
    failures.push_back(text);
    return false;
}

// ANSI text as a BSTR.
kestrava::Bstr bstrOf(const std::string &ansi) {
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
    std::vector<wchar_t> wide(n > 0 ? n : 1);
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide.data(), n);
    return kestrava::makeBstr(wide.data());
}

long frameNow(IFileInfo *info) {
    long frame = -1;
    info->get_PlayedFrame(&frame);
    return frame;
}

struct Options {
    std::string clip, out;
    long jpegAt, bmpAt;
    std::string jpegPath, bmpPath, screenshotPath;
};

Options optionsFrom(int argc, char **argv) {
    Options options;
    options.clip = argv[1];
    options.out = argv[2];
    options.jpegAt = argc > 3 ? std::atol(argv[3]) : 1000;
    options.bmpAt = argc > 4 ? std::atol(argv[4]) : 2000;
    options.jpegPath = options.out + "/snapshot.jpg";
    options.bmpPath = options.out + "/snapshot.bmp";
    options.screenshotPath = options.out + "/window.bmp";
    return options;
}

// What the run saw, for the report.
struct Results {
    long totalTime = 0, totalFrames = 0, width = 0, height = 0, playedFrames = 0;
    std::vector<long> stepped;
    bool ended = false, jpegSaved = false, bmpSaved = false, screenshot = false;
    DWORD playMs = 0;
};

// The component's interfaces, released in the reverse of this order.
struct Component {
    kestrava::ComPtr<IBaseFilePlay> player;
    kestrava::ComPtr<IFileInfo> info;
    kestrava::ComPtr<IPlayFrame> frames;
    kestrava::ComPtr<ICapture> capture;
    kestrava::ComPtr<IExtendHalvet> extend;
};

// Creates the registered class; false, having said why, when it cannot.
bool create(Component &component) {
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"Kestrava.KestravaCOM", &clsid))) {
        std::fprintf(stderr, "Kestrava.KestravaCOM is not registered\n");
        return false;
    }
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilePlay,
                                  component.player.outVoid());
    if (FAILED(hr)) {
        std::fprintf(stderr, "CoCreateInstance failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return false;
    }
    return true;
}

bool queryInterfaces(Component &component) {
    IBaseFilePlay *player = component.player.get();
    return SUCCEEDED(player->QueryInterface(IID_IFileInfo, component.info.outVoid())) &&
           SUCCEEDED(player->QueryInterface(IID_IPlayFrame, component.frames.outVoid())) &&
           SUCCEEDED(player->QueryInterface(IID_ICapture, component.capture.outVoid())) &&
           SUCCEEDED(player->QueryInterface(IID_IExtendHalvet, component.extend.outVoid()));
}

// Plays to the end of the file, or until the time runs out, taking the snapshots on the way.
void playThrough(const Component &component, demo::DemoWindow &window, const Options &options,
                 Results &results) {
    bool jpegTried = false, bmpTried = false;
    DWORD start = GetTickCount();
    check(component.player->Play(), "Play");
    const DWORD limit = static_cast<DWORD>(results.totalTime) * 2000 + 20000;
    while (!window.ended() && GetTickCount() - start < limit) {
        window.pump();
        long at = 0;
        component.info->get_PlayedTimeEx(&at);
        if (!jpegTried && at >= options.jpegAt) {
            jpegTried = true;
            results.jpegSaved =
                check(component.capture->GetPicture(1, bstrOf(options.jpegPath).get()),
                      "GetPicture(JPEG)");
        }
        if (!bmpTried && at >= options.bmpAt) {
            bmpTried = true;
            results.bmpSaved = check(
                component.capture->GetPicture(2, bstrOf(options.bmpPath).get()), "GetPicture(BMP)");
        }
        if (!results.screenshot && at >= results.totalTime * 500) {
            results.screenshot = window.saveScreenshot(options.screenshotPath);
        }
        Sleep(5);
    }
    results.playMs = GetTickCount() - start;
    results.ended = window.ended();
    if (!results.ended) {
        failures.push_back("no end-of-file message");
    }
    results.playedFrames = framesDelivered;
}

// Steps forward and back from the middle of the file.
void stepAround(const Component &component, Results &results) {
    IFileInfo *info = component.info.get();
    check(info->SetCurPlayFrame(results.totalFrames / 2), "SetCurPlayFrame");
    results.stepped.push_back(frameNow(info));
    for (int i = 0; i < 3; ++i) {
        check(component.frames->StepForward(), "StepForward");
        results.stepped.push_back(frameNow(info));
    }
    for (int i = 0; i < 5; ++i) {
        check(component.frames->StepBackward(), "StepBackward");
        results.stepped.push_back(frameNow(info));
    }
    check(component.frames->IFrameBackward(), "IFrameBackward");
    results.stepped.push_back(frameNow(info));
}

void run(const Component &component, const Options &options, Results &results) {
    demo::DemoWindow window(640, 360);
    check(component.extend->SetAnalyzeCallBack(reinterpret_cast<LONG_PTR>(&analyse), 0, 0),
          "SetAnalyzeCallBack");
    kestrava::Bstr path = bstrOf(options.clip);
    if (!check(component.player->OpenFile(
                   path.get(), static_cast<long>(reinterpret_cast<intptr_t>(window.handle()))),
               "OpenFile")) {
        return;
    }
    check(component.info->get_TotalTime(&results.totalTime), "TotalTime");
    check(component.info->get_TotalFrame(&results.totalFrames), "TotalFrame");
    check(component.info->get_PictureSize(&results.width, &results.height), "PictureSize");
    playThrough(component, window, options, results);
    stepAround(component, results);
    check(component.player->CloseFile(), "CloseFile");
}

// Prints the report; the exit code is 0 when nothing went wrong.
int report(const Options &options, const Results &results) {
    std::printf("Kestrava demo report\n");
    std::printf("  file:              %s\n", options.clip.c_str());
    std::printf("  duration:          %ld s (played in %.1f s)\n", results.totalTime,
                results.playMs / 1000.0);
    std::printf("  picture:           %ld x %ld\n", results.width, results.height);
    std::printf("  frames in file:    %ld\n", results.totalFrames);
    std::printf("  frames to callback while playing: %ld (bad sizes: %ld, last %ldx%ld)\n",
                results.playedFrames, badFrames.load(), seenWidth.load(), seenHeight.load());
    std::printf("  end-of-file message: %s\n", results.ended ? "received" : "missing");
    const std::string bmpReport =
        results.bmpSaved ? " " + options.bmpPath : std::string(" (no BMP)");
    std::printf("  snapshots:         %s%s\n",
                results.jpegSaved ? options.jpegPath.c_str() : "(no JPEG) ", bmpReport.c_str());
    std::printf("  window screenshot: %s\n",
                results.screenshot ? options.screenshotPath.c_str() : "(none)");
    std::printf("  frames while stepping:");
    for (long f : results.stepped) {
        std::printf(" %ld", f);
    }
    std::printf("\n");
    for (const std::string &f : failures) {
        std::printf("  FAILED: %s\n", f.c_str());
    }
    int exitCode = 1;
    if (failures.empty() && results.playedFrames == results.totalFrames && badFrames == 0 &&
        results.totalFrames > 0) {
        exitCode = 0;
    }
    std::printf("  result:            %s\n", exitCode == 0 ? "OK" : "PROBLEMS");
    return exitCode;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: KestravaDemo CLIP OUTDIR [JPEG_AT_MS] [BMP_AT_MS]\n");
        return 2;
    }
    const Options options = optionsFrom(argc, argv);
    CreateDirectoryA(options.out.c_str(), nullptr);

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 2;
    }
    Results results;
    {
        Component component;
        if (!create(component)) {
            return 2;
        }
        if (queryInterfaces(component)) {
            run(component, options, results);
        } else {
            failures.push_back("QueryInterface for the component's interfaces failed");
        }
    }
    CoUninitialize();
    return report(options, results);
}
