// Every export from any thread and from inside every callback: nothing faults, nothing waits
// for a thread that waits for it.
#include "EngineSupport.h"

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace enginetest;

namespace {
// A failed call from inside a callback is refused at once with code 2, or is an ordinary
// failure of that call (a bad argument, no file): never a hang.
bool worksOrRefused(BOOL result, LONG port) {
    return result || PlayM4_GetLastError(port) != 0;
}
} // namespace

TEST(Threads, GettersOnFourThreadsWhileAFifthOpensPlaysSeeksAndCloses) {
    LONG port;
    ASSERT_TRUE(PlayM4_GetPort(&port));
    std::string path = media("tiny.mp4");
    std::atomic<bool> done{false};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            while (!done) {
                FramePosition pos = {};
                LONG w, h;
                PlayM4_GetFileTime(port);
                PlayM4_GetPlayPos(port);
                PlayM4_GetKeyFramePos(port, 5, 1, &pos);
                PlayM4_GetNextKeyFramePos(port, 2, 1, &pos);
                PlayM4_GetKeyFramePos(port, 200, 2, &pos);
                PlayM4_GetFileTotalFrames(port);
                PlayM4_GetCurrentFrameNum(port);
                PlayM4_GetPlayedTime(port);
                PlayM4_GetPlayedTimeEx(port);
                PlayM4_GetPictureSize(port, &w, &h);
                PlayM4_GetVolume(port);
                PlayM4_GetLastError(port);
                Sleep(1); // leave the fifth thread some of the machine
            }
        });
    }
    int opened = 0;
    for (int round = 0; round < 2000; ++round) {
        if (PlayM4_OpenFile(port, &path[0])) {
            ++opened;
        }
        PlayM4_Play(port, nullptr);
        PlayM4_SetCurrentFrameNum(port, static_cast<DWORD>(round % 12));
        PlayM4_CloseFile(port);
    }
    done = true;
    for (auto &t : readers) {
        t.join();
    }
    EXPECT_EQ(2000, opened);
    EXPECT_TRUE(PlayM4_FreePort(port));
}

namespace {
std::atomic<int> indexSeeks{0}, indexSeeksRefused{0};
void CALLBACK seekWhenIndexed(DWORD port, DWORD_PTR) {
    Sleep(20); // the host is closing by now
    LONG p = static_cast<LONG>(port);
    if (!PlayM4_SetCurrentFrameNum(p, 10)) {
        ++indexSeeksRefused;
    }
    ++indexSeeks;
}
} // namespace

TEST(Threads, IndexCallbackSeeksWhileTheHostCloses) {
    LONG port;
    ASSERT_TRUE(PlayM4_GetPort(&port));
    ASSERT_TRUE(PlayM4_SetFileRefCallBack(port, &seekWhenIndexed, 0));
    std::string path = media("h264.mp4");
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(PlayM4_OpenFile(port, &path[0]));
        Sleep(i * 3);
        EXPECT_TRUE(PlayM4_CloseFile(port));
    }
    // Open and wait: the seek from the callback works.
    indexSeeks = 0;
    indexSeeksRefused = 0;
    ASSERT_TRUE(PlayM4_OpenFile(port, &path[0]));
    ASSERT_TRUE(waitFor([] { return indexSeeks > 0; }));
    EXPECT_EQ(0, indexSeeksRefused.load());
    EXPECT_EQ(10u, PlayM4_GetCurrentFrameNum(port));
    EXPECT_TRUE(PlayM4_FreePort(port));
}

namespace {
LONG pair[2] = {-1, -1};
std::atomic<int> crossCalls{0}, crossBad{0}, crossBadCode{0};
void CALLBACK positionTheOther(LONG port, char *, LONG, LONG, LONG, LONG, LONG, LONG number) {
    LONG other = port == pair[0] ? pair[1] : pair[0];
    BOOL ok = PlayM4_SetCurrentFrameNum(other, static_cast<DWORD>(number % 100));
    if (!ok && PlayM4_GetLastError(other) != 2) {
        crossBadCode = static_cast<int>(PlayM4_GetLastError(other));
        ++crossBad;
    }
    ++crossCalls;
}
} // namespace

