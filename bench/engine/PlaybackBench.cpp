// Playback against the clock, measured on one clip under real time.
// Usage: bench_playback lag CLIP CALLBACK_MS SECONDS  - 1x with a display callback that takes
//                                                        CALLBACK_MS: how far what is shown
//                                                        trails the clock
//        bench_playback speed CLIP STEPS SECONDS      - STEPS speed steps up (4: 16x): the
//                                                        speed reached
//        bench_playback start CLIP                    - 1x straight after opening: the gaps
//                                                        between the first frames while the
//                                                        index is built
#include "BenchClip.h"
#include "BenchSupport.h"
#include "PlayM4.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Shown {
    double at;
    LONG stamp, number;
};

std::atomic<DWORD> callbackMs{0};
std::atomic<double> indexedAt{0.0};
CRITICAL_SECTION shownLock;
std::vector<Shown> shown;

void CALLBACK onFrame(LONG, char *, LONG, LONG, LONG, LONG stamp, LONG, LONG number) {
    double at = bench::nowMs();
    EnterCriticalSection(&shownLock);
    shown.push_back({at, stamp, number});
    LeaveCriticalSection(&shownLock);
    if (DWORD ms = callbackMs.load()) {
        Sleep(ms);
    }
}

void CALLBACK onIndexed(DWORD, DWORD_PTR) {
    indexedAt = bench::nowMs();
}

std::vector<Shown> takeShown() {
    EnterCriticalSection(&shownLock);
    std::vector<Shown> out;
    out.swap(shown);
    LeaveCriticalSection(&shownLock);
    return out;
}

// A port on `clip` that shows its frames to onFrame, once its index is ready if `waitIndex`.
LONG openShowing(const char *clip, bool waitIndex) {
    indexedAt = 0.0;
    LONG port = bench::openClip(clip, &onIndexed,
                                [waitIndex] { return !waitIndex || indexedAt.load() != 0.0; });
    if (port >= 0) {
        PlayM4_SetDisplayCallBack(port, &onFrame);
    }
    return port;
}

int lag(const char *clip, DWORD ms, double seconds) {
    LONG port = openShowing(clip, true);
    if (port < 0) {
        return 1;
    }
    callbackMs = ms;
    PlayM4_Play(port, nullptr);
    Sleep(static_cast<DWORD>(seconds * 1000));
    std::vector<Shown> frames = takeShown();
    PlayM4_Pause(port, 1);
    PlayM4_FreePort(port);
    if (frames.size() < 2) {
        std::printf("lag: no frames shown\n");
        return 1;
    }
    // The clock starts with the first frame shown; media time then runs with wall time.
    const Shown &first = frames.front(), &last = frames.back();
    double clockMs = last.at - first.at + first.stamp;
    double worst = 0;
    for (const Shown &s : frames) {
        double behind = s.at - first.at + first.stamp - s.stamp;
        worst = std::max(worst, behind);
        if (std::getenv("BENCH_FRAMES") && behind > 80) {
            std::printf("  %.0f ms: frame %ld at %ld ms, %.0f ms behind\n", s.at - first.at,
                        s.number, s.stamp, behind);
        }
    }
    std::printf("lag with a %lu ms callback after %.1f s: %.0f ms behind the clock (worst %.0f "
                "ms); %zu frames shown of %ld played, last %ld\n",
                ms, (last.at - first.at) / 1000.0, clockMs - last.stamp, worst, frames.size(),
                last.number - first.number + 1, last.number);
    return 0;
}

int speed(const char *clip, int steps, double seconds) {
    LONG port = openShowing(clip, true);
    if (port < 0) {
        return 1;
    }
    PlayM4_Play(port, nullptr);
    for (int i = 0; i < steps; ++i) {
        PlayM4_Fast(port);
    }
    // Settle for a moment, then measure media progress over wall time.
    Sleep(300);
    takeShown();
    double start = bench::nowMs();
    DWORD fromMs = PlayM4_GetPlayedTimeEx(port);
    Sleep(static_cast<DWORD>(seconds * 1000));
    DWORD toMs = PlayM4_GetPlayedTimeEx(port);
    double wall = bench::nowMs() - start;
    std::vector<Shown> frames = takeShown();
    PlayM4_FreePort(port);
    double target = std::ldexp(1.0, steps);
    double reached = (toMs - fromMs) / wall;
    LONG played = frames.empty() ? 0 : frames.back().number - frames.front().number + 1;
    // How far what is shown trails the clock, which runs at the speed asked from the first
    // frame shown on.
    double worst = 0, last = 0;
    for (const Shown &s : frames) {
        last = (s.at - frames.front().at) * target - (s.stamp - frames.front().stamp);
        worst = std::max(worst, last);
    }
    std::printf("speed %gx asked: %.2fx reached over %.1f s of wall time; %zu frames shown of "
                "%ld played; the last %.0f ms of media behind the clock (worst %.0f ms)\n",
                target, reached, wall / 1000.0, frames.size(), played, last, worst);
    if (std::getenv("BENCH_FRAMES")) {
        for (const Shown &s : frames) {
            std::printf("  %.0f ms: frame %ld at %ld ms\n", s.at - frames.front().at, s.number,
                        s.stamp);
        }
    }
    return 0;
}

int start(const char *clip) {
    double opening = bench::nowMs();
    LONG port = openShowing(clip, false);
    if (port < 0) {
        return 1;
    }
    double opened = bench::nowMs();
    PlayM4_Play(port, nullptr);
    Sleep(3000);
    std::vector<Shown> frames = takeShown();
    PlayM4_FreePort(port);
    std::printf("open: %.0f ms; index ready %.0f ms after opening\n", opened - opening,
                indexedAt.load() > 0 ? indexedAt.load() - opened : -1.0);
    double worstGap = 0;
    for (size_t i = 1; i < frames.size(); ++i) {
        worstGap = std::max(worstGap, frames[i].at - frames[i - 1].at);
    }
    size_t beforeIndex = 0;
    for (const Shown &s : frames) {
        beforeIndex += indexedAt.load() == 0.0 || s.at < indexedAt.load() ? 1 : 0;
    }
    std::printf("first 3 s: %zu frames shown, %zu before the index was ready; first frame %.0f "
                "ms after opening; longest gap between frames %.0f ms\n",
                frames.size(), beforeIndex, frames.empty() ? -1.0 : frames[0].at - opened,
                worstGap);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    InitializeCriticalSection(&shownLock);
    if (argc >= 5 && std::strcmp(argv[1], "lag") == 0) {
        return lag(argv[2], static_cast<DWORD>(std::atoi(argv[3])), std::atof(argv[4]));
    }
    if (argc >= 5 && std::strcmp(argv[1], "speed") == 0) {
        return speed(argv[2], std::atoi(argv[3]), std::atof(argv[4]));
    }
    if (argc >= 3 && std::strcmp(argv[1], "start") == 0) {
        return start(argv[2]);
    }
    std::printf("bench_playback: see bench/engine/run.sh\n");
    return 0;
}
