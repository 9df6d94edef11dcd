#include "AllocationCounter.h"
#include "AnalysisRegistry.h"
#include "PlayerTestSupport.h"

#include <atomic>
#include <future>
#include <thread>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

struct Frame {
    char *data;
    LONG size, width, height;
    LONG_PTR userData;
    LONG reversed;
    bool operator==(const Frame &o) const {
        return data == o.data && size == o.size && width == o.width && height == o.height &&
               userData == o.userData && reversed == o.reversed;
    }
};
std::vector<Frame> received; // host callbacks run on the test's thread here

void CALLBACK hostA(char *data, LONG size, LONG width, LONG height, LONG_PTR userData,
                    LONG reversed) {
    received.push_back({data, size, width, height, userData, reversed});
}
void CALLBACK hostB(char *data, LONG size, LONG width, LONG height, LONG_PTR userData,
                    LONG reversed) {
    received.push_back({data, -size, width, height, userData, reversed});
}
void CALLBACK throwingHost(char *, LONG, LONG, LONG, LONG_PTR, LONG) {
    throw 1;
}

LONG_PTR address(AnalysisCallback callback) {
    return reinterpret_cast<LONG_PTR>(callback);
}

// A subscriber registered for one test.
class Registered : public AnalysisSubscriber {
  public:
    Registered(LONG ownPort, AnalysisCallback host, LONG_PTR userData, LONG reversedValue) {
        port = ownPort;
        setCallback(host, userData, reversedValue);
        AnalysisRegistry::instance()->add(this);
    }
    ~Registered() override { AnalysisRegistry::instance()->remove(this); }
};

char frameData[16];

class Registry : public DoublesTest {
  protected:
    void SetUp() override {
        DoublesTest::SetUp();
        received.clear();
    }
    void frame(LONG port, LONG size = 100) {
        onDisplayFrame(port, frameData, size, 640, 480, 1, 2, 3);
    }
};

} // namespace

TEST_F(Registry, FrameReachesOnlyTheSubscriberOfItsPortWithItsOwnValues) {
    Registered a(3, &hostA, 30, 31), b(4, &hostB, 40, 41);
    frame(3, 100);
    frame(4, 200);
    frame(9, 300);
    EXPECT_THAT(received, ElementsAre(Frame{frameData, 100, 640, 480, 30, 31},
                                      Frame{frameData, -200, 640, 480, 40, 41}));
}

TEST_F(Registry, EveryMatchingSubscriberIsOfferedTheFrameInRegistrationOrder) {
    Registered first(3, &hostA, 1, 0), second(3, &hostA, 2, 0);
    frame(3);
    ASSERT_EQ(2u, received.size());
    EXPECT_EQ(1, received[0].userData);
    EXPECT_EQ(2, received[1].userData);

    // Removed and added again: now last.
    AnalysisRegistry::instance()->remove(&first);
    AnalysisRegistry::instance()->add(&first);
    received.clear();
    frame(3);
    ASSERT_EQ(2u, received.size());
    EXPECT_EQ(2, received[0].userData);
    EXPECT_EQ(1, received[1].userData);
}

TEST_F(Registry, AddingTwiceDeliversOnce) {
    Registered a(6, &hostA, 1, 0);
    AnalysisRegistry::instance()->add(&a);
    frame(6);
    EXPECT_EQ(1u, received.size());
    AnalysisRegistry::instance()->remove(&a);
    frame(6);
    EXPECT_EQ(1u, received.size()); // one remove took the only entry
}

TEST_F(Registry, NoCallbackOrNoPortMeansNoCall) {
    Registered silent(7, nullptr, 1, 2), portless(-1, &hostA, 1, 2);
    frame(7);
    frame(-1);
    EXPECT_THAT(received, IsEmpty());
}

TEST_F(Registry, ThrowingHostReleasesTheLock) {
    Registered a(9, &throwingHost, 0, 0);
    frame(9); // must not unwind into the caller
    // Another thread can take the lock afterwards.
    auto other = std::async(std::launch::async, [] {
        AnalysisSubscriber s;
        AnalysisRegistry::instance()->add(&s);
        AnalysisRegistry::instance()->remove(&s);
    });
    EXPECT_EQ(std::future_status::ready, other.wait_for(std::chrono::seconds(10)));
}

