#include "EngineSupport.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <sstream>
#include <thread>

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

// What the ffmpeg tool's own decode says of a clip (written by make-media.sh).
struct Reference {
    DWORD frames = 0;
    std::vector<DWORD> keys, checked;
};

Reference readReference(const std::string &clip) {
    Reference r;
    std::ifstream in(media(("refs/" + clip + ".txt").c_str()));
    std::string line, word;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        fields >> word;
        std::vector<DWORD> values{std::istream_iterator<DWORD>(fields), {}};
        if (word == "frames" && !values.empty()) {
            r.frames = values[0];
        } else if (word == "keys") {
            r.keys = values;
        } else if (word == "checked") {
            r.checked = values;
        }
    }
    return r;
}

// The picture last shown is, pixel for pixel, the tool's decode of frame n.
void expectPictureOf(const std::string &clip, DWORD n) {
    std::ifstream in(media(("refs/" + clip + "-" + std::to_string(n) + ".yuv").c_str()),
                     std::ios::binary);
    std::vector<char> expected{std::istreambuf_iterator<char>(in), {}};
    std::vector<char> shown = FrameRecorder::instance().picture();
    ASSERT_FALSE(expected.empty()) << n;
    ASSERT_EQ(expected.size(), shown.size()) << n;
    size_t differing = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        differing += shown[i] != expected[i];
    }
    EXPECT_EQ(0u, differing) << "picture shown for frame " << n;
}
// A seek by frame shows frame n, once, at its time.
void expectSeekShows(LONG port, DWORD n, DWORD ms) {
    SCOPED_TRACE(n);
    ASSERT_TRUE(PlayM4_SetCurrentFrameNum(port, n)) << "code " << PlayM4_GetLastError(port);
    EXPECT_EQ(n, PlayM4_GetCurrentFrameNum(port));
    EXPECT_EQ(ms, PlayM4_GetPlayedTimeEx(port));
    auto shown = FrameRecorder::instance().take();
    ASSERT_EQ(1u, shown.size());
    EXPECT_EQ(static_cast<LONG>(n), shown[0].number);
    EXPECT_EQ(static_cast<LONG>(ms), shown[0].stamp);
}
void expectSeekShows(LONG port, DWORD n) {
    expectSeekShows(port, n, n * 40);
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
        for (int i = 0; i < 10; ++i) {
            targets.push_back(random() % kClipFrames);
        }
        for (DWORD n : targets) {
            ASSERT_NO_FATAL_FAILURE(expectSeekShows(c.port, n));
        }
        EXPECT_FALSE(PlayM4_SetCurrentFrameNum(c.port, kClipFrames));
        EXPECT_EQ(1u, PlayM4_GetLastError(c.port));
    }
}

