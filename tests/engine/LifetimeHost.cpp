// A host that loads the engine at run time, leaves ports open in every state (open, playing,
// paused, playing with sound) and then ends in the way named by its argument:
//   return  returns from main          exit  calls ExitProcess
//   unload  frees the engine, which must then unload by itself once its threads have stopped
// A hang is the failure: CTest's time limit ends the test.
#include "Harness.h"
#include "PlayM4.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
std::atomic<int> frames{0};
void CALLBACK counted(LONG, char *, LONG, LONG, LONG, LONG, LONG, LONG) {
    ++frames;
}

template <class F> F entry(HMODULE engine, const char *name) {
    auto fn = reinterpret_cast<F>(reinterpret_cast<void (*)()>(GetProcAddress(engine, name)));
    if (!fn) {
        std::printf("missing export %s\n", name);
        std::exit(3);
    }
    return fn;
}
} // namespace

int main(int argc, char **argv) {
    const char *mode = argc > 1 ? argv[1] : "";
    std::string path = harness::media("KESTRAVA_ENGINE_MEDIA", "h264_aac.mp4");

    HMODULE engine = LoadLibraryA("PlayCtrl.dll");
    if (!engine) {
        std::printf("PlayCtrl.dll not loaded\n");
        return 2;
    }
    auto getPort = entry<decltype(&PlayM4_GetPort)>(engine, "PlayM4_GetPort");
    auto openFile = entry<decltype(&PlayM4_OpenFile)>(engine, "PlayM4_OpenFile");
    auto play = entry<decltype(&PlayM4_Play)>(engine, "PlayM4_Play");
    auto pause = entry<decltype(&PlayM4_Pause)>(engine, "PlayM4_Pause");
    auto fast = entry<decltype(&PlayM4_Fast)>(engine, "PlayM4_Fast");
    auto playSound = entry<decltype(&PlayM4_PlaySound)>(engine, "PlayM4_PlaySound");
    auto setDisplay =
        entry<decltype(&PlayM4_SetDisplayCallBack)>(engine, "PlayM4_SetDisplayCallBack");
    auto frameNum =
        entry<decltype(&PlayM4_GetCurrentFrameNum)>(engine, "PlayM4_GetCurrentFrameNum");

    LONG ports[4];
    for (LONG &port : ports) {
        if (!getPort(&port) || !openFile(port, &path[0])) {
            std::printf("cannot open %s\n", path.c_str());
            return 2;
        }
    }
    setDisplay(ports[1], &counted);
    play(ports[1], nullptr);
    fast(ports[1]);
    fast(ports[1]);
    play(ports[2], nullptr);
    play(ports[3], nullptr);
    playSound(ports[3]); // no sound device is fine: the port plays on
    // Every port is past its start, and so are the threads each starts (decoders, sound): Wine
    // may crash a process that ends while one of its threads is still setting itself up.
    auto underWay = [&] {
        return frames >= 3 && frameNum(ports[2]) >= 10 && frameNum(ports[3]) >= 10;
    };
    for (int i = 0; i < 2000 && !underWay(); ++i) {
        Sleep(5);
    }
    if (!underWay()) {
        std::printf("nothing played\n");
        return 4;
    }
    pause(ports[2], 1);
    std::printf("ports open, %d frames shown\n", frames.load());
    std::fflush(stdout);

    if (std::strcmp(mode, "exit") == 0) {
        ExitProcess(0);
    }
    if (std::strcmp(mode, "unload") == 0) {
        FreeLibrary(engine);
        std::printf("FreeLibrary returned\n");
        std::fflush(stdout);
        // Playback ends within seconds; the engine's threads then stop and release it.
        for (int i = 0; i < 1200 && GetModuleHandleA("PlayCtrl.dll"); ++i) {
            Sleep(50);
        }
        if (GetModuleHandleA("PlayCtrl.dll")) {
            std::printf("PlayCtrl.dll still loaded\n");
            return 1;
        }
        std::printf("PlayCtrl.dll unloaded\n");
    }
    return 0;
}
