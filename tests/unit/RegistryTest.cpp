#include "AllocationCounter.h"
#include "AnalysisRegistry.h"
#include "PlayerTestSupport.h"

#include <future>
#include <thread>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

struct Frame {
    char *data;
    LONG size, width, height, userData, reversed;
    bool operator==(const Frame &o) const {
        return data == o.data && size == o.size && width == o.width && height == o.height &&
               userData == o.userData && reversed == o.reversed;
    }
};
std::vector<Frame> received; // host callbacks run on the test's thread here

void CALLBACK hostA(char *data, LONG size, LONG width, LONG height, LONG userData, LONG reversed) {
    received.push_back({data, size, width, height, userData, reversed});
}
void CALLBACK hostB(char *data, LONG size, LONG width, LONG height, LONG userData, LONG reversed) {
    received.push_back({data, -size, width, height, userData, reversed});
}
void CALLBACK throwingHost(char *, LONG, LONG, LONG, LONG, LONG) {
    throw 1;
}

LONG address(AnalysisCallback callback) {
    return static_cast<LONG>(reinterpret_cast<LONG_PTR>(callback));
}

// A subscriber registered for one test.
class Registered : public AnalysisSubscriber {
  public:
    Registered(LONG ownPort, AnalysisCallback host, LONG userData, LONG reversedValue) {
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
    TestPlayer player;
    EXPECT_EQ(S_OK, player.SetAnalyzeCallBack(address(&hostA), 11, 12));
    PlayCtrlDouble_SetNextPort(21);
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 5);
    ASSERT_EQ(S_OK, player.OpenFile(Bstr(L"a.mp4"), 1));
    EXPECT_EQ(1, PlayCtrlDouble_FireDisplay(21, frameData, 5, 6, 7));
    EXPECT_THAT(received, ElementsAre(Frame{frameData, 5, 6, 7, 11, 12}));

    EXPECT_EQ(S_OK, player.SetAnalyzeCallBack(0, 1, 2)); // stops delivery
    PlayCtrlDouble_FireDisplay(21, frameData, 5, 6, 7);
    EXPECT_EQ(1u, received.size());
}

TEST_F(Registry, TwoPlayersGetOnlyTheirOwnFrames) {
    TestPlayer a, b;
    a.SetAnalyzeCallBack(address(&hostA), 1, 10);
    b.SetAnalyzeCallBack(address(&hostB), 2, 20);
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 5);
    ASSERT_EQ(S_OK, a.OpenFile(Bstr(L"a.mp4"), 1));
    ASSERT_EQ(S_OK, b.OpenFile(Bstr(L"b.mp4"), 2));
    ASSERT_NE(a.sdkPort(), b.sdkPort());
    PlayCtrlDouble_FireDisplay(a.sdkPort(), frameData, 8, 1, 1);
    EXPECT_THAT(received, ElementsAre(Frame{frameData, 8, 1, 1, 1, 10}));
}

TEST_F(Registry, CallbackValuesSurviveCloseAndReopen) {
    TestPlayer player;
    player.SetAnalyzeCallBack(address(&hostA), 3, 4);
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 5);
    ASSERT_EQ(S_OK, player.OpenFile(Bstr(L"a.mp4"), 1));
    ASSERT_EQ(S_OK, player.CloseFile());
    ASSERT_EQ(S_OK, player.OpenFile(Bstr(L"a.mp4"), 1));
    PlayCtrlDouble_FireDisplay(player.sdkPort(), frameData, 1, 1, 1);
    EXPECT_THAT(received, ElementsAre(Frame{frameData, 1, 1, 1, 3, 4}));
}

TEST_F(Registry, ClosedPlayerReceivesNoFrames) {
    TestPlayer player;
    player.SetAnalyzeCallBack(address(&hostA), 3, 4);
    PlayCtrlDouble_SetNextPort(30);
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 5);
    ASSERT_EQ(S_OK, player.OpenFile(Bstr(L"a.mp4"), 1));
    ASSERT_EQ(S_OK, player.CloseFile());
    frame(30); // a late frame of the old port, as an SDK thread might still deliver
    EXPECT_THAT(received, IsEmpty());
}
