// The test build of the engine whose allocations fail on demand: every call that needs memory
// fails with code 6, the host goes on, and once memory is back the port works as before.
#include "EngineSupport.h"
#include "FailingAllocation.h"

using namespace enginetest;

namespace {
void failAllocations(bool fail) {
    SetEnvironmentVariableA(KESTRAVA_FAIL_ALLOCATIONS, fail ? "1" : nullptr);
}

// Fails with code 6, or succeeds because it needed no memory.
testing::AssertionResult failsForMemoryOrWorks(BOOL result, LONG port) {
    if (result) {
        return testing::AssertionSuccess();
    }
    DWORD code = PlayM4_GetLastError(port);
    if (code == 6) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "code " << code;
}
} // namespace

TEST(OutOfMemory, CallsFailWithCodeSixAndThePortWorksAfterwards) {
    LONG port;
    ASSERT_TRUE(PlayM4_GetPort(&port));
    std::string path = media("h264_aac.mp4");
    ASSERT_TRUE(PlayM4_OpenFile(port, &path[0]));
    ASSERT_TRUE(PlayM4_SetDisplayCallBack(port, &FrameRecorder::onFrame));
    ASSERT_TRUE(PlayM4_Play(port, nullptr));
    ASSERT_TRUE(waitFor([] { return FrameRecorder::instance().count() > 2; }));

    failAllocations(true);
    LONG other = 5;
    EXPECT_FALSE(PlayM4_GetPort(&other));
    EXPECT_EQ(6u, PlayM4_GetLastError(-1));
    // StopSound has no port: its failure is kept where calls without one keep theirs.
    EXPECT_FALSE(PlayM4_GetPort(nullptr));
    EXPECT_EQ(1u, PlayM4_GetLastError(-1));
    EXPECT_FALSE(PlayM4_StopSound());
    EXPECT_EQ(6u, PlayM4_GetLastError(-1));
    BYTE small[16];
    DWORD written;
    EXPECT_FALSE(PlayM4_GetJPEG(port, small, sizeof small, &written));
    EXPECT_TRUE(failsForMemoryOrWorks(PlayM4_SetCurrentFrameNum(port, 40), port));
    EXPECT_TRUE(failsForMemoryOrWorks(PlayM4_Pause(port, 1), port));
    EXPECT_TRUE(failsForMemoryOrWorks(PlayM4_OneByOne(port), port));
    EXPECT_TRUE(failsForMemoryOrWorks(PlayM4_SetVolume(port, 1000), port));
    EXPECT_TRUE(failsForMemoryOrWorks(PlayM4_Play(port, nullptr), port));
    Sleep(200); // playback runs out of memory too, on the engine's threads
    EXPECT_TRUE(failsForMemoryOrWorks(PlayM4_OpenFile(port, &path[0]), port));
    PlayM4_GetFileTotalFrames(port);
    PlayM4_GetPlayPos(port);
    failAllocations(false);

    // Nothing was lost: the port opens, plays and positions as before.
    ASSERT_TRUE(PlayM4_OpenFile(port, &path[0])) << PlayM4_GetLastError(port);
    EXPECT_EQ(kClipFrames, PlayM4_GetFileTotalFrames(port));
    FrameRecorder::instance().clear();
    ASSERT_TRUE(PlayM4_Play(port, nullptr));
    EXPECT_TRUE(waitFor([] { return FrameRecorder::instance().count() > 2; }));
    EXPECT_TRUE(PlayM4_SetCurrentFrameNum(port, 40));
    EXPECT_EQ(40u, PlayM4_GetCurrentFrameNum(port));
    EXPECT_TRUE(PlayM4_FreePort(port));
}