TEST(Seek, OfTwentyOverlappingRequestsOnlyTheNewestIsShown) {
    OpenClip c("h264.mp4");
    FrameRecorder &recorder = FrameRecorder::instance();
    struct Call {
        DWORD frame = 0;
        BOOL result = FALSE;
        std::atomic<bool> done{false};
        std::thread thread;
    };
    std::vector<std::unique_ptr<Call>> calls;
    auto start = [&](DWORD frame) {
        calls.push_back(std::make_unique<Call>());
        Call *call = calls.back().get();
        call->frame = frame;
        call->thread = std::thread([call, port = c.port] {
            call->result = PlayM4_SetCurrentFrameNum(port, call->frame);
            call->done = true;
        });
    };
    auto pending = [&] {
        return std::count_if(calls.begin(), calls.end(), [](auto &call) { return !call->done; });
    };
    // The worker is held inside the callback of a first seek, so the twenty pile up behind it.
    recorder.hold = true;
    recorder.held = 0;
    start(5);
    bool held = waitFor([&] { return recorder.held > 0; });
    for (DWORD i = 0; held && i < 20; ++i) {
        start(10 + 7 * i);
        // Each returns once a newer one has replaced it: one stays pending, the newest.
        held = waitFor([&] { return pending() == 1; });
    }
    recorder.hold = false;
    for (auto &call : calls) {
        call->thread.join();
    }
    ASSERT_TRUE(held) << "requests wait for each other";
    for (auto &call : calls) {
        EXPECT_TRUE(call->result) << call->frame;
    }
    const LONG newest = static_cast<LONG>(calls.back()->frame);
    std::vector<LONG> shown;
    for (auto &f : recorder.take()) {
        shown.push_back(f.number);
    }
    EXPECT_EQ((std::vector<LONG>{5, newest}), shown);
    EXPECT_EQ(static_cast<DWORD>(newest), PlayM4_GetCurrentFrameNum(c.port));
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
        for (size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(static_cast<LONG>(59 - i), shown[i].number);
        }
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
    for (auto &f : shown) {
        numbers.push_back(f.number);
    }
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
          "mpeg4_mp3.avi", "mjpeg_alaw.avi", "mpeg4_packed.avi", "h264.264", "hevc.265",
          "h264_aac.ps", "hevc_g711.mpg", "mpeg2.ps", "mpeg2.ts"}) {
        SCOPED_TRACE(clip);
        OpenClip c(clip);
        // Every clip holds 150 pictures; an encoder may drop a trailing B-frame or two.
        const DWORD last = PlayM4_GetFileTotalFrames(c.port) - 1;
        EXPECT_GE(last, kClipFrames - 3);
        EXPECT_LE(last, kClipFrames - 1);
        LONG width = 0, height = 0;
        EXPECT_TRUE(PlayM4_GetPictureSize(c.port, &width, &height));
        EXPECT_EQ(kClipWidth, width);
        EXPECT_EQ(kClipHeight, height);
        for (DWORD n : {last, DWORD{0}}) {
            ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, n))
                << n << " code " << PlayM4_GetLastError(c.port);
        }
        auto shown = FrameRecorder::instance().take();
        ASSERT_EQ(2u, shown.size());
        EXPECT_EQ(static_cast<LONG>(last), shown[0].number);
        EXPECT_EQ(0, shown[1].number);
        EXPECT_EQ(kClipWidth, shown[1].width);
    }
}

TEST(Pictures, EveryAcceptedStreamShowsTheToolsOwnDecodeOfTheFrameAskedFor) {
    for (const char *clip :
         {"h264.mp4", "mpeg4_packed.avi", "h264.avi", "h264_opengop.264", "hevc_opengop.hevc",
          "h264_aac.ps", "hevc_g711.mpg", "h264_mulaw.ps", "mpeg2.ps", "mpeg2.ts"}) {
        SCOPED_TRACE(clip);
        const Reference ref = readReference(clip);
        ASSERT_GE(ref.keys.size(), 2u);
        ASSERT_FALSE(ref.checked.empty());
        const DWORD key = ref.keys[1];
        OpenClip c(clip);
        ASSERT_EQ(ref.frames, PlayM4_GetFileTotalFrames(c.port));
        EXPECT_EQ(ref.frames * 40 / 1000, PlayM4_GetFileTime(c.port));
        for (size_t i = 1; i < ref.keys.size(); ++i) {
            EXPECT_EQ(ref.keys[i], keyAtOrBefore(c.port, ref.keys[i] + 1));
            EXPECT_EQ(ref.keys[i], keyAfter(c.port, ref.keys[i] - 1));
        }
        // Backwards through the frames, then forwards: each seek comes from elsewhere.
        std::vector<DWORD> targets(ref.checked.rbegin(), ref.checked.rend());
        targets.insert(targets.end(), ref.checked.begin(), ref.checked.end());
        for (DWORD n : targets) {
            ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, n))
                << n << " code " << PlayM4_GetLastError(c.port);
            EXPECT_EQ(n, PlayM4_GetCurrentFrameNum(c.port));
            EXPECT_EQ(n * 40, PlayM4_GetPlayedTimeEx(c.port));
            expectPictureOf(clip, n);
        }
        // Steps: on from the first frame, back across the key frame.
        ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, 0));
        ASSERT_TRUE(PlayM4_OneByOne(c.port));
        EXPECT_EQ(1u, PlayM4_GetCurrentFrameNum(c.port));
        expectPictureOf(clip, 1);
        ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, key + 1));
        for (DWORD n : {key, key - 1}) {
            ASSERT_TRUE(PlayM4_OneByOneBack(c.port));
            EXPECT_EQ(n, PlayM4_GetCurrentFrameNum(c.port));
            expectPictureOf(clip, n);
        }
        // By time and by fraction.
        ASSERT_TRUE(PlayM4_SetPlayedTimeEx(c.port, key * 40 + 39));
        EXPECT_EQ(key, PlayM4_GetCurrentFrameNum(c.port));
        expectPictureOf(clip, key);
        ASSERT_TRUE(PlayM4_SetPlayPos(c.port, 0.25f));
        EXPECT_EQ(ref.frames * 10 / 40, PlayM4_GetCurrentFrameNum(c.port));
    }
}

