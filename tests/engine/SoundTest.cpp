// What the engine's sound sounds like, recorded from the test runner's sink: each test is a
// CTest entry of its own, skipped (not passed) where it cannot listen, so that a skip hides no
// other test's failure.
#include "EngineSupport.h"
#include "Listening.h"

#include <algorithm>
#include <cstdio>
#include <string>

using namespace enginetest;
using namespace listening;

namespace {
constexpr WORD kFullVolume = 0xFFFF;

// Listens for the whole test, or skips it saying why.
#define LISTEN(recording)                                                                          \
    Recording recording;                                                                           \
    if (!recording.unavailable().empty()) {                                                        \
        GTEST_SKIP() << "Not listened: " << recording.unavailable();                               \
    }
#define HEAR(recording)                                                                            \
    if (!recording.finish()) {                                                                     \
        GTEST_SKIP() << "Not listened: " << recording.unavailable();                               \
    }

// One play of a clip with its sound on, from Play (then PlaySound, as the component calls them)
// until `until` says so or the end; pictures are noted by FrameRecorder.
struct Played {
    double playedAt = 0, endedAt = 0;
    std::vector<double> shownAt = std::vector<double>(kTones, 0.0); // second k's first picture
};

template <class Until> Played play(OpenClip &c, Until until) {
    EndWindow window;
    Played p;
    EXPECT_TRUE(PlayM4_SetFileEndMsg(c.port, window.hwnd, kEndMessage));
    p.playedAt = nowMs();
    EXPECT_TRUE(PlayM4_Play(c.port, nullptr));
    EXPECT_TRUE(PlayM4_PlaySound(c.port)) << "code " << PlayM4_GetLastError(c.port);
    waitFor([&] { return EndWindow::endMessages > 0 || until(); }, 15000);
    p.endedAt = nowMs();
    PlayM4_Stop(c.port);
    for (const ShownFrame &f : FrameRecorder::instance().take()) {
        if (f.number % 25 == 0 && f.number / 25 < kTones && p.shownAt[f.number / 25] == 0) {
            p.shownAt[f.number / 25] = f.at;
        }
    }
    return p;
}

Played playToTheEnd(const char *clip) {
    OpenClip c(clip);
    return play(c, [] { return false; });
}

// What was heard during one play: how long each second, and when each was first heard.
struct Heard {
    std::vector<double> ms, at;
    std::string said; // for a failure's message
};

// How long each second was heard between two moments, in ms.
std::vector<double> heardFor(const std::vector<ToneRun> &runs, double from, double to) {
    std::vector<double> ms(kTones, 0.0);
    for (const ToneRun &r : runs) {
        ms[r.tone] += std::max(0.0, std::min(r.endMs, to) - std::max(r.startMs, from));
    }
    return ms;
}

Heard heardIn(const std::vector<ToneRun> &runs, const Played &p, const std::string &what) {
    return {heardFor(runs, p.playedAt, p.endedAt), secondsHeard(runs, p.playedAt, p.endedAt),
            what + ", heard:" + describe(runs, p.playedAt, p.endedAt)};
}

// Whether nothing was heard between two moments.
bool silentBetween(const std::vector<Window> &windows, double from, double to) {
    return std::none_of(windows.begin(), windows.end(), [&](const Window &w) {
        return w.ms > from && w.ms < to && w.amplitude >= 0.01;
    });
}

// The offsets of the seconds heard between two moments whose pictures were shown between them.
std::vector<double> offsetsBetween(const std::vector<ToneRun> &runs, const Played &p, double from,
                                   double to) {
    std::vector<double> shown = p.shownAt;
    for (double &at : shown) {
        at = at > from && at < to ? at : 0.0;
    }
    return offsets(secondsHeard(runs, from, to), shown);
}

double amplitudeOf(const std::vector<ToneRun> &runs, int tone, double from) {
    for (const ToneRun &r : runs) {
        if (r.tone == tone && r.startMs >= from) {
            return r.amplitude;
        }
    }
    return 0;
}
} // namespace

