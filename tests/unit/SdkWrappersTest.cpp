#include "AllocationCounter.h"
#include "SdkErrorDescription.h"
#include "SdkWrappers.h"
#include "TestSupport.h"

#include <functional>

using ::testing::ElementsAre;
using ::testing::EndsWith;

namespace {

class SdkTest : public DoublesTest {};

struct LoggingWrapper {
    std::function<int()> call;
    const char *function; // the SDK function the wrapper must call
    std::string arguments;
    const char *tag;
};

// Port 7 throughout, so every argument is told apart from a default.
std::vector<LoggingWrapper> loggingWrappers() {
    static LONG width, height;
    static DWORD written;
    static FramePosition record;
    static BYTE buffer[4];
    static char path[] = "C:\\media\\a.mp4";
    HWND window = reinterpret_cast<HWND>(0x1234);
    return {
        {[] { return SdkFreePort(7); }, "PlayM4_FreePort", "7", "PlayM4_FreePort:"},
        {[] { return SdkOpenFile(7, path); }, "PlayM4_OpenFile", "7," + arg(path),
         "PlayM4_OpenFile:"},
        {[] { return SdkCloseFile(7); }, "PlayM4_CloseFile", "7", "PlayM4_CloseFile:"},
        {[=] { return SdkSetFileEndMsg(7, window, 1057); }, "PlayM4_SetFileEndMsg", "7,4660,1057",
         "PlayM4_SetFileEndMsg:"},
        {[] { return SdkSetFileRefCallBack(7, nullptr, 99); }, "PlayM4_SetFileRefCallBack",
         "7,0,99", "PlayM4_SetFileRefCallBack:"},
        {[] { return SdkSetDisplayCallBack(7, nullptr); }, "PlayM4_SetDisplayCallBack", "7,0",
         "PlayM4_SetDisplayCallBack:"},
        {[=] { return SdkPlay(7, window); }, "PlayM4_Play", "7,4660", "Sdk_PlayM4_Play:"},
        {[] { return SdkPause(7, 1); }, "PlayM4_Pause", "7,1", "PlayM4_Pause:"},
        {[] { return SdkStop(7); }, "PlayM4_Stop", "7", "Sdk_PlayM4_Stop:"},
        {[] { return SdkFast(7); }, "PlayM4_Fast", "7", "PlayM4_Fast:"},
        {[] { return SdkSlow(7); }, "PlayM4_Slow", "7", "PlayM4_Slow:"},
        {[] { return SdkThrowBFrameNum(7, 2); }, "PlayM4_ThrowBFrameNum", "7,2",
         "PlayM4_ThrowBFrameNum:"},
        {[] { return SdkPlaySound(7); }, "PlayM4_PlaySound", "7", "PlayM4_PlaySound:"},
        {[] { return SdkRefreshPlay(7); }, "PlayM4_RefreshPlay", "7", "PlayM4_RefreshPlay:"},
        {[] { return SdkSetPlayPos(7, 0.25f); }, "PlayM4_SetPlayPos", "7,0.250000",
         "PlayM4_SetPlayPos:"},
        {[] { return SdkSetVolume(7, 65500); }, "PlayM4_SetVolume", "7,65500", "PlayM4_SetVolume:"},
        {[] { return SdkSetPlayedTimeEx(7, 5000); }, "PlayM4_SetPlayedTimeEx", "7,5000",
         "PlayM4_SetPlayedTimeEx:"},
        {[] { return SdkSetCurrentFrameNum(7, 42); }, "PlayM4_SetCurrentFrameNum", "7,42",
         "PlayM4_SetCurrentFrameNum:"},
        {[] { return SdkGetPictureSize(7, &width, &height); }, "PlayM4_GetPictureSize",
         "7," + arg(&width) + "," + arg(&height), "PlayM4_GetPictureSize:"},
        {[] { return SdkOneByOne(7); }, "PlayM4_OneByOne", "7", "PlayM4_OneByOne:"},
        {[] { return SdkOneByOneBack(7); }, "PlayM4_OneByOneBack", "7", "PlayM4_OneByOneBack:"},
        {[] { return SdkGetNextKeyFramePos(7, 30, 1, &record); }, "PlayM4_GetNextKeyFramePos",
         "7,30,1," + arg(&record), "PlayM4_GetNextKeyFramePos:"},
        {[] { return SdkGetKeyFramePos(7, 29, 1, &record); }, "PlayM4_GetKeyFramePos",
         "7,29,1," + arg(&record), "PlayM4_GetKeyFramePos:"},
        {[] { return SdkGetBMP(7, buffer, sizeof buffer, &written); }, "PlayM4_GetBMP",
         "7," + arg(buffer) + ",4," + arg(&written), "PlayM4_GetBMP:"},
        {[] { return SdkGetJPEG(7, buffer, sizeof buffer, &written); }, "PlayM4_GetJPEG",
         "7," + arg(buffer) + ",4," + arg(&written), "PlayM4_GetJPEG:"},
    };
}

} // namespace