namespace {
// From frame `from` on, frame n lies at ms + (n - from) * step on the file's timeline.
struct Run {
    DWORD from, ms, step;
};
DWORD msOf(const std::vector<Run> &runs, DWORD n) {
    auto run = std::find_if(runs.rbegin(), runs.rend(), [n](const Run &r) { return r.from <= n; });
    return run->ms + (n - run->from) * run->step;
}
const std::vector<Run> kEvery40 = {{0, 0, 40}};
// vfr.mp4: pictures 20 to 34 of every 50 left out.
std::vector<Run> fifteenOfFiftyLeftOut() {
    std::vector<Run> runs;
    for (DWORD block = 0; block < 10; ++block) {
        runs.push_back({block * 35, block * 2000, 40});
        runs.push_back({block * 35 + 20, block * 2000 + 1400, 40});
    }
    return runs;
}

// The tool's MD5 sums of a clip's pictures, in display order.
std::vector<std::string> readMd5s(const std::string &clip) {
    std::ifstream in(media(("refs/" + clip + ".md5").c_str()));
    std::vector<std::string> sums;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] != '#') {
            sums.push_back(line.substr(line.find_last_of(' ') + 1));
        }
    }
    return sums;
}

// A recording whose time stamps jump, slow down, vary or are damaged (make-media.sh).
struct Recording {
    const char *clip;
    DWORD frames;               // 0 for a damaged file: damage loses pictures
    DWORD seconds;              // GetFileTime
    std::vector<DWORD> changes; // the first frame after each join or change of pace
    std::vector<Run> runs = kEvery40;
    // A damaged file: its undamaged source, whose picture at the same time is the right one
    // everywhere but in [damagedFrom, damagedTo) ms (the damage, up to the next key frame).
    const char *source = nullptr;
    DWORD damagedFrom = 0, damagedTo = 0;
};

void expectTimesAndPictures(const Recording &t, LONG port) {
    for (DWORD j : t.changes) {
        const DWORD at = msOf(t.runs, j);
        ASSERT_TRUE(PlayM4_SetPlayedTimeEx(port, at + 39));
        EXPECT_EQ(j, PlayM4_GetCurrentFrameNum(port));
        expectPictureOf(t.clip, j);
        ASSERT_TRUE(PlayM4_SetPlayedTimeEx(port, at - 1));
        EXPECT_EQ(j - 1, PlayM4_GetCurrentFrameNum(port));
        expectPictureOf(t.clip, j - 1);
        ASSERT_TRUE(PlayM4_SetPlayPos(port, (at + 20) / (t.seconds * 1000.0f)));
        EXPECT_EQ(j, PlayM4_GetCurrentFrameNum(port));
    }
}