TEST(Threads, TwoPortsWhoseCallbacksPositionEachOther) {
    crossCalls = 0;
    crossBad = 0;
    std::string path = media("h264.mp4");
    for (LONG &port : pair) {
        ASSERT_TRUE(PlayM4_GetPort(&port));
        ASSERT_TRUE(PlayM4_OpenFile(port, &path[0]));
        ASSERT_TRUE(PlayM4_SetDisplayCallBack(port, &positionTheOther));
    }
    for (LONG port : pair) {
        ASSERT_TRUE(PlayM4_Play(port, nullptr));
    }
    // The host drives them too, meanwhile.
    for (int i = 0; i < 50; ++i) {
        EXPECT_TRUE(PlayM4_SetCurrentFrameNum(pair[i % 2], static_cast<DWORD>(i)));
        Sleep(10);
    }
    EXPECT_TRUE(waitFor([] { return crossCalls > 20; }));
    for (LONG port : pair) {
        EXPECT_TRUE(PlayM4_FreePort(port));
    }
    EXPECT_EQ(0, crossBad.load()) << "code " << crossBadCode.load();
}

// A thread reads the code of its own failed call while another succeeds on the same port;
// no code outlives its port or its thread.
TEST(Threads, EachThreadReadsTheCodeOfItsOwnLastCall) {
    LONG port;
    ASSERT_TRUE(PlayM4_GetPort(&port));
    std::string path = media("tiny.mp4");
    ASSERT_TRUE(PlayM4_OpenFile(port, &path[0]));
    ASSERT_FALSE(PlayM4_GetPictureSize(port, nullptr, nullptr));
    DWORD expected = PlayM4_GetLastError(port);
    ASSERT_NE(0u, expected);
    std::atomic<bool> done{false};
    std::thread succeeding([&] {
        while (!done) {
            PlayM4_GetPlayPos(port);
        }
    });
    int wrong = 0;
    for (int i = 0; i < 20000; ++i) {
        PlayM4_GetPictureSize(port, nullptr, nullptr);
        wrong += PlayM4_GetLastError(port) != expected;
    }
    done = true;
    succeeding.join();
    EXPECT_EQ(0, wrong);

    // Eight threads' codes are kept apart (this one's and seven more): a ninth's call drops
    // the least recent caller's, this one's.
    auto succeedElsewhere = [port] { std::thread([port] { PlayM4_GetPlayPos(port); }).join(); };
    ASSERT_FALSE(PlayM4_GetPictureSize(port, nullptr, nullptr));
    for (int others = 0; others < 7; ++others) {
        succeedElsewhere();
    }
    EXPECT_EQ(expected, PlayM4_GetLastError(port));
    succeedElsewhere();
    EXPECT_EQ(0u, PlayM4_GetLastError(port));

    // A port handed out again starts clean for every thread.
    ASSERT_FALSE(PlayM4_GetPictureSize(port, nullptr, nullptr));
    std::thread([port] {
        LONG again = -1;
        EXPECT_TRUE(PlayM4_FreePort(port));
        EXPECT_TRUE(PlayM4_GetPort(&again));
        EXPECT_EQ(port, again);
    }).join();
    EXPECT_EQ(0u, PlayM4_GetLastError(port));
    EXPECT_TRUE(PlayM4_FreePort(port));
}