TEST_F(Registry, DispatchAllocatesNothing) {
    Registered a(3, &hostA, 1, 0), b(4, &hostB, 2, 0);
    received.reserve(100);
    long allocations;
    {
        AllocationCounter counter;
        for (int i = 0; i < 50; ++i) {
            frame(3);
            frame(4);
        }
        allocations = counter.count();
    }
    EXPECT_EQ(0, allocations);
    EXPECT_EQ(100u, received.size());
}

TEST_F(Registry, OneRegistryForEveryObjectAndAfterThem) {
    AnalysisRegistry *registry = AnalysisRegistry::instance();
    ASSERT_NE(nullptr, registry);
    { TestPlayer player; }
    EXPECT_EQ(registry, AnalysisRegistry::instance());
}

TEST_F(Registry, SetAnalyzeCallBackBeforeOpenTakesEffectWithTheFirstFrame) {
    // On 64-bit a frame address and a user value above 4 GiB, which a 32-bit slot anywhere on
    // the way would cut; the component passes the address on without reading it.
    const bool wide = sizeof(LONG_PTR) == 8;
    const LONG_PTR user = wide ? static_cast<LONG_PTR>(0x7654321000000011ll) : 11;
    char *const data =
        wide ? reinterpret_cast<char *>(static_cast<ULONG_PTR>(0x1234567800000040ull)) : frameData;
    TestPlayer player;
    EXPECT_EQ(S_OK, player.SetAnalyzeCallBack(address(&hostA), user, 12));
    PlayCtrlDouble_SetNextPort(21);
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 5);
    ASSERT_EQ(S_OK, player.OpenFile(makeBstr(L"a.mp4").get(), 1));
    EXPECT_EQ(1, PlayCtrlDouble_FireDisplay(21, data, 5, 6, 7));
    EXPECT_THAT(received, ElementsAre(Frame{data, 5, 6, 7, user, 12}));

    EXPECT_EQ(S_OK, player.SetAnalyzeCallBack(0, 1, 2)); // stops delivery
    PlayCtrlDouble_FireDisplay(21, frameData, 5, 6, 7);
    EXPECT_EQ(1u, received.size());
}

TEST_F(Registry, TwoPlayersGetOnlyTheirOwnFrames) {
    TestPlayer a, b;
    a.SetAnalyzeCallBack(address(&hostA), 1, 10);
    b.SetAnalyzeCallBack(address(&hostB), 2, 20);
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 5);
    ASSERT_EQ(S_OK, a.OpenFile(makeBstr(L"a.mp4").get(), 1));
    ASSERT_EQ(S_OK, b.OpenFile(makeBstr(L"b.mp4").get(), 2));
    ASSERT_NE(a.sdkPort(), b.sdkPort());
    PlayCtrlDouble_FireDisplay(a.sdkPort(), frameData, 8, 1, 1);
    EXPECT_THAT(received, ElementsAre(Frame{frameData, 8, 1, 1, 1, 10}));
}

TEST_F(Registry, CallbackValuesSurviveCloseAndReopen) {
    TestPlayer player;
    player.SetAnalyzeCallBack(address(&hostA), 3, 4);
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 5);
    ASSERT_EQ(S_OK, player.OpenFile(makeBstr(L"a.mp4").get(), 1));
    ASSERT_EQ(S_OK, player.CloseFile());
    ASSERT_EQ(S_OK, player.OpenFile(makeBstr(L"a.mp4").get(), 1));
    PlayCtrlDouble_FireDisplay(player.sdkPort(), frameData, 1, 1, 1);
    EXPECT_THAT(received, ElementsAre(Frame{frameData, 1, 1, 1, 3, 4}));
}

TEST_F(Registry, ClosedPlayerReceivesNoFrames) {
    TestPlayer player;
    player.SetAnalyzeCallBack(address(&hostA), 3, 4);
    PlayCtrlDouble_SetNextPort(30);
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 5);
    ASSERT_EQ(S_OK, player.OpenFile(makeBstr(L"a.mp4").get(), 1));
    ASSERT_EQ(S_OK, player.CloseFile());
    frame(30); // a late frame of the old port, as an SDK thread might still deliver
    EXPECT_THAT(received, IsEmpty());
}

