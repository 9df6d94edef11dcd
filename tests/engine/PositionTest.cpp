#include "EngineSupport.h"

#include <random>

using namespace enginetest;

namespace {
const char *const kClips[] = {"h264.mp4", "hevc.mkv", "h264_aac.mp4", "hevc_aac.mkv"};

DWORD keyAtOrBefore(LONG port, DWORD frame) {
    FramePosition pos = {};
    EXPECT_TRUE(PlayM4_GetKeyFramePos(port, frame, 1, &pos)) << frame;
    return static_cast<DWORD>(pos.frameNum);
}
DWORD keyAfter(LONG port, DWORD frame) {
    FramePosition pos = {};
    EXPECT_TRUE(PlayM4_GetNextKeyFramePos(port, frame, 1, &pos)) << frame;
    return static_cast<DWORD>(pos.frameNum);
}
} // namespace

TEST(Index, TotalFramesAndDurationAreExact) {
    for (const char *clip : kClips) {
        OpenClip c(clip, false);
        EXPECT_EQ(kClipFrames, PlayM4_GetFileTotalFrames(c.port)) << clip;
        EXPECT_EQ(6u, PlayM4_GetFileTime(c.port)) << clip;
    }
}

TEST(KeyFrames, SearchesMatchTheClipsKeyFrames) {
    for (const char *clip : {"h264.mp4", "hevc.mkv"}) {
        SCOPED_TRACE(clip);
        OpenClip c(clip, false);
        EXPECT_EQ(0u, keyAtOrBefore(c.port, 0));
        EXPECT_EQ(0u, keyAtOrBefore(c.port, 24));
        EXPECT_EQ(25u, keyAtOrBefore(c.port, 25));
        EXPECT_EQ(50u, keyAtOrBefore(c.port, 60));
        EXPECT_EQ(125u, keyAtOrBefore(c.port, 149));
        EXPECT_EQ(25u, keyAfter(c.port, 0));
        EXPECT_EQ(75u, keyAfter(c.port, 50)); // strictly after
        EXPECT_EQ(75u, keyAfter(c.port, 60));
        EXPECT_EQ(125u, keyAfter(c.port, 124));
        FramePosition pos = {};
        EXPECT_FALSE(PlayM4_GetNextKeyFramePos(c.port, 125, 1, &pos)); // no key after the last
        EXPECT_FALSE(PlayM4_GetKeyFramePos(c.port, kClipFrames, 1, &pos));
        EXPECT_FALSE(PlayM4_GetKeyFramePos(c.port, 10, 1, nullptr));
        EXPECT_EQ(1u, PlayM4_GetLastError(c.port));
        // By time: 2.1 s is frame 52, whose key frame is 50.
        EXPECT_TRUE(PlayM4_GetKeyFramePos(c.port, 2100, 2, &pos));
        EXPECT_EQ(50, pos.frameNum);
    }
}

TEST(Seek, LandsExactlyOnTheRequestedFrame) {
    std::mt19937 random(1234);
    for (const char *clip : {"h264.mp4", "hevc_aac.mkv"}) {
        SCOPED_TRACE(clip);
        OpenClip c(clip);
        std::vector<DWORD> targets = {0, 1, 24, 25, 26, 74, 149, 3, 148, 100};
        for (int i = 0; i < 10; ++i)
            targets.push_back(random() % kClipFrames);
        for (DWORD n : targets) {
            ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, n)) << n;
            EXPECT_EQ(n, PlayM4_GetCurrentFrameNum(c.port));
            EXPECT_EQ(n * 40, PlayM4_GetPlayedTimeEx(c.port));
            auto shown = FrameRecorder::instance().take();
            ASSERT_EQ(1u, shown.size()) << n;
            EXPECT_EQ(static_cast<LONG>(n), shown[0].number);
            EXPECT_EQ(static_cast<LONG>(n * 40), shown[0].stamp);
        }
        EXPECT_FALSE(PlayM4_SetCurrentFrameNum(c.port, kClipFrames));
        EXPECT_EQ(1u, PlayM4_GetLastError(c.port));
    }
}

TEST(Seek, ByTimeAndByFraction) {
    OpenClip c("h264.mp4");
    ASSERT_TRUE(PlayM4_SetPlayedTimeEx(c.port, 2000));
    EXPECT_EQ(50u, PlayM4_GetCurrentFrameNum(c.port));
    ASSERT_TRUE(PlayM4_SetPlayedTimeEx(c.port, 2079)); // inside frame 51
    EXPECT_EQ(51u, PlayM4_GetCurrentFrameNum(c.port));
    EXPECT_EQ(2u, PlayM4_GetPlayedTime(c.port));
    EXPECT_FALSE(PlayM4_SetPlayedTimeEx(c.port, 6000));

    ASSERT_TRUE(PlayM4_SetPlayPos(c.port, 0.5f));
    EXPECT_EQ(75u, PlayM4_GetCurrentFrameNum(c.port));
    EXPECT_FLOAT_EQ(0.5f, PlayM4_GetPlayPos(c.port));
    ASSERT_TRUE(PlayM4_SetPlayPos(c.port, 1.0f));
    EXPECT_EQ(149u, PlayM4_GetCurrentFrameNum(c.port));
    EXPECT_FALSE(PlayM4_SetPlayPos(c.port, 1.5f));
    EXPECT_FALSE(PlayM4_SetPlayPos(c.port, -0.1f));
}