TEST(Sound, EverySecondIsHeardOnceInOrderAtTheVolumeSet) {
    LISTEN(heard);
    std::vector<Played> plays;
    for (const char *clip : {"listen_aac.mp4", "listen_aac.ts"}) {
        plays.push_back(playToTheEnd(clip));
    }
    // Half the range from the third second, nothing from the sixth, stopped in the eighth.
    double halfAt = 0, zeroAt = 0;
    OpenClip c("listen_aac.mp4");
    Played steps = play(c, [&] {
        const DWORD frame = PlayM4_GetCurrentFrameNum(c.port);
        if (frame >= 75 && halfAt == 0) {
            EXPECT_TRUE(PlayM4_SetVolume(c.port, kFullVolume / 2));
            halfAt = nowMs();
        } else if (frame >= 150 && zeroAt == 0) {
            EXPECT_TRUE(PlayM4_SetVolume(c.port, 0));
            zeroAt = nowMs();
        }
        return frame >= 200;
    });
    EXPECT_EQ(0, PlayM4_GetVolume(c.port));
    EXPECT_TRUE(PlayM4_StopSound());
    HEAR(heard);

    const std::vector<ToneRun> runs = runsOf(heard.windows);
    for (size_t i = 0; i < plays.size(); ++i) {
        const Heard h = heardIn(runs, plays[i], i == 0 ? "MP4" : "TS");
        SCOPED_TRACE(h.said);
        for (int k = 1; k < kTones; ++k) {
            EXPECT_NEAR(1000, h.ms[k], 300) << "second " << k;
            if (k > 1) {
                EXPECT_GT(h.at[k], h.at[k - 1]) << "second " << k << " heard before " << k - 1;
            }
        }
    }
    const double full = amplitudeOf(runs, 2, steps.playedAt);
    const double half = amplitudeOf(runs, 4, halfAt + 300);
    EXPECT_GT(full, 0.2);
    EXPECT_NEAR(0.5, half / full, 0.1) << full << " then " << half;
    for (const Window &w : heard.windows) {
        if (w.ms > zeroAt + 300 && w.ms < steps.endedAt) {
            ASSERT_LT(w.amplitude, 0.01) << "at volume 0, " << w.ms - zeroAt << " ms after";
        }
    }
}

// The first moments of the file are heard, and each second with its picture.
TEST(Sound, StartsWithTheFirstMomentAndKeepsInStepWithThePicture) {
    LISTEN(heard);
    std::vector<Played> plays;
    for (const char *clip : {"listen_aac.mp4", "listen_aac.ts"}) {
        plays.push_back(playToTheEnd(clip));
    }
    HEAR(heard);
    const std::vector<ToneRun> runs = runsOf(heard.windows);
    for (size_t i = 0; i < plays.size(); ++i) {
        const Heard h = heardIn(runs, plays[i], i == 0 ? "MP4" : "TS");
        SCOPED_TRACE(h.said);
        EXPECT_GT(h.ms[0], 800) << "of the first second, heard (ms)";
        std::vector<double> off = offsets(h.at, plays[i].shownAt);
        EXPECT_EQ(size_t(kTones), off.size()) << "seconds heard with their pictures";
        EXPECT_NEAR(0, median(off), 150) << "median offset of sound from picture (ms)";
    }
}

// One clip of each sound codec in each container recorders write it in (make-media.sh says which
// the ffmpeg tool cannot write), 4 s of tones: each is heard, in order.
TEST(Sound, EveryCodecRecordersWriteIsHeard) {
    const char *const clips[] = {
        "heard_aac.ts",   "heard_aac.mp4",  "heard_aac.mkv",   "heard_latm.ts",   "heard_mp2.ts",
        "heard_mp2.mp4",  "heard_mp2.mkv",  "heard_mp3.ts",    "heard_mp3.mp4",   "heard_mp3.mkv",
        "heard_ac3.ts",   "heard_ac3.mp4",  "heard_ac3.mkv",   "heard_alaw.ps",   "heard_alaw.avi",
        "heard_alaw.mov", "heard_mulaw.ps", "heard_mulaw.avi", "heard_mulaw.mov", "heard_g726.avi",
        "heard_g726.mkv", "heard_pcm.avi"};
    LISTEN(heard);
    std::vector<Played> plays;
    for (const char *clip : clips) {
        OpenClip c(clip);
        plays.push_back(play(c, [] { return false; }));
    }
    HEAR(heard);
    const std::vector<ToneRun> runs = runsOf(heard.windows);
    for (size_t i = 0; i < plays.size(); ++i) {
        const Heard h = heardIn(runs, plays[i], clips[i]);
        SCOPED_TRACE(h.said);
        // Seconds 1 to 3 whole and in order, nothing else.
        for (int k = 1; k < kTones; ++k) {
            EXPECT_NEAR(k < 4 ? 1000 : 0, h.ms[k], 300) << "second " << k;
        }
        EXPECT_LT(h.at[1], h.at[2]);
        EXPECT_LT(h.at[2], h.at[3]);
    }
}