void expectSourcePictures(const Recording &t, LONG port, const std::vector<std::string> &right) {
    for (DWORD ms : {DWORD{0}, t.damagedFrom - 40, t.damagedTo, t.damagedTo + 2000,
                     t.seconds * 1000 - 40, t.damagedTo + 520}) {
        SCOPED_TRACE(ms);
        ASSERT_TRUE(PlayM4_SetPlayedTimeEx(port, ms)) << "code " << PlayM4_GetLastError(port);
        EXPECT_EQ(ms, PlayM4_GetPlayedTimeEx(port));
        EXPECT_EQ(right.at(ms / 40), md5Of(FrameRecorder::instance().picture()));
    }
}
} // namespace

namespace {
// One row of the table: a failed assertion ends the row, not the table.
void expectPlaysOnItsTimeline(const Recording &t) {
    EndWindow window;
    OpenClip c(t.clip);
    const DWORD frames = PlayM4_GetFileTotalFrames(c.port);
    const DWORD seconds = PlayM4_GetFileTime(c.port);
    EXPECT_EQ(t.seconds, seconds);
    const std::vector<std::string> right =
        t.source ? readMd5s(t.source) : std::vector<std::string>{};
    if (t.source) {
        ASSERT_EQ(500u, right.size());
        expectSourcePictures(t, c.port, right);
    } else {
        ASSERT_EQ(t.frames, frames);
        // By frame: on both sides of each change, and the ends.
        std::vector<DWORD> targets = {t.frames - 1, 0};
        for (DWORD j : t.changes) {
            targets.insert(targets.end(), {j, j - 1});
        }
        for (DWORD n : targets) {
            ASSERT_NO_FATAL_FAILURE(expectSeekShows(c.port, n, msOf(t.runs, n)));
            expectPictureOf(t.clip, n);
        }
        expectTimesAndPictures(t, c.port);
    }
    // Played at 16x: a wait for the gap's wall time would take minutes.
    const DWORD lastMs = t.source ? t.seconds * 1000 - 40 : msOf(t.runs, t.frames - 1);
    ASSERT_TRUE(PlayM4_SetFileEndMsg(c.port, window.hwnd, kEndMessage));
    ASSERT_TRUE(PlayM4_Stop(c.port));
    FrameRecorder::instance().clear();
    FrameRecorder::instance().hashing = t.source != nullptr;
    ASSERT_TRUE(PlayM4_Play(c.port, window.hwnd));
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(PlayM4_Fast(c.port));
    }
    ASSERT_TRUE(waitFor([] { return EndWindow::endMessages > 0; }, 20000));
    FrameRecorder::instance().hashing = false;
    EXPECT_EQ(lastMs, PlayM4_GetPlayedTimeEx(c.port));
    auto shown = FrameRecorder::instance().take();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(static_cast<LONG>(lastMs), shown.back().stamp);
    if (!t.source) {
        EXPECT_EQ(t.frames - 1, PlayM4_GetCurrentFrameNum(c.port));
        EXPECT_EQ(static_cast<LONG>(t.frames - 1), shown.back().number);
    }
    size_t wrong = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (t.source) {
            const DWORD ms = static_cast<DWORD>(shown[i].stamp);
            EXPECT_EQ(0u, ms % 40) << i;
            wrong += (ms < t.damagedFrom || ms >= t.damagedTo) &&
                     (ms / 40 >= right.size() || shown[i].md5 != right[ms / 40]);
        } else {
            EXPECT_EQ(msOf(t.runs, shown[i].number), static_cast<DWORD>(shown[i].stamp)) << i;
        }
        if (i > 0) {
            EXPECT_LT(shown[i - 1].stamp, shown[i].stamp) << i;
        }
    }
    EXPECT_EQ(0u, wrong) << "of " << shown.size() << " pictures shown";
}
} // namespace

