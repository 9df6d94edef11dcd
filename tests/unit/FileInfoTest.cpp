#include "PlayerTestSupport.h"

#include <climits>

using ::testing::IsEmpty;

namespace {

class FileInfo : public PlayerTest {};

using Getter = HRESULT (STDMETHODCALLTYPE KestravaCOM::*)(LONG *);

const struct {
    Getter getter;
    const char *function;
} kGetters[] = {{&KestravaCOM::get_TotalTime, "PlayM4_GetFileTime"},
                {&KestravaCOM::get_PlayedTime, "PlayM4_GetPlayedTime"},
                {&KestravaCOM::get_TotalFrame, "PlayM4_GetFileTotalFrames"},
                {&KestravaCOM::get_PlayedFrame, "PlayM4_GetCurrentFrameNum"},
                {&KestravaCOM::get_PlayedTimeEx, "PlayM4_GetPlayedTimeEx"}};

} // namespace

TEST_F(FileInfo, GettersHandTheSdkValueOverBitForBit) {
    open();
    for (const auto &g : kGetters) {
        for (DWORD value : {0ul, 1234ul, 0x7FFFFFFFul, 0x80000000ul, 0xFFFFFFFFul}) {
            doubles::clearRecords();
            PlayCtrlDouble_SetResult(g.function, static_cast<LONG>(value));
            LONG result = 99;
            EXPECT_EQ(S_OK, (player.get()->*g.getter)(&result)) << g.function;
            EXPECT_EQ(static_cast<LONG>(value), result) << g.function;
            EXPECT_SDK_CALLS({onPort(g.function)});
        }
    }
    EXPECT_THAT(logTexts(), IsEmpty());
}

TEST_F(FileInfo, NullPointersAreRefusedBeforeTheSdk) {
    open();
    for (const auto &g : kGetters) {
        EXPECT_EQ(E_POINTER, (player.get()->*g.getter)(nullptr)) << g.function;
    }
    LONG untouched = 77;
    EXPECT_EQ(E_POINTER, player->get_PictureSize(nullptr, &untouched));
    EXPECT_EQ(E_POINTER, player->get_PictureSize(&untouched, nullptr));
    EXPECT_EQ(E_POINTER, player->get_PictureSize(nullptr, nullptr));
    EXPECT_EQ(77, untouched);
    EXPECT_THAT(doubles::sdkCallTexts(), IsEmpty());
}

TEST_F(FileInfo, SecondsSeekThroughMilliseconds) {
    open();
    EXPECT_EQ(S_OK, player->SetCurPlayTime(5));
    EXPECT_EQ(S_OK, player->SetCurPlayTime(0));
    EXPECT_EQ(S_OK, player->SetCurPlayTime(2147483));
    EXPECT_SDK_CALLS({onPort("PlayM4_SetPlayedTimeEx", "5000"),
                      onPort("PlayM4_SetPlayedTimeEx", "0"),
                      onPort("PlayM4_SetPlayedTimeEx", "2147483000")});
    PlayCtrlDouble_SetResult("PlayM4_SetPlayedTimeEx", 0);
    EXPECT_EQ(S_FALSE, player->SetCurPlayTime(5));
}

TEST_F(FileInfo, SecondsWhoseMillisecondsOverflowAreRefused) {
    open();
    for (LONG seconds : {-1L, 2147484L, LONG_MAX, LONG_MIN}) {
        EXPECT_EQ(S_FALSE, player->SetCurPlayTime(seconds)) << seconds;
    }
    EXPECT_THAT(doubles::sdkCallTexts(), IsEmpty());
}

TEST_F(FileInfo, MillisecondsAndFramesPassUnchecked) {
    open();
    EXPECT_EQ(S_OK, player->SetCurPlayTimeEx(-1));
    EXPECT_EQ(S_OK, player->SetCurPlayFrame(123));
    EXPECT_SDK_CALLS(
        {onPort("PlayM4_SetPlayedTimeEx", "-1"), onPort("PlayM4_SetCurrentFrameNum", "123")});
}

TEST_F(FileInfo, RefusedSeeksLogOnceEach) {
    open();
    PlayCtrlDouble_SetResult("PlayM4_SetPlayedTimeEx", 0);
    PlayCtrlDouble_SetResult("PlayM4_SetCurrentFrameNum", 0);
    PlayCtrlDouble_SetLastError(2);
    EXPECT_EQ(S_FALSE, player->SetCurPlayTimeEx(100));
    EXPECT_EQ(S_FALSE, player->SetCurPlayFrame(3));
    EXPECT_LOG({{30000, "PlayM4_SetPlayedTimeEx:2\nDescription: The order of the function to be "
                        "called is incorrect."},
                {30000, "PlayM4_SetCurrentFrameNum:2\nDescription: The order of the function to "
                        "be called is incorrect."}});
    EXPECT_EQ(1, PlayCtrlDouble_CountCalls("PlayM4_SetPlayedTimeEx"));
}

TEST_F(FileInfo, PictureSizeWritesBothValues) {
    open();
    PlayCtrlDouble_SetPictureSize(704, 576);
    LONG width = 0, height = 0;
    EXPECT_EQ(S_OK, player->get_PictureSize(&width, &height));
    EXPECT_EQ(704, width);
    EXPECT_EQ(576, height);
    EXPECT_SDK_CALLS({onPort("PlayM4_GetPictureSize", arg(&width) + "," + arg(&height))});
    PlayCtrlDouble_SetResult("PlayM4_GetPictureSize", 0);
    EXPECT_EQ(S_FALSE, player->get_PictureSize(&width, &height));
}

TEST_F(FileInfo, NoOperationChangesTheState) {
    openAndPlay();
    LONG value, width, height;
    for (const auto &g : kGetters) {
        (player.get()->*g.getter)(&value);
    }
    player->SetCurPlayTime(1);
    player->SetCurPlayTimeEx(1);
    player->SetCurPlayFrame(1);
    player->get_PictureSize(&width, &height);
    EXPECT_EQ(KestravaCOM::Playing, player->state());
    EXPECT_EQ(0, player->speed());
}
