// Sound against picture, listened to through the test runner's sink (tests/support/Listening.h),
// on clips whose second k sounds 300 + 100·k Hz (tests/support/make-media.sh's listen_*).
// Usage: bench_sound CLIP...   each played through at 1x, then the first once more with a seek
// from its third second to its sixth. Prints, per play: how long after Play the first sound
// came and from which media time; each second's offset from its picture (positive: sound late);
// their median and worst against the broadcast limits (median within 40 ms, worst no more than
// 40 ms early or 60 ms late); after the seek, how long the old place was still heard.
#include "BenchClip.h"
#include "BenchSupport.h"
#include "Listening.h"
#include "PlayM4.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

using namespace listening;

namespace {

std::mutex shownLock;
std::vector<double> shownAt(kTones, 0.0); // when second k's first picture was shown
double seekAt = 0;                        // only pictures after this count

void CALLBACK onFrame(LONG, char *, LONG, LONG, LONG, LONG, LONG, LONG number) {
    const double at = bench::nowMs();
    std::lock_guard<std::mutex> lock(shownLock);
    if (number % 25 == 0 && number / 25 < kTones && at > seekAt && shownAt[number / 25] == 0) {
        shownAt[number / 25] = at;
    }
}

volatile LONG indexed = 0;
void CALLBACK onIndexed(DWORD, DWORD_PTR) {
    indexed = 1;
}

struct Play {
    double playedAt, seekedAt, endedAt;
    std::vector<double> shown;
};

// Plays `clip` at 1x with its sound on to the end (about ten seconds); with `seek`, goes from the
// third second to the sixth.
bool play(const char *clip, bool seek, Play &p) {
    indexed = 0;
    const LONG port = bench::openClip(clip, &onIndexed, [] { return indexed != 0; });
    if (port < 0) {
        return false;
    }
    shownAt.assign(kTones, 0.0);
    seekAt = 0;
    PlayM4_SetDisplayCallBack(port, &onFrame);
    p = {bench::nowMs(), 0, 0, {}};
    PlayM4_Play(port, nullptr);
    if (!PlayM4_PlaySound(port)) {
        std::fprintf(stderr, "PlaySound failed: code %lu\n", PlayM4_GetLastError(port));
    }
    const DWORD total = PlayM4_GetFileTotalFrames(port);
    while (PlayM4_GetCurrentFrameNum(port) + 1 < total && bench::nowMs() - p.playedAt < 15000) {
        if (seek && p.seekedAt == 0 && PlayM4_GetCurrentFrameNum(port) >= 75) {
            {
                std::lock_guard<std::mutex> lock(shownLock);
                shownAt.assign(kTones, 0.0);
                seekAt = bench::nowMs();
            }
            PlayM4_SetPlayedTimeEx(port, 6000);
            p.seekedAt = bench::nowMs();
        }
        Sleep(5);
    }
    p.endedAt = bench::nowMs() + 100;
    Sleep(100);
    PlayM4_Stop(port);
    PlayM4_FreePort(port);
    std::lock_guard<std::mutex> lock(shownLock);
    p.shown = shownAt;
    return true;
}

void report(const char *what, const Play &p, const std::vector<ToneRun> &runs) {
    const double from = p.seekedAt > 0 ? p.seekedAt : p.playedAt;
    std::printf("%s\n", what);
    const ToneRun *first = nullptr;
    double oldHeard = 0;
    for (const ToneRun &r : runs) {
        if (r.endMs > p.playedAt && r.startMs < p.endedAt && !first) {
            first = &r;
        }
        if (p.seekedAt > 0 && r.tone < 6 && r.endMs > p.seekedAt && r.startMs < p.endedAt) {
            oldHeard = std::max(oldHeard, r.endMs - p.seekedAt);
        }
    }
    if (!first) {
        std::printf("  nothing heard\n");
        return;
    }
    if (p.seekedAt == 0) {
        // A run of second k that ends at its end began (its length) before k + 1.
        std::printf("  first sound %.0f ms after Play, at media time %.0f ms\n",
                    first->startMs - p.playedAt,
                    (first->tone + 1) * 1000.0 - (first->endMs - first->startMs));
    } else {
        std::printf("  the place before the seek heard for %.0f ms after the call\n", oldHeard);
    }
    std::vector<double> at = secondsHeard(runs, from, p.endedAt), off;
    std::printf("  offset per second (ms):");
    for (int k = 0; k < kTones; ++k) {
        if (at[k] > 0 && p.shown[k] > 0) {
            off.push_back(at[k] - p.shown[k]);
            std::printf(" %d:%+.0f", k, off.back());
        } else if (p.shown[k] > 0) {
            std::printf(" %d:unheard", k);
        }
    }
    std::printf("\n");
    if (!off.empty()) {
        const auto worst = std::minmax_element(off.begin(), off.end());
        std::printf("  median %+.0f ms (limit 40), earliest %+.0f (limit -40), latest %+.0f "
                    "(limit +60), %zu seconds\n",
                    median(off), *worst.first, *worst.second, off.size());
    }
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_sound CLIP...\n");
        return 2;
    }
    Recording heard;
    heard.click();
    if (!heard.unavailable().empty()) {
        std::printf("not listened: %s\n", heard.unavailable().c_str());
        return 0;
    }
    std::vector<Play> plays(argc);
    for (int i = 1; i < argc; ++i) {
        if (!play(argv[i], false, plays[i - 1])) {
            return 1;
        }
    }
    if (!play(argv[1], true, plays[argc - 1])) {
        return 1;
    }
    if (!heard.finish()) {
        std::printf("not listened: %s\n", heard.unavailable().c_str());
        return 0;
    }
    const std::vector<ToneRun> runs = runsOf(heard.windows);
    std::printf("waveOutGetPosition passed a click %.0f ms before the click was heard\n",
                heard.positionLeadMs());
    for (int i = 1; i < argc; ++i) {
        report(argv[i], plays[i - 1], runs);
    }
    report((std::string(argv[1]) + ", seek from 3 s to 6 s").c_str(), plays[argc - 1], runs);
    return 0;
}