TEST(SdkErrorDescription, CoversEveryCode) {
    EXPECT_STREQ("No error.", SdkErrorDescription(0));
    EXPECT_STREQ("The parameter that user inputted is invalid.", SdkErrorDescription(1));
    EXPECT_STREQ("File open failed when calling API Sdk_PlayM4_OpenFile.", SdkErrorDescription(7));
    EXPECT_STREQ("Openfile error, streamtype is video.", SdkErrorDescription(25));
    EXPECT_STREQ("Failure when extracting video data.", SdkErrorDescription(28));
    for (DWORD code : {29ul, 1000ul, 0x7FFFFFFFul, 0x80000000ul, 0xFFFFFFFFul}) {
        EXPECT_STREQ("Unrecognized error value.", SdkErrorDescription(code)) << code;
    }
    for (DWORD code = 0; code <= 28; ++code) {
        EXPECT_STRNE("Unrecognized error value.", SdkErrorDescription(code)) << code;
    }
}

TEST_F(SdkTest, EveryLoggingWrapperPassesItsArgumentsAndLogsItsTag) {
    PlayCtrlDouble_SetLastError(5);
    for (const LoggingWrapper &wrapper : loggingWrappers()) {
        SCOPED_TRACE(wrapper.function);
        doubles::clearRecords();
        PlayCtrlDouble_SetResult(wrapper.function, 1);
        EXPECT_EQ(0, wrapper.call());
        const std::string expectedCall =
            std::string(wrapper.function) + "(" + wrapper.arguments + ")";
        EXPECT_SDK_CALLS({expectedCall});
        EXPECT_EQ(0, QorLogDouble_EntryCount());

        doubles::clearRecords();
        PlayCtrlDouble_SetResult(wrapper.function, 0);
        EXPECT_EQ(-1, wrapper.call());
        EXPECT_SDK_CALLS({expectedCall, "PlayM4_GetLastError(7)"});
        EXPECT_LOG({{30000, std::string(wrapper.tag) +
                                "5\nDescription: Failure when decoding audio data."}});
    }
}

TEST_F(SdkTest, FailureEntryCarriesTheWrapperFileAndLine) {
    PlayCtrlDouble_SetResult("PlayM4_Play", 0);
    PlayCtrlDouble_SetLastError(1);
    EXPECT_EQ(-1, SdkPlay(3, nullptr));
    auto entries = doubles::logEntries();
    ASSERT_EQ(1u, entries.size());
    EXPECT_STREQ("Sdk_PlayM4_Play:1\nDescription: The parameter that user inputted is invalid.",
                 entries[0].text);
    EXPECT_THAT(entries[0].file, EndsWith("SdkWrappers.cpp"));
    EXPECT_GT(entries[0].line, 0);
}

TEST_F(SdkTest, ErrorCodeIsReadBeforeTheThreshold) {
    PlayCtrlDouble_SetResult("PlayM4_Stop", 0);
    SdkStop(4);
    auto calls = doubles::sdkCalls();
    ASSERT_EQ(2u, calls.size());
    EXPECT_STREQ("PlayM4_GetLastError", calls[1].function);
    EXPECT_LT(calls[1].sequence, QorLogDouble_LastGetLevelSequence());
}

TEST_F(SdkTest, CodesAtAndAboveTwoToTheThirtyFirstAreWrittenSigned) {
    PlayCtrlDouble_SetResult("PlayM4_Fast", 0);
    PlayCtrlDouble_SetLastError(0xFFFFFFFFu);
    SdkFast(2);
    PlayCtrlDouble_SetLastError(0x80000000u);
    SdkFast(2);
    EXPECT_THAT(logTexts(),
                ElementsAre("PlayM4_Fast:-1\nDescription: Unrecognized error value.",
                            "PlayM4_Fast:-2147483648\nDescription: Unrecognized error value."));
}

TEST_F(SdkTest, FilteredFailureStillReadsTheCodeAndAllocatesNothing) {
    PlayCtrlDouble_SetResult("PlayM4_Slow", 0);
    QorLogDouble_SetLevel(30001);
    long allocations;
    int result;
    {
        AllocationCounter counter;
        result = SdkSlow(6);
        allocations = counter.count();
    }
    EXPECT_EQ(-1, result);
    EXPECT_EQ(0, allocations);
    EXPECT_EQ(0, QorLogDouble_EntryCount());
    EXPECT_EQ(1, PlayCtrlDouble_CountCalls("PlayM4_GetLastError"));
    EXPECT_EQ(1, QorLogDouble_GetLevelCount());
}

TEST_F(SdkTest, AnyNonZeroResultIsSuccess) {
    for (LONG result : {1L, 2L, -1L}) {
        PlayCtrlDouble_SetResult("PlayM4_RefreshPlay", result);
        EXPECT_EQ(0, SdkRefreshPlay(1)) << result;
    }
    EXPECT_EQ(0, PlayCtrlDouble_CountCalls("PlayM4_GetLastError"));
    EXPECT_EQ(0, QorLogDouble_GetLevelCount());
}

TEST_F(SdkTest, PortlessWrappersLogTheirTagAlone) {
    PlayCtrlDouble_SetResult("PlayM4_GetPort", 0);
    PlayCtrlDouble_SetResult("PlayM4_StopSound", 0);
    LONG port = -1;
    EXPECT_EQ(-1, SdkGetPort(&port));
    EXPECT_EQ(-1, SdkStopSound());
    EXPECT_SDK_CALLS({"PlayM4_GetPort(" + arg(&port) + ")", "PlayM4_StopSound()"});
    EXPECT_LOG({{30000, "PlayM4_GetPort ERROR:"}, {30000, "PlayM4_StopSound:"}});
}