// Without listening, so never skipped: sound that no decoder takes fails PlaySound, no sound at
// all is no failure, and code 12 would say the runner gave Wine no sound device.
TEST(SoundCodes, SoundNoDecoderTakesFailsWithCodeFive) {
    OpenClip c("heard_opus.mkv", false);
    EXPECT_FALSE(PlayM4_PlaySound(c.port));
    EXPECT_EQ(5u, PlayM4_GetLastError(c.port));
    OpenClip silent("h264.mp4", false);
    EXPECT_TRUE(PlayM4_PlaySound(silent.port)) << PlayM4_GetLastError(silent.port);
    OpenClip sound("heard_aac.mp4", false);
    EXPECT_TRUE(PlayM4_PlaySound(sound.port)) << PlayM4_GetLastError(sound.port);
}

// A seek is heard from the target's first moment and the old place falls silent at once, as it
// does at Pause and Stop; after the seek and the pause, sound and picture keep in step.
TEST(Sound, SeekPauseAndStopSilenceTheOldPlaceAtOnce) {
    LISTEN(heard);
    OpenClip c("listen_aac.mp4");
    double seekedAt = 0, pausedAt = 0, resumingAt = 0, resumedAt = 0, stoppedAt = 0;
    Played p = play(c, [&] {
        const DWORD frame = PlayM4_GetCurrentFrameNum(c.port);
        if (seekedAt == 0 && frame >= 50) {
            EXPECT_TRUE(PlayM4_SetPlayedTimeEx(c.port, 5000));
            seekedAt = nowMs();
        } else if (seekedAt != 0 && pausedAt == 0 && frame >= 190) {
            EXPECT_TRUE(PlayM4_Pause(c.port, 1));
            pausedAt = nowMs();
        } else if (pausedAt != 0 && resumedAt == 0 && nowMs() - pausedAt > 1000) {
            resumingAt = nowMs();
            EXPECT_TRUE(PlayM4_Pause(c.port, 0));
            resumedAt = nowMs();
        } else if (resumedAt != 0 && stoppedAt == 0 && frame >= 215) {
            EXPECT_TRUE(PlayM4_Stop(c.port));
            stoppedAt = nowMs();
        }
        return stoppedAt != 0 && nowMs() - stoppedAt > 1000;
    });
    HEAR(heard);
    ASSERT_NE(0, stoppedAt) << "the steps did not all come";
    const std::vector<ToneRun> runs = runsOf(heard.windows);
    for (const ToneRun &r : runs) {
        if (r.endMs > seekedAt + 150 && r.startMs < pausedAt) {
            EXPECT_GE(r.tone, 5) << "second " << r.tone << " heard after the seek";
        }
    }
    std::vector<double> ms = heardFor(runs, seekedAt, pausedAt);
    EXPECT_GT(ms[5], 850) << "of the target's second, heard (ms)";
    EXPECT_TRUE(silentBetween(heard.windows, pausedAt + 150, resumingAt - 150)) << "while paused";
    EXPECT_TRUE(silentBetween(heard.windows, stoppedAt + 150, stoppedAt + 1000)) << "stopped";
    std::vector<double> off = offsetsBetween(runs, p, seekedAt + 500, stoppedAt);
    EXPECT_EQ(3u, off.size()) << "seconds 6 to 8 heard with their pictures";
    EXPECT_NEAR(0, median(off), 150) << "median offset after the seek and the pause (ms)";
}

