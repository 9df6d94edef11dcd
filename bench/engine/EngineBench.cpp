// Engine benchmarks on one clip, each a ratio of two figures taken in the same run.
// Usage: bench_engine CLIP [NATIVE_DECODE_MS [NATIVE_REALTIME_CPU_MS]]
//   NATIVE_DECODE_MS: the native `ffmpeg -f null` decode time of CLIP, measured just before.
//   NATIVE_REALTIME_CPU_MS: the CPU time of the tool decoding CLIP at its real pace (`-re`).
#include "BenchClip.h"
#include "BenchSupport.h"
#include "PlayM4.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

namespace {

volatile LONG indexed = 0;
void CALLBACK onIndexed(DWORD, DWORD_PTR) {
    indexed = 1;
}

DWORD keyAtOrBefore(LONG port, DWORD frame) {
    FramePosition pos = {};
    PlayM4_GetKeyFramePos(port, frame, 1, &pos);
    return static_cast<DWORD>(pos.frameNum);
}

// Time of one seek, after a seek elsewhere so that nothing decoded earlier helps it.
double timedSeek(LONG port, DWORD frame, DWORD elsewhere) {
    PlayM4_SetCurrentFrameNum(port, elsewhere);
    double start = bench::nowMs();
    PlayM4_SetCurrentFrameNum(port, frame);
    return bench::nowMs() - start;
}

// The three exact positioning calls, each to frame `frame` of `total` frames of 40 ms.
bool seekBy(int how, LONG port, DWORD frame, DWORD total) {
    switch (how) {
    case 0:
        return PlayM4_SetCurrentFrameNum(port, frame);
    case 1:
        return PlayM4_SetPlayedTimeEx(port, frame * 40);
    default:
        return PlayM4_SetPlayPos(port, static_cast<float>(frame) / static_cast<float>(total));
    }
}

// Ten steps back from `from`, after a seek elsewhere.
double tenStepsBack(LONG port, DWORD from, DWORD elsewhere) {
    PlayM4_SetCurrentFrameNum(port, elsewhere);
    PlayM4_SetCurrentFrameNum(port, from);
    double start = bench::nowMs();
    for (int i = 0; i < 10; ++i) {
        PlayM4_OneByOneBack(port);
    }
    return bench::nowMs() - start;
}

// Twenty positioning calls, each from a thread of its own started `gapMs` after the one before
// (0: as fast as the host can): the time from the last call made to the last call returned,
// when the frame it asked for is on screen.
double scrub(LONG port, DWORD total, std::mt19937 &random, DWORD gapMs) {
    struct Call {
        DWORD frame;
        double made, returned;
    };
    std::vector<Call> calls(20);
    std::vector<std::thread> threads;
    for (Call &call : calls) {
        call.frame = random() % total;
        threads.emplace_back([&call, port] {
            call.made = bench::nowMs();
            PlayM4_SetCurrentFrameNum(port, call.frame);
            call.returned = bench::nowMs();
        });
        if (gapMs > 0) {
            Sleep(gapMs);
        }
    }
    double made = 0, returned = 0;
    for (size_t i = 0; i < calls.size(); ++i) {
        threads[i].join();
        made = std::max(made, calls[i].made);
        returned = std::max(returned, calls[i].returned);
    }
    return returned - made;
}

double processCpuMs() {
    FILETIME created, ended, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto ms = [](const FILETIME &t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime) /
               10000.0;
    };
    return ms(kernel) + ms(user);
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::printf("bench_engine: needs a clip; run bench/engine/run.sh\n");
        return 0;
    }
    const char *clip = argv[1];
    const double nativeMs = argc > 2 ? std::atof(argv[2]) : 0.0;
    const double nativeCpuMs = argc > 3 ? std::atof(argv[3]) : 0.0;

    // 1. Decoding every frame through the engine, no window and no callback.
    indexed = 0;
    LONG port = bench::openClip(clip, &onIndexed, [] { return indexed != 0; });
    if (port < 0) {
        return 1;
    }
    const DWORD total = PlayM4_GetFileTotalFrames(port);
    LONG width = 0, height = 0;
    PlayM4_GetPictureSize(port, &width, &height);
    double start = bench::nowMs();
    DWORD decoded = 0;
    while (PlayM4_OneByOne(port)) {
        ++decoded;
    }
    const double engineMs = bench::nowMs() - start;
    std::printf("clip: %ldx%ld, %lu frames\n", width, height, total);
    std::printf("decode through the engine: %lu frames in %.0f ms (%.1f fps)\n", decoded, engineMs,
                decoded * 1000.0 / engineMs);
    if (nativeMs > 0) {
        std::printf("decode with native ffmpeg -f null: %.0f ms; engine/native ratio %.2f "
                    "(target <= 1.1)\n",
                    nativeMs, engineMs / nativeMs);
    }

    // 2. Exact seeks to random frames by each call vs seeks to their key frames.
    const char *const calls[] = {"SetCurrentFrameNum", "SetPlayedTimeEx", "SetPlayPos"};
    for (int how = 0; how < 3; ++how) {
        std::mt19937 random(20261207);
        const int seeks = 12;
        double exactMs = 0, keyMs = 0;
        for (int i = 0; i < seeks; ++i) {
            DWORD frame = random() % total;
            DWORD elsewhere = (frame + total / 2) % total;
            PlayM4_SetCurrentFrameNum(port, elsewhere);
            start = bench::nowMs();
            seekBy(how, port, frame, total);
            exactMs += bench::nowMs() - start;
            keyMs += timedSeek(port, keyAtOrBefore(port, frame), elsewhere);
        }
        std::printf("exact seek by %s: %.1f ms; to the key frame: %.1f ms; ratio %.2f "
                    "(target <= 2.0)\n",
                    calls[how], exactMs / seeks, keyMs / seeks, exactMs / keyMs);
    }

    // 3. Scrubbing: the newest of twenty calls on screen vs one exact seek to the same frame.
    for (DWORD gapMs : {0, 10}) {
        std::mt19937 random(20261208);
        const int rounds = 8;
        double scrubMs = 0, aloneMs = 0;
        for (int r = 0; r < rounds; ++r) {
            PlayM4_SetCurrentFrameNum(port, 0);
            scrubMs += scrub(port, total, random, gapMs);
            DWORD shown = PlayM4_GetCurrentFrameNum(port);
            aloneMs += timedSeek(port, shown, (shown + total / 2) % total);
        }
        std::printf("twenty positioning calls %s: newest on screen %.1f ms after the last; "
                    "one exact seek to it %.1f ms; ratio %.2f (target <= 1.3)\n",
                    gapMs ? "10 ms apart" : "as fast as the host can", scrubMs / rounds,
                    aloneMs / rounds, scrubMs / aloneMs);
    }

    // 4. Ten steps back across a group boundary vs ten inside a group, each after a seek.
    DWORD key = keyAtOrBefore(port, total / 2);
    double acrossMs = 0, insideMs = 0;
    const int rounds = 3;
    for (int r = 0; r < rounds; ++r) {
        acrossMs += tenStepsBack(port, key + 4, 0);
        insideMs += tenStepsBack(port, key + 24, 0);
    }
    std::printf("ten steps back across a group boundary: %.1f ms; inside a group: %.1f ms; "
                "ratio %.2f (target <= 3)\n",
                acrossMs / rounds, insideMs / rounds, acrossMs / insideMs);

    // 5. Ten steps back inside a group vs ten seeks to the same frames.
    DWORD from = std::min(total - 1, key + 20);
    double stepMs = 0, seekMs = 0;
    for (int r = 0; r < rounds; ++r) {
        PlayM4_SetCurrentFrameNum(port, 0);
        PlayM4_SetCurrentFrameNum(port, from);
        start = bench::nowMs();
        for (int i = 0; i < 10; ++i) {
            PlayM4_OneByOneBack(port);
        }
        stepMs += bench::nowMs() - start;
        for (int i = 1; i <= 10; ++i) {
            seekMs += timedSeek(port, from - i, 0);
        }
    }
    std::printf("ten steps back inside a group: %.1f ms; ten seeks: %.1f ms; ratio %.1fx "
                "(target >= 5x)\n",
                stepMs / rounds, seekMs / rounds, seekMs / stepMs);

    // 6. The CPU of playing the whole clip at 1x, no window, vs the tool's at the same pace.
    if (nativeCpuMs > 0) {
        PlayM4_Stop(port);
        const double cpuStart = processCpuMs();
        start = bench::nowMs();
        PlayM4_Play(port, nullptr);
        while (PlayM4_GetPlayPos(port) < 1.0f && bench::nowMs() - start < 4.0 * total * 40) {
            Sleep(20);
        }
        const double playMs = bench::nowMs() - start, cpuMs = processCpuMs() - cpuStart;
        std::printf("playing at 1x: %.0f%% of one core over %.1f s; the tool at its real pace: "
                    "%.0f%%; ratio %.2f\n",
                    100.0 * cpuMs / playMs, playMs / 1000.0, 100.0 * nativeCpuMs / (total * 40.0),
                    cpuMs / nativeCpuMs);
    }
    PlayM4_FreePort(port);
    return 0;
}