TEST(Jumps, TimeRunsStraightOnAcrossJoinsAndGapsAndKeepsTheRecordersPaceAndDamage) {
    const Recording table[] = {
        {"join_forward.ts", 500, 20, {250}},
        {"join_forward.ps", 500, 20, {250}},
        {"join_back.ts", 500, 20, {250}},
        {"join_back.ps", 500, 20, {250}},
        {"join_twice.ts", 375, 15, {125, 250}},
        {"join_twice.ps", 375, 15, {125, 250}},
        {"join_wrap.ts", 500, 20, {208}},
        {"join_wrap.ps", 500, 20, {208}},
        {"join_flagged.ts", 500, 20, {250}},
        // Slow, fast and variable paces keep the file's time; motion gaps are joined.
        {"slow_25to1.ts", 160, 64, {100}, {{0, 0, 40}, {100, 4960, 1000}}},
        {"slow_25to01.ts", 110, 104, {100}, {{0, 0, 40}, {100, 13960, 10000}}},
        {"fast_1to25.ts", 110, 14, {10}, {{0, 0, 1000}, {10, 10000, 40}}},
        {"gap_25.ts", 250, 10, {125}},
        {"gap_1.ts", 20, 20, {10}, {{0, 0, 1000}}},
        {"vfr.mp4", 350, 20, {20, 55}, fifteenOfFiftyLeftOut()},
        {"damaged.ts", 0, 20, {}, kEvery40, "whole.ts", 9880, 11000},
        {"damaged.mp4", 0, 20, {}, kEvery40, "whole.mp4", 9880, 11000},
    };
    for (const Recording &t : table) {
        SCOPED_TRACE(t.clip);
        expectPlaysOnItsTimeline(t);
    }
}

// size_change.ts: frames 0 to 49 at 320x240, 50 to 99 at 640x360, times running on.
TEST(PictureSize, IsThatOfThePictureShownAfterSeeksStepsAndPlayback) {
    EndWindow window;
    OpenClip c("size_change.ts");
    ASSERT_EQ(100u, PlayM4_GetFileTotalFrames(c.port));
    auto expectSize = [&](DWORD frame) {
        SCOPED_TRACE(frame);
        const LONG width = frame < 50 ? 320 : 640, height = frame < 50 ? 240 : 360;
        LONG w = 0, h = 0;
        EXPECT_EQ(frame, PlayM4_GetCurrentFrameNum(c.port));
        ASSERT_TRUE(PlayM4_GetPictureSize(c.port, &w, &h));
        EXPECT_EQ(width, w);
        EXPECT_EQ(height, h);
    };
    expectSize(0);
    for (DWORD n : {75u, 10u, 99u, 49u}) {
        ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, n));
        expectSize(n);
    }
    ASSERT_TRUE(PlayM4_OneByOne(c.port));
    expectSize(50);
    ASSERT_TRUE(PlayM4_OneByOneBack(c.port));
    expectSize(49);
    ASSERT_TRUE(PlayM4_SetPlayedTimeEx(c.port, 2000));
    expectSize(50);
    ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, 30));
    // Played across the change: paused in the second half, then to the end.
    FrameRecorder::instance().clear();
    ASSERT_TRUE(PlayM4_SetFileEndMsg(c.port, window.hwnd, kEndMessage));
    ASSERT_TRUE(PlayM4_Play(c.port, nullptr));
    ASSERT_TRUE(waitFor([&] { return PlayM4_GetCurrentFrameNum(c.port) >= 60; }));
    ASSERT_TRUE(PlayM4_Pause(c.port, 1));
    expectSize(PlayM4_GetCurrentFrameNum(c.port));
    ASSERT_TRUE(PlayM4_Pause(c.port, 0));
    ASSERT_TRUE(waitFor([] { return EndWindow::endMessages > 0; }));
    expectSize(99);
    auto shown = FrameRecorder::instance().take();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(31, shown.front().number);
    EXPECT_EQ(99, shown.back().number);
    for (const ShownFrame &f : shown) {
        EXPECT_EQ(f.number < 50 ? 320 : 640, f.width) << f.number;
        EXPECT_EQ(f.number * 40, f.stamp) << f.number;
    }
}