// A host function that drives player objects from inside: its own, or another one registered
// after it for the same port, which the same walk is about to offer the frame to.
namespace {

struct Reentry {
    const char *name;
    bool onOwn;
    void (*act)(TestPlayer *&target);
    int ownCalls[2], otherCalls[2]; // host calls after the first and after the second frame
};

TestPlayer *reentryOwn = nullptr, *reentryOther = nullptr;
const Reentry *reentry = nullptr;
int ownCalls = 0, otherCalls = 0;

void CALLBACK reenteringHost(char *, LONG, LONG, LONG, LONG_PTR, LONG) {
    if (ownCalls++ == 0) {
        reentry->act(reentry->onOwn ? reentryOwn : reentryOther);
    }
}
void CALLBACK countingHost(char *, LONG, LONG, LONG, LONG_PTR, LONG) {
    ++otherCalls;
}

void closeFile(TestPlayer *&p) {
    EXPECT_EQ(S_OK, p->CloseFile());
}
void openFile(TestPlayer *&p) {
    EXPECT_EQ(S_OK, p->OpenFile(makeBstr(L"again.mp4").get(), 2));
}
void stopCallbacks(TestPlayer *&p) {
    EXPECT_EQ(S_OK, p->SetAnalyzeCallBack(0, 0, 0));
}
void readEverything(TestPlayer *&p) {
    LONG value = 0, width = 0, height = 0;
    EXPECT_EQ(S_OK, p->get_PlayPos(&value));
    EXPECT_EQ(S_OK, p->get_Volume(&value));
    EXPECT_EQ(S_OK, p->get_TotalTime(&value));
    EXPECT_EQ(S_OK, p->get_PlayedTime(&value));
    EXPECT_EQ(S_OK, p->get_TotalFrame(&value));
    EXPECT_EQ(S_OK, p->get_PlayedFrame(&value));
    EXPECT_EQ(S_OK, p->get_PlayedTimeEx(&value));
    EXPECT_EQ(S_OK, p->get_PictureSize(&width, &height));
}
void releaseLast(TestPlayer *&p) {
    delete p;
    p = nullptr;
}

const Reentry reentries[] = {
    {"CloseFile own", true, closeFile, {1, 1}, {1, 2}},
    {"CloseFile other", false, closeFile, {1, 2}, {0, 0}},
    {"OpenFile own", true, openFile, {1, 2}, {1, 2}},
    {"OpenFile other", false, openFile, {1, 2}, {1, 2}},
    {"SetAnalyzeCallBack own", true, stopCallbacks, {1, 1}, {1, 2}},
    {"SetAnalyzeCallBack other", false, stopCallbacks, {1, 2}, {0, 0}},
    {"getters own", true, readEverything, {1, 2}, {1, 2}},
    {"getters other", false, readEverything, {1, 2}, {1, 2}},
    {"last release own", true, releaseLast, {1, 1}, {1, 2}},
    {"last release other", false, releaseLast, {1, 2}, {0, 0}},
};

} // namespace

TEST_F(Registry, HostFunctionMayDriveAnyPlayerFromInside) {
    constexpr LONG kShared = 12;
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 5);
    for (const Reentry &c : reentries) {
        SCOPED_TRACE(c.name);
        reentry = &c;
        ownCalls = otherCalls = 0;
        reentryOwn = new TestPlayer;
        reentryOther = new TestPlayer;
        for (TestPlayer *p : {reentryOwn, reentryOther}) {
            PlayCtrlDouble_SetNextPort(kShared);
            ASSERT_EQ(S_OK, p->OpenFile(makeBstr(L"a.mp4").get(), 1));
            ASSERT_EQ(S_OK, p->Play());
        }
        reentryOwn->SetAnalyzeCallBack(address(&reenteringHost), 0, 0);
        reentryOther->SetAnalyzeCallBack(address(&countingHost), 0, 0);
        for (int round = 0; round < 2; ++round) {
            frame(kShared);
            EXPECT_EQ(c.ownCalls[round], ownCalls) << "frame " << round + 1;
            EXPECT_EQ(c.otherCalls[round], otherCalls) << "frame " << round + 1;
        }
        delete reentryOwn;
        delete reentryOther;
    }
}

namespace {

// Two SDK threads whose host functions would close each other's player: the first to get the
// turn closes the other, whose frame, waiting for the turn, gives it up.
TestPlayer *crossed[2];
std::atomic<int> crossedInside{0};
void CALLBACK crossingHost(char *, LONG, LONG, LONG, LONG_PTR userData, LONG) {
    ++crossedInside;
    for (int i = 0; crossedInside < 2 && i < 5000; ++i) {
        Sleep(1);
    }
    crossed[1 - userData]->CloseFile();
}

} // namespace