namespace {
// Calls every export on `port` and on `other`, the closing ones last, from wherever it runs.
std::atomic<int> everyBad{0};
void callEveryExport(LONG port, LONG other) {
    std::string path = media("tiny.mp4");
    BYTE buffer[64];
    DWORD written;
    FramePosition pos;
    LONG w, h, spare;
    for (LONG p : {port, other}) {
        auto check = [&](BOOL result) {
            if (!worksOrRefused(result, p)) {
                ++everyBad;
            }
        };
        PlayM4_GetPlayPos(p);
        PlayM4_GetVolume(p);
        PlayM4_GetFileTime(p);
        PlayM4_GetPlayedTime(p);
        PlayM4_GetPlayedTimeEx(p);
        PlayM4_GetFileTotalFrames(p);
        PlayM4_GetCurrentFrameNum(p);
        PlayM4_GetLastError(p);
        check(PlayM4_SetFileEndMsg(p, nullptr, kEndMessage));
        check(PlayM4_GetPictureSize(p, &w, &h));
        check(PlayM4_GetKeyFramePos(p, 3, 1, &pos));
        check(PlayM4_GetNextKeyFramePos(p, 1, 1, &pos));
        check(PlayM4_Fast(p));
        check(PlayM4_Slow(p));
        check(PlayM4_ThrowBFrameNum(p, 0));
        check(PlayM4_SetVolume(p, 1000));
        check(PlayM4_PlaySound(p));
        PlayM4_StopSound();
        check(PlayM4_SetPlayPos(p, 0.5f));
        check(PlayM4_SetPlayedTimeEx(p, 100));
        check(PlayM4_SetCurrentFrameNum(p, 2));
        check(PlayM4_OneByOne(p));
        check(PlayM4_OneByOneBack(p));
        check(PlayM4_GetBMP(p, buffer, sizeof buffer, &written)); // too small: code 1
        check(PlayM4_GetJPEG(p, buffer, sizeof buffer, &written));
        check(PlayM4_RefreshPlay(p));
        check(PlayM4_Pause(p, 1));
        check(PlayM4_Pause(p, 0));
        check(PlayM4_Play(p, nullptr));
        check(PlayM4_Stop(p));
        check(PlayM4_OpenFile(p, &path[0]));
        check(PlayM4_SetFileRefCallBack(p, nullptr, 0));
        check(PlayM4_SetDisplayCallBack(p, nullptr));
        check(PlayM4_CloseFile(p));
        check(PlayM4_FreePort(p));
    }
    if (PlayM4_GetPort(&spare)) {
        PlayM4_FreePort(spare);
    }
}

LONG everyOther = -1;
std::atomic<int> everyRuns{0};
void CALLBACK everyFromDisplay(LONG port, char *, LONG, LONG, LONG, LONG, LONG, LONG) {
    if (everyRuns++ == 0) {
        callEveryExport(port, everyOther);
    }
}
void CALLBACK everyFromIndex(DWORD port, DWORD_PTR) {
    if (everyRuns++ == 0) {
        callEveryExport(static_cast<LONG>(port), everyOther);
    }
}

void openPlaying(LONG &port, const std::string &path) {
    ASSERT_TRUE(PlayM4_GetPort(&port));
    ASSERT_TRUE(PlayM4_OpenFile(port, const_cast<char *>(path.c_str())));
    ASSERT_TRUE(PlayM4_Play(port, nullptr));
}
} // namespace

TEST(Threads, ACallbackOfEachKindCallsEveryExport) {
    std::string path = media("h264.mp4");
    for (bool display : {true, false}) {
        SCOPED_TRACE(display ? "display callback" : "index callback");
        everyRuns = 0;
        everyBad = 0;
        LONG port;
        openPlaying(everyOther, path);
        ASSERT_TRUE(PlayM4_GetPort(&port));
        if (display) {
            ASSERT_TRUE(PlayM4_OpenFile(port, &path[0]));
            ASSERT_TRUE(PlayM4_SetDisplayCallBack(port, &everyFromDisplay));
            ASSERT_TRUE(PlayM4_Play(port, nullptr));
        } else {
            ASSERT_TRUE(PlayM4_SetFileRefCallBack(port, &everyFromIndex, 0));
            ASSERT_TRUE(PlayM4_OpenFile(port, &path[0]));
        }
        ASSERT_TRUE(waitFor([] { return everyRuns > 0; }));
        // Whatever the callback could not free, the host frees; then no port is left behind.
        PlayM4_FreePort(port);
        PlayM4_FreePort(everyOther);
        std::vector<LONG> taken;
        EXPECT_TRUE(waitFor([&] {
            LONG next;
            while (PlayM4_GetPort(&next)) {
                taken.push_back(next);
            }
            return taken.size() == 32;
        }));
        for (LONG p : taken) {
            EXPECT_TRUE(PlayM4_FreePort(p));
        }
        EXPECT_EQ(0, everyBad.load());
    }
}

namespace {
std::atomic<int> ownCalls{0}, ownLate{0};
std::atomic<BOOL> ownResult{FALSE};
std::atomic<int> ownWhich{0};
std::atomic<bool> ownDone{false};
void CALLBACK closeFromInside(LONG port, char *, LONG, LONG, LONG, LONG, LONG, LONG) {
    if (ownDone) {
        ++ownLate;
        return;
    }
    if (++ownCalls < 3) {
        return;
    }
    switch (ownWhich) {
    case 0:
        ownResult = PlayM4_CloseFile(port);
        break;
    case 1:
        ownResult = PlayM4_FreePort(port);
        break;
    default:
        ownResult = PlayM4_SetDisplayCallBack(port, nullptr);
        break;
    }
    ownDone = true;
    Sleep(50); // the host's next calls arrive while this callback still runs
}
} // namespace