TEST(Stepping, BackFromSixtyToFortyShowsEachFrameInOrder) {
    for (const char *clip : {"h264.mp4", "hevc.mkv", "hevc_opengop.mkv", "h264.ts"}) {
        SCOPED_TRACE(clip);
        OpenClip c(clip);
        ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, 60));
        FrameRecorder::instance().clear();
        for (DWORD expected = 59; expected >= 40; --expected) {
            ASSERT_TRUE(PlayM4_OneByOneBack(c.port)) << expected;
            EXPECT_EQ(expected, PlayM4_GetCurrentFrameNum(c.port));
        }
        auto shown = FrameRecorder::instance().take();
        ASSERT_EQ(20u, shown.size());
        for (size_t i = 0; i < shown.size(); ++i)
            EXPECT_EQ(static_cast<LONG>(59 - i), shown[i].number);
        // Forward again from there, across the key frame at 50.
        for (DWORD expected = 41; expected <= 52; ++expected) {
            ASSERT_TRUE(PlayM4_OneByOne(c.port));
            EXPECT_EQ(expected, PlayM4_GetCurrentFrameNum(c.port));
        }
    }
}

TEST(Stepping, ForwardFromOpenAndTheEnds) {
    OpenClip c("h264.mp4");
    EXPECT_FALSE(PlayM4_OneByOneBack(c.port)); // nothing shown yet
    ASSERT_TRUE(PlayM4_OneByOne(c.port));
    EXPECT_EQ(0u, PlayM4_GetCurrentFrameNum(c.port));
    ASSERT_TRUE(PlayM4_OneByOne(c.port));
    EXPECT_EQ(1u, PlayM4_GetCurrentFrameNum(c.port));
    ASSERT_TRUE(PlayM4_OneByOneBack(c.port));
    EXPECT_EQ(0u, PlayM4_GetCurrentFrameNum(c.port));
    EXPECT_FALSE(PlayM4_OneByOneBack(c.port));
    ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, 149));
    EXPECT_FALSE(PlayM4_OneByOne(c.port));
    EXPECT_EQ(149u, PlayM4_GetCurrentFrameNum(c.port));
    auto shown = FrameRecorder::instance().take();
    std::vector<LONG> numbers;
    for (auto &f : shown)
        numbers.push_back(f.number);
    EXPECT_EQ((std::vector<LONG>{0, 1, 0, 149}), numbers);
}

TEST(Containers, SameStreamGivesTheSameFramesInEveryContainer) {
    for (const char *clip : {"h264.ts", "h264.mkv", "h264.264", "hevc.mp4", "hevc_opengop.mkv"}) {
        SCOPED_TRACE(clip);
        OpenClip c(clip);
        EXPECT_EQ(kClipFrames, PlayM4_GetFileTotalFrames(c.port));
        EXPECT_EQ(50u, keyAtOrBefore(c.port, 60));
        for (DWORD n : {60u, 7u, 149u, 26u}) {
            ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, n))
                << n << " code " << PlayM4_GetLastError(c.port);
            EXPECT_EQ(n, PlayM4_GetCurrentFrameNum(c.port));
        }
        auto shown = FrameRecorder::instance().take();
        ASSERT_EQ(4u, shown.size());
        EXPECT_EQ(26, shown[3].number);
    }
}

// One clip of every format docs/REFERENCE.md lists; a new format adds its row here.
TEST(Formats, EveryListedFormatOpensAndShowsItsFirstAndLastFrames) {
    for (const char *clip :
         {"h264_aac.mp4", "hevc.mp4", "mjpeg_pcm.mov", "h264.mkv", "hevc_aac.mkv", "h264.ts",
          "mpeg4_mp3.avi", "mjpeg_alaw.avi", "h264.264", "hevc.265"}) {
        SCOPED_TRACE(clip);
        OpenClip c(clip);
        EXPECT_EQ(kClipFrames, PlayM4_GetFileTotalFrames(c.port));
        LONG width = 0, height = 0;
        EXPECT_TRUE(PlayM4_GetPictureSize(c.port, &width, &height));
        EXPECT_EQ(kClipWidth, width);
        EXPECT_EQ(kClipHeight, height);
        for (DWORD n : {kClipFrames - 1, DWORD{0}}) {
            ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, n))
                << n << " code " << PlayM4_GetLastError(c.port);
        }
        auto shown = FrameRecorder::instance().take();
        ASSERT_EQ(2u, shown.size());
        EXPECT_EQ(static_cast<LONG>(kClipFrames - 1), shown[0].number);
        EXPECT_EQ(0, shown[1].number);
        EXPECT_EQ(kClipWidth, shown[1].width);
    }
}
