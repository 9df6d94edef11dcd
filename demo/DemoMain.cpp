// Plays a file through the registered component into a window of its own, the way a host
// application does, and prints a short report.
// Usage: KestravaDemo.exe CLIP OUTDIR [JPEG_AT_MS] [BMP_AT_MS]
#include "DemoWindow.h"

#include "Kestrava.h"

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

class Bstr {
  public:
    explicit Bstr(const std::string &ansi) {
        int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
        std::vector<wchar_t> wide(n > 0 ? n : 1);
        MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide.data(), n);
        value_ = SysAllocString(wide.data());
    }
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr &) = delete;
    Bstr &operator=(const Bstr &) = delete;
    operator BSTR() const { return value_; }

  private:
    BSTR value_;
};

template <class T> void release(T *&p) {
    if (p) {
        p->Release();
    }
    p = nullptr;
}

long frameNow(IFileInfo *info) {
    long frame = -1;
    info->get_PlayedFrame(&frame);
    return frame;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: KestravaDemo CLIP OUTDIR [JPEG_AT_MS] [BMP_AT_MS]\n");
        return 2;
    }
    const std::string clip = argv[1], out = argv[2];
    const long jpegAt = argc > 3 ? std::atol(argv[3]) : 1000;
    const long bmpAt = argc > 4 ? std::atol(argv[4]) : 2000;
    const std::string jpegPath = out + "/snapshot.jpg", bmpPath = out + "/snapshot.bmp",
                      screenshotPath = out + "/window.bmp";
    CreateDirectoryA(out.c_str(), nullptr);

    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 2;
    }
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"Kestrava.KestravaCOM", &clsid))) {
        std::fprintf(stderr, "Kestrava.KestravaCOM is not registered\n");
        return 2;
    }
    IBaseFilePlay *player = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilePlay,
                                  reinterpret_cast<void **>(&player));
    if (FAILED(hr)) {
        std::fprintf(stderr, "CoCreateInstance failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 2;
    }
    IFileInfo *info = nullptr;
    IPlayFrame *frames = nullptr;
    ICapture *capture = nullptr;
    IExtendHalvet *extend = nullptr;
    bool interfaces =
        SUCCEEDED(player->QueryInterface(IID_IFileInfo, reinterpret_cast<void **>(&info))) &&
        SUCCEEDED(player->QueryInterface(IID_IPlayFrame, reinterpret_cast<void **>(&frames))) &&
        SUCCEEDED(player->QueryInterface(IID_ICapture, reinterpret_cast<void **>(&capture))) &&
        SUCCEEDED(player->QueryInterface(IID_IExtendHalvet, reinterpret_cast<void **>(&extend)));
    int exitCode = 1;
    long totalTime = 0, totalFrames = 0, width = 0, height = 0, playedFrames = 0;
    std::vector<long> stepped;
    bool ended = false, jpegSaved = false, bmpSaved = false, screenshot = false;
    bool jpegTried = false, bmpTried = false;
    DWORD playMs = 0;
    if (interfaces) {
        demo::DemoWindow window(640, 360);
        check(extend->SetAnalyzeCallBack(reinterpret_cast<LONG_PTR>(&analyse), 0, 0),
              "SetAnalyzeCallBack");
        Bstr path(clip);
        if (check(player->OpenFile(path,
                                   static_cast<long>(reinterpret_cast<intptr_t>(window.handle()))),
                  "OpenFile")) {
            check(info->get_TotalTime(&totalTime), "TotalTime");
            check(info->get_TotalFrame(&totalFrames), "TotalFrame");
            check(info->get_PictureSize(&width, &height), "PictureSize");

            DWORD start = GetTickCount();
            check(player->Play(), "Play");
            const DWORD limit = static_cast<DWORD>(totalTime) * 2000 + 20000;
            while (!window.ended() && GetTickCount() - start < limit) {
                window.pump();
                long at = 0;
                info->get_PlayedTimeEx(&at);
                if (!jpegTried && at >= jpegAt) {
                    jpegTried = true;
                    jpegSaved = check(capture->GetPicture(1, Bstr(jpegPath)), "GetPicture(JPEG)");
                }
                if (!bmpTried && at >= bmpAt) {
                    bmpTried = true;
                    bmpSaved = check(capture->GetPicture(2, Bstr(bmpPath)), "GetPicture(BMP)");
                }
                if (!screenshot && at >= totalTime * 500) {
                    screenshot = window.saveScreenshot(screenshotPath);
                }
                Sleep(5);
            }
            playMs = GetTickCount() - start;
            ended = window.ended();
            if (!ended) {
                failures.push_back("no end-of-file message");
            }
            playedFrames = framesDelivered;

            // Step forward and back from the middle of the file.
            check(info->SetCurPlayFrame(totalFrames / 2), "SetCurPlayFrame");
            stepped.push_back(frameNow(info));
            for (int i = 0; i < 3; ++i) {
                check(frames->StepForward(), "StepForward");
                stepped.push_back(frameNow(info));
            }
            for (int i = 0; i < 5; ++i) {
                check(frames->StepBackward(), "StepBackward");
                stepped.push_back(frameNow(info));
            }
            check(frames->IFrameBackward(), "IFrameBackward");
            stepped.push_back(frameNow(info));
            check(player->CloseFile(), "CloseFile");
        }
    } else {
        failures.push_back("QueryInterface for the component's interfaces failed");
    }
    release(extend);
    release(capture);
    release(frames);
    release(info);
    release(player);
    CoUninitialize();

    std::printf("Kestrava demo report\n");
    std::printf("  file:              %s\n", clip.c_str());
    std::printf("  duration:          %ld s (played in %.1f s)\n", totalTime, playMs / 1000.0);
    std::printf("  picture:           %ld x %ld\n", width, height);
    std::printf("  frames in file:    %ld\n", totalFrames);
    std::printf("  frames to callback while playing: %ld (bad sizes: %ld, last %ldx%ld)\n",
                playedFrames, badFrames.load(), seenWidth.load(), seenHeight.load());
    std::printf("  end-of-file message: %s\n", ended ? "received" : "missing");
    const std::string bmpReport = bmpSaved ? " " + bmpPath : std::string(" (no BMP)");
    std::printf("  snapshots:         %s%s\n", jpegSaved ? jpegPath.c_str() : "(no JPEG) ",
                bmpReport.c_str());
    std::printf("  window screenshot: %s\n", screenshot ? screenshotPath.c_str() : "(none)");
    std::printf("  frames while stepping:");
    for (long f : stepped) {
        std::printf(" %ld", f);
    }
    std::printf("\n");
    for (const std::string &f : failures) {
        std::printf("  FAILED: %s\n", f.c_str());
    }
    if (failures.empty() && playedFrames == totalFrames && badFrames == 0 && totalFrames > 0) {
        exitCode = 0;
    }
    std::printf("  result:            %s\n", exitCode == 0 ? "OK" : "PROBLEMS");
    return exitCode;
}