TEST(Teardown, CloseFreeAndWithdrawFromInsideTheOwnCallbackSucceed) {
    std::string path = media("h264.mp4");
    for (int which = 0; which < 3; ++which) {
        SCOPED_TRACE(which);
        ownWhich = which;
        ownCalls = 0;
        ownLate = 0;
        ownDone = false;
        LONG port;
        ASSERT_TRUE(PlayM4_GetPort(&port));
        ASSERT_TRUE(PlayM4_OpenFile(port, &path[0]));
        ASSERT_TRUE(PlayM4_SetDisplayCallBack(port, &closeFromInside));
        ASSERT_TRUE(PlayM4_Play(port, nullptr));
        ASSERT_TRUE(waitFor([] { return ownDone.load(); }));
        EXPECT_TRUE(ownResult.load());
        Sleep(300);
        EXPECT_EQ(0, ownLate.load());
        switch (which) {
        case 0: // closed: the port stays and opens again
            EXPECT_FALSE(PlayM4_Play(port, nullptr));
            EXPECT_EQ(2u, PlayM4_GetLastError(port));
            EXPECT_TRUE(PlayM4_OpenFile(port, &path[0]));
            EXPECT_TRUE(PlayM4_FreePort(port));
            break;
        case 1: { // freed: the number comes back once, working
            EXPECT_FALSE(PlayM4_Play(port, nullptr));
            EXPECT_EQ(2u, PlayM4_GetLastError(port));
            LONG again;
            ASSERT_TRUE(PlayM4_GetPort(&again));
            EXPECT_EQ(port, again);
            EXPECT_TRUE(PlayM4_OpenFile(again, &path[0]));
            EXPECT_TRUE(PlayM4_FreePort(again));
            break;
        }
        default: // withdrawn: the port plays on without calls
            EXPECT_TRUE(PlayM4_Pause(port, 1));
            EXPECT_TRUE(PlayM4_FreePort(port));
            break;
        }
    }
}

namespace {
std::atomic<int> tilesIndexed{0};
void CALLBACK tileIndexed(DWORD, DWORD_PTR) {
    ++tilesIndexed;
}
} // namespace

// The threads FFmpeg runs for all open decoders together never outnumber the cores (here a
// machine said to have 16); a port beyond that decodes on its own worker. Counted: the
// process's threads once every index is built, against the count before opening; then while
// all play, when each port's worker runs as well. The sound system's own threads, which the
// engine starts once a process while a file opens, are started first and not counted.
TEST(Threads, ThirtyTwoPortsOnSixteenCoresRunNoMoreDecodingThreadsThanCores) {
    using harness::processThreads;
    ASSERT_TRUE(SetEnvironmentVariableA("KESTRAVA_ENGINE_CORES", "16"));
    waveOutGetNumDevs();
    const int before = processThreads();
    tilesIndexed = 0;
    std::string path = media("tiny.mp4");
    std::vector<LONG> ports(32, -1);
    for (LONG &port : ports) {
        ASSERT_TRUE(PlayM4_GetPort(&port));
        ASSERT_TRUE(PlayM4_SetFileRefCallBack(port, &tileIndexed, 0));
        ASSERT_TRUE(PlayM4_OpenFile(port, &path[0])) << "code " << PlayM4_GetLastError(port);
    }
    SetEnvironmentVariableA("KESTRAVA_ENGINE_CORES", nullptr);
    ASSERT_TRUE(waitFor([] { return tilesIndexed == 32; }));
    // The index builders end after their callbacks.
    waitFor([&] { return processThreads() - before <= 16; }, 5000);
    const int open = processThreads() - before;
    EXPECT_LE(open, 16);
    EXPECT_GT(open, 2) << "more than the machine's own cores: the setting is read";
    int playing = 0;
    for (LONG port : ports) {
        EXPECT_TRUE(PlayM4_Play(port, nullptr));
        playing = std::max(playing, processThreads() - before);
    }
    EXPECT_LE(playing, 16 + 32);
    for (LONG port : ports) {
        EXPECT_TRUE(PlayM4_FreePort(port));
    }
    EXPECT_TRUE(waitFor([&] { return processThreads() <= before; }));
}
