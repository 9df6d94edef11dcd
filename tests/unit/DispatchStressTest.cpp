// SDK-side threads deliver frames for every port with a display callback while player objects
// open, close and are destroyed. Every frame that reaches a host function must belong to that
// object's current port, and none may arrive or still be running once CloseFile has returned.
#include "PlayerTestSupport.h"

#include <atomic>

namespace {

constexpr int kPlayers = 6;
constexpr int kCycles = 3000;

struct Slot {
    // Written only while the object is out of the registry; read by host calls under its lock.
    TestPlayer *player = nullptr;
    std::atomic<bool> open{false}; // set before OpenFile, cleared after CloseFile returns
    std::atomic<int> inside{0};    // host calls now running for this slot
    std::atomic<long> frames{0};
};
Slot slots[kPlayers];
std::atomic<long> wrongPort{0}, afterClose{0};

void CALLBACK host(char *data, LONG size, LONG width, LONG height, LONG_PTR userData,
                   LONG reversed) {
    Slot &slot = slots[userData];
    ++slot.inside;
    const LONG port = slot.player->sdkPort(); // stable while registered: we hold the lock
    if (size != port || data != reinterpret_cast<char *>(static_cast<LONG_PTR>(port * 16 + 16)) ||
        width != 1000 + port || height != 2000 + port || reversed != userData * 7) {
        ++wrongPort;
    }
    if (!slot.open) {
        ++afterClose;
    }
    ++slot.frames;
    --slot.inside;
}

void openSlot(int i) {
    slots[i].open = true;
    ASSERT_EQ(S_OK, slots[i].player->OpenFile(makeBstr(L"clip.mp4").get(), i));
}

void arm(int i) {
    slots[i].player = new TestPlayer;
    slots[i].player->SetAnalyzeCallBack(reinterpret_cast<LONG_PTR>(&host), i, i * 7);
}

class DispatchStress : public DoublesTest {};

} // namespace

TEST_F(DispatchStress, FramesNeverReachAWrongOrRemovedSubscriber) {
    PlayCtrlDouble_SetRecording(0);
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 60);
    QorLogDouble_SetLevel(60000);
    for (int i = 0; i < kPlayers; ++i) {
        arm(i);
    }
    PlayCtrlDouble_StartFrameThreads(3);
    for (int cycle = 0; cycle < kCycles; ++cycle) {
        const int i = cycle % kPlayers;
        Slot &slot = slots[i];
        openSlot(i);
        if (cycle % 3 == 0) {
            slot.player->Play();
        }
        Sleep(0);
        if (cycle % 5 == 4) {
            delete slot.player; // destroyed while registered: the destructor must withdraw
            slot.open = false;
            arm(i);
        } else {
            ASSERT_EQ(S_OK, slot.player->CloseFile());
            slot.open = false;
            ASSERT_EQ(0, slot.inside.load()) << "host still running after CloseFile";
        }
    }
    const LONG delivered = PlayCtrlDouble_StopFrameThreads();
    long received = 0;
    for (Slot &slot : slots) {
        received += slot.frames;
        delete slot.player;
        slot.player = nullptr;
    }
    EXPECT_EQ(0, wrongPort.load());
    EXPECT_EQ(0, afterClose.load());
    EXPECT_GT(received, 0);
    EXPECT_GT(delivered, 0);
    EXPECT_EQ(0, PlayCtrlDouble_PortsInUse());
    EXPECT_EQ(0, PlayCtrlDouble_OpenFiles());
    std::printf("%d cycles, %ld frames delivered, %ld reached host functions\n", kCycles,
                static_cast<long>(delivered), received);
}
