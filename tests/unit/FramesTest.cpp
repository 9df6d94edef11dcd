#include "PlayerTestSupport.h"

using ::testing::IsEmpty;

namespace {

class Frames : public PlayerTest {
  protected:
    // A record whose words are all different, so only word 2 can reach the positioning.
    void keyFrameAt(LONG frame) {
        FramePosition record = {11, frame, {33, 44, 55, 66, 77}};
        PlayCtrlDouble_SetKeyFrameRecord(&record);
    }
    void atFrame(DWORD frame) {
        PlayCtrlDouble_SetResult("PlayM4_GetCurrentFrameNum", static_cast<LONG>(frame));
    }
    // The record pointer the search was given.
    std::string searchRecord(size_t index) {
        return std::to_string(doubles::sdkCalls()[index].args[3]);
    }
};

} // namespace

TEST_F(Frames, SingleStepsEnterStepping) {
    openAndPlay();
    EXPECT_EQ(S_OK, player->StepForward());
    EXPECT_EQ(KestravaCOM::Stepping, player->state());
    ASSERT_EQ(S_OK, player->Play());
    doubles::clearRecords();
    EXPECT_EQ(S_OK, player->StepBackward());
    EXPECT_EQ(KestravaCOM::Stepping, player->state());
    EXPECT_SDK_CALLS({onPort("PlayM4_OneByOneBack")});
}

TEST_F(Frames, FailedSingleStepKeepsTheState) {
    PlayCtrlDouble_SetResult("PlayM4_OneByOne", 0);
    PlayCtrlDouble_SetResult("PlayM4_OneByOneBack", 0);
    PlayCtrlDouble_SetLastError(2);
    EXPECT_EQ(S_FALSE, player->StepForward());
    EXPECT_EQ(S_FALSE, player->StepBackward());
    EXPECT_EQ(KestravaCOM::Closed, player->state());
    EXPECT_SDK_CALLS({"PlayM4_OneByOne(-1)", "PlayM4_GetLastError(-1)", "PlayM4_OneByOneBack(-1)",
                      "PlayM4_GetLastError(-1)"});
    EXPECT_EQ(2, QorLogDouble_EntryCount());
}

TEST_F(Frames, KeyFrameForwardSearchesFromTheFrameBeforeTheStep) {
    openAndPlay();
    atFrame(40);
    keyFrameAt(50);
    EXPECT_EQ(S_OK, player->IFrameForward());
    EXPECT_SDK_CALLS({onPort("PlayM4_GetCurrentFrameNum"), onPort("PlayM4_OneByOne"),
                      onPort("PlayM4_GetNextKeyFramePos", "40,1," + searchRecord(2)),
                      onPort("PlayM4_SetCurrentFrameNum", "50")});
    EXPECT_EQ(KestravaCOM::Stepping, player->state());
}

TEST_F(Frames, KeyFrameForwardAtFrameZeroIsNoSpecialCase) {
    open();
    atFrame(0);
    keyFrameAt(0);
    EXPECT_EQ(S_OK, player->IFrameForward());
    EXPECT_EQ(onPort("PlayM4_GetNextKeyFramePos", "0,1," + searchRecord(2)),
              doubles::sdkCallTexts()[2]);
}

TEST_F(Frames, KeyFrameForwardGoesOnAfterAFailedStep) {
    openAndPlay();
    atFrame(7);
    keyFrameAt(25);
    PlayCtrlDouble_SetResult("PlayM4_OneByOne", 0);
    EXPECT_EQ(S_OK, player->IFrameForward());
    EXPECT_EQ(KestravaCOM::Playing, player->state());
    EXPECT_EQ(onPort("PlayM4_SetCurrentFrameNum", "25"), doubles::sdkCallTexts().back());
    EXPECT_EQ(1, QorLogDouble_EntryCount());
}

TEST_F(Frames, FailedSearchAfterAStepLeavesStepping) {
    openAndPlay();
    atFrame(7);
    PlayCtrlDouble_SetResult("PlayM4_GetNextKeyFramePos", 0);
    EXPECT_EQ(S_FALSE, player->IFrameForward());
    EXPECT_EQ(KestravaCOM::Stepping, player->state());
    EXPECT_EQ(0, PlayCtrlDouble_CountCalls("PlayM4_SetCurrentFrameNum"));
}

TEST_F(Frames, FailedPositioningFailsTheJump) {
    openAndPlay();
    atFrame(9);
    PlayCtrlDouble_SetResult("PlayM4_SetCurrentFrameNum", 0);
    EXPECT_EQ(S_FALSE, player->IFrameForward());
    EXPECT_EQ(S_FALSE, player->IFrameBackward());
}

TEST_F(Frames, KeyFrameBackwardAtTheFirstFramesDoesNothing) {
    openAndPlay();
    for (DWORD frame : {0ul, 1ul}) {
        doubles::clearRecords();
        atFrame(frame);
        EXPECT_EQ(S_OK, player->IFrameBackward());
        EXPECT_SDK_CALLS({onPort("PlayM4_GetCurrentFrameNum")});
        EXPECT_EQ(KestravaCOM::Playing, player->state());
    }
}

TEST_F(Frames, KeyFrameBackwardSearchesFromTheFrameBefore) {
    openAndPlay();
    atFrame(2);
    keyFrameAt(0);
    EXPECT_EQ(S_OK, player->IFrameBackward());
    EXPECT_SDK_CALLS({onPort("PlayM4_GetCurrentFrameNum"), onPort("PlayM4_OneByOneBack"),
                      onPort("PlayM4_GetKeyFramePos", "1,1," + searchRecord(2)),
                      onPort("PlayM4_SetCurrentFrameNum", "0")});
    EXPECT_EQ(KestravaCOM::Stepping, player->state());
}

TEST_F(Frames, KeyFrameBackwardTreatsTheFrameNumberAsUnsigned) {
    openAndPlay();
    atFrame(0x80000000u);
    keyFrameAt(3);
    EXPECT_EQ(S_OK, player->IFrameBackward());
    EXPECT_EQ(
        onPort("PlayM4_GetKeyFramePos", std::to_string(0x7FFFFFFFul) + ",1," + searchRecord(2)),
        doubles::sdkCallTexts()[2]);
}