// Across a forward and a backward jump of the stamps, and after a seek across the join, every
// second is heard with its picture; a track that starts late and ends early keeps its place.
TEST(Sound, KeepsItsPlaceOnThePicturesTimeline) {
    LISTEN(heard);
    std::vector<Played> plays;
    for (const char *clip : {"listen_join_forward.ts", "listen_join_back.ts", "listen_late.mp4"}) {
        plays.push_back(playToTheEnd(clip));
    }
    OpenClip c("listen_join_forward.ts");
    double seekedAt = 0;
    Played across = play(c, [&] {
        const DWORD frame = PlayM4_GetCurrentFrameNum(c.port);
        if (seekedAt == 0 && frame >= 25) {
            EXPECT_TRUE(PlayM4_SetPlayedTimeEx(c.port, 7000));
            seekedAt = nowMs();
        }
        return false;
    });
    HEAR(heard);
    const std::vector<ToneRun> runs = runsOf(heard.windows);
    const int firstHeard[] = {0, 0, 2}, lastHeard[] = {9, 9, 6};
    for (size_t i = 0; i < plays.size(); ++i) {
        SCOPED_TRACE(i);
        std::vector<double> ms = heardFor(runs, plays[i].playedAt, plays[i].endedAt);
        for (int k = 0; k < kTones; ++k) {
            const bool sounds = k >= firstHeard[i] && k <= lastHeard[i];
            EXPECT_NEAR(sounds ? 1000 : 0, ms[k], 300) << "second " << k << " heard (ms)";
        }
        std::vector<double> off =
            offsetsBetween(runs, plays[i], plays[i].playedAt, plays[i].endedAt);
        EXPECT_EQ(size_t(lastHeard[i] - firstHeard[i] + 1), off.size());
        EXPECT_NEAR(0, median(off), 150) << "median offset of sound from picture (ms)";
    }
    std::vector<double> ms = heardFor(runs, seekedAt, across.endedAt);
    EXPECT_GT(ms[7], 850) << "after the seek across the join";
    EXPECT_NEAR(0, median(offsetsBetween(runs, across, seekedAt + 500, across.endedAt)), 150);
}

// At another speed the sound is silent; back at normal speed it comes back in step.
TEST(Sound, IsSilentAtOtherSpeedsAndComesBackInStep) {
    LISTEN(heard);
    OpenClip c("listen_aac.mp4");
    double fastAt = 0, slowingAt = 0, normalAt = 0;
    Played p = play(c, [&] {
        if (fastAt == 0 && PlayM4_GetCurrentFrameNum(c.port) >= 25) {
            EXPECT_TRUE(PlayM4_Fast(c.port));
            fastAt = nowMs();
        } else if (fastAt != 0 && normalAt == 0 && nowMs() - fastAt > 1000) {
            slowingAt = nowMs();
            EXPECT_TRUE(PlayM4_Slow(c.port));
            normalAt = nowMs();
        }
        return false;
    });
    HEAR(heard);
    ASSERT_NE(0, normalAt);
    const std::vector<ToneRun> runs = runsOf(heard.windows);
    // Around each speed change the sound may be either way: the recording's clock and the
    // test's agree to within a few ms, so sound that starts as Slow is called may be placed
    // just before it.
    constexpr double kMarginMs = 150;
    EXPECT_TRUE(silentBetween(heard.windows, fastAt + kMarginMs, slowingAt - kMarginMs))
        << "at double speed, heard:" << describe(runs, fastAt, slowingAt);
    double back = 0;
    for (const ToneRun &r : runs) {
        back = back == 0 && r.startMs > slowingAt - kMarginMs ? r.startMs : back;
    }
    EXPECT_NE(0, back) << "the sound never came back";
    EXPECT_LT(back - slowingAt, 300)
        << "ms until the sound came back; heard:" << describe(runs, fastAt, slowingAt + 1000);
    std::vector<double> off = offsetsBetween(runs, p, normalAt, p.endedAt);
    EXPECT_LE(4u, off.size()) << "seconds heard with their pictures after";
    EXPECT_NEAR(0, median(off), 150) << "median offset once back at normal speed (ms)";
}