TEST_F(Registry, HostFunctionsClosingEachOtherDoNotDeadlock) {
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 5);
    TestPlayer a, b;
    crossed[0] = &a;
    crossed[1] = &b;
    for (LONG i = 0; i < 2; ++i) {
        ASSERT_EQ(S_OK, crossed[i]->OpenFile(makeBstr(L"a.mp4").get(), 1));
        ASSERT_EQ(S_OK, crossed[i]->Play());
        crossed[i]->SetAnalyzeCallBack(address(&crossingHost), i, 0);
    }
    const LONG portA = a.sdkPort(), portB = b.sdkPort();
    auto frames = std::async(std::launch::async, [&] {
        std::thread other([&] { onDisplayFrame(portB, frameData, 1, 1, 1, 0, 0, 0); });
        onDisplayFrame(portA, frameData, 1, 1, 1, 0, 0, 0);
        other.join();
    });
    ASSERT_EQ(std::future_status::ready, frames.wait_for(std::chrono::seconds(60)));
    EXPECT_EQ(1, crossedInside.load()); // one at a time: the second never began
    EXPECT_NE(a.state() == KestravaCOM::Closed, b.state() == KestravaCOM::Closed);
}

namespace {

// Two complete sets that a host function can tell apart.
std::atomic<long> setCalls{0}, mixedSets{0};
void CALLBACK firstSet(char *, LONG, LONG, LONG, LONG_PTR userData, LONG reversed) {
    ++setCalls;
    mixedSets += userData != 1 || reversed != 11;
}
void CALLBACK secondSet(char *, LONG, LONG, LONG, LONG_PTR userData, LONG reversed) {
    ++setCalls;
    mixedSets += userData != 2 || reversed != 22;
}

HANDLE hostMayReturn = nullptr;
std::atomic<bool> hostRunning{false};
void CALLBACK waitingHost(char *, LONG, LONG, LONG, LONG_PTR, LONG) {
    hostRunning = true;
    WaitForSingleObject(hostMayReturn, 30000);
    hostRunning = false;
}

} // namespace

TEST_F(Registry, ReplacedCallbackIsNeverSeenAsAMixedSet) {
    PlayCtrlDouble_SetRecording(0);
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 5);
    TestPlayer player;
    ASSERT_EQ(S_OK, player.OpenFile(makeBstr(L"a.mp4").get(), 1));
    PlayCtrlDouble_StartFrameThreads(2);
    // Until the frame threads have met both sets often, however slowly they were scheduled.
    const DWORD start = GetTickCount();
    for (int i = 0; i < 2000 || (setCalls < 1000 && GetTickCount() - start < 30000); ++i) {
        if (i % 2) {
            player.SetAnalyzeCallBack(address(&firstSet), 1, 11);
        } else {
            player.SetAnalyzeCallBack(address(&secondSet), 2, 22);
        }
    }
    PlayCtrlDouble_StopFrameThreads();
    EXPECT_GT(setCalls.load(), 0);
    EXPECT_EQ(0, mixedSets.load());
}

TEST_F(Registry, SetAnalyzeCallBackDoesNotWaitForARunningHostFunction) {
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 5);
    TestPlayer busy, other;
    ASSERT_EQ(S_OK, busy.OpenFile(makeBstr(L"a.mp4").get(), 1));
    busy.SetAnalyzeCallBack(address(&waitingHost), 0, 0);
    hostMayReturn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread sdkThread([&] { onDisplayFrame(busy.sdkPort(), frameData, 1, 1, 1, 0, 0, 0); });
    while (!hostRunning) {
        Sleep(1);
    }
    // The host function waits for this thread: a call that waited for it would never return.
    auto replaced = std::async(std::launch::async, [&] {
        other.SetAnalyzeCallBack(address(&hostA), 1, 2);
        busy.SetAnalyzeCallBack(address(&hostB), 3, 4);
    });
    EXPECT_EQ(std::future_status::ready, replaced.wait_for(std::chrono::seconds(20)));
    EXPECT_TRUE(hostRunning.load());
    SetEvent(hostMayReturn);
    sdkThread.join();
    CloseHandle(hostMayReturn);
}
