// Many ports of large pictures playing at once in one 32-bit process.
#include "EngineSupport.h"

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <iterator>

using namespace enginetest;

namespace {

constexpr SIZE_T kProcessLimit = SIZE_T(1536) << 20;

SIZE_T peakPrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakPagefileUsage;
}

std::atomic<int> wrongStamps{0};
LONG lastShown[64];

// However late a frame is handed over, it carries its own time, and none comes out of order.
void CALLBACK checkStamp(LONG port, char *, LONG, LONG, LONG, LONG stamp, LONG, LONG number) {
    if (stamp != number * 40 || number <= lastShown[port & 63]) {
        ++wrongStamps;
    }
    lastShown[port & 63] = number;
}

// Plays `count` ports of one clip together to their ends: every port shows its last frame
// before the end is posted, and none stops on the way.
void playTogether(const char *clip, int count) {
    wrongStamps = 0;
    std::fill(std::begin(lastShown), std::end(lastShown), -1);
    EndWindow window;
    std::string path = media(clip);
    std::vector<LONG> ports;
    for (int i = 0; i < count; ++i) {
        LONG port = -1;
        ASSERT_TRUE(PlayM4_GetPort(&port));
        ports.push_back(port);
        ASSERT_TRUE(PlayM4_SetFileEndMsg(port, window.hwnd, kEndMessage));
        ASSERT_TRUE(PlayM4_OpenFile(port, &path[0])) << "code " << PlayM4_GetLastError(port);
        ASSERT_TRUE(PlayM4_SetDisplayCallBack(port, &checkStamp));
    }
    const DWORD last = PlayM4_GetFileTotalFrames(ports[0]) - 1;
    for (LONG port : ports) {
        ASSERT_TRUE(PlayM4_Play(port, nullptr));
    }
    std::vector<DWORD> frames(count, 0);
    int early = 0;
    DWORD lastProgress = GetTickCount();
    waitFor(
        [&] {
            for (int i = 0; i < count; ++i) {
                // The position first: a port that reports the end must show its last frame
                // from then on, while one read the other way round may simply move on between.
                const bool atEnd = PlayM4_GetPlayPos(ports[i]) == 1.0f;
                DWORD frame = PlayM4_GetCurrentFrameNum(ports[i]);
                if (frame != frames[i]) {
                    lastProgress = GetTickCount();
                }
                frames[i] = frame;
                if (atEnd && frame < last) {
                    ++early;
                }
            }
            // Done when all have ended, or when none has moved for a while.
            return EndWindow::endMessages >= count || GetTickCount() - lastProgress > 15000;
        },
        300000);
    SIZE_T peak = peakPrivateBytes();
    std::printf("%d ports of %s: peak private bytes %lu MB\n", count, clip,
                static_cast<unsigned long>(peak >> 20));
    EXPECT_EQ(0, early);
    EXPECT_EQ(0, wrongStamps.load());
    EXPECT_EQ(count, EndWindow::endMessages);
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(last, frames[i]) << "port " << ports[i];
    }
    EXPECT_LT(peak, kProcessLimit);
    for (LONG port : ports) {
        PlayM4_FreePort(port);
    }
}

} // namespace

TEST(Load, SixteenPortsOf1080pPlayToTheirEnds) {
    playTogether("load_1080p.mp4", 16);
}

TEST(Load, FourPortsOf2160pHevcPlayToTheirEnds) {
    playTogether("load_2160p.mkv", 4);
}
