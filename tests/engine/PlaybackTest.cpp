#include "EngineSupport.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <thread>

using namespace enginetest;

namespace {
// Frees a port however the test ends, so that a failure leaves the other tests their ports.
struct PortFreed {
    LONG port;
    ~PortFreed() { EXPECT_TRUE(PlayM4_FreePort(port)); }
};

// 4x: quick, and still far from the pace at which frames come late and are skipped.
void playFast(LONG port) {
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(PlayM4_Fast(port));
    }
}
} // namespace

TEST(Playback, CallbackGetsEveryFrameOnceInOrderAndTheEndIsPostedOnce) {
    for (const char *clip :
         {"h264_aac.mp4", "hevc.mkv", "mpeg4_packed.avi", "h264_opengop.264", "hevc_g711.mpg"}) {
        SCOPED_TRACE(clip);
        EndWindow window;
        OpenClip c(clip);
        const DWORD frames = PlayM4_GetFileTotalFrames(c.port);
        ASSERT_TRUE(PlayM4_SetFileEndMsg(c.port, window.hwnd, kEndMessage));
        ASSERT_TRUE(PlayM4_Play(c.port, window.hwnd));
        playFast(c.port);
        ASSERT_TRUE(waitFor([] { return EndWindow::endMessages > 0; }, 20000));
        waitFor([] { return false; }, 300); // a second message would arrive now
        EXPECT_EQ(1, EndWindow::endMessages);
        EXPECT_FLOAT_EQ(1.0f, PlayM4_GetPlayPos(c.port));

        auto shown = FrameRecorder::instance().take();
        ASSERT_EQ(frames, shown.size());
        for (size_t i = 0; i < shown.size(); ++i) {
            EXPECT_EQ(static_cast<LONG>(i), shown[i].number);
            EXPECT_EQ(c.port, shown[i].port);
            EXPECT_EQ(kClipWidth, shown[i].width);
            EXPECT_EQ(kClipHeight, shown[i].height);
            EXPECT_EQ(kClipWidth * kClipHeight * 3 / 2, shown[i].size);
            EXPECT_EQ(static_cast<LONG>(i * 40), shown[i].stamp);
            EXPECT_EQ(3, shown[i].type);
        }
        EXPECT_TRUE(PlayM4_RefreshPlay(c.port));
        EXPECT_EQ(0u, FrameRecorder::instance().count()); // a redraw is not a new frame
    }
}

TEST(Playback, EveryFrameIsShownAtNormalSpeed) {
    EndWindow window;
    OpenClip c("h264.mp4");
    ASSERT_TRUE(PlayM4_SetFileEndMsg(c.port, window.hwnd, kEndMessage));
    ASSERT_TRUE(PlayM4_Play(c.port, nullptr));
    ASSERT_TRUE(waitFor([] { return EndWindow::endMessages > 0; }, 20000));
    auto shown = FrameRecorder::instance().take();
    ASSERT_EQ(kClipFrames, shown.size());
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(static_cast<LONG>(i), shown[i].number);
    }
}

TEST(Playback, ASlowCallbackSkipsFramesToKeepPaceWithTheClock) {
    EndWindow window;
    OpenClip c("h264.mp4");
    ASSERT_TRUE(PlayM4_SetFileEndMsg(c.port, window.hwnd, kEndMessage));
    FrameRecorder::instance().delayMs = 60; // the clip has a frame every 40 ms
    ASSERT_TRUE(PlayM4_Play(c.port, nullptr));
    const bool ended = waitFor([] { return EndWindow::endMessages > 0; }, 20000);
    FrameRecorder::instance().delayMs = 0;
    ASSERT_TRUE(ended);
    EXPECT_EQ(kClipFrames - 1, PlayM4_GetCurrentFrameNum(c.port));
    auto shown = FrameRecorder::instance().take();
    ASSERT_GT(shown.size(), 50u);
    EXPECT_LT(shown.size(), kClipFrames);
    EXPECT_EQ(static_cast<LONG>(kClipFrames - 1), shown.back().number);
    // The clock starts with the first frame. A frame handed over more than two frames after
    // its time is a failure; the scheduler may delay a callback now and then, so a few may be
    // up to five late (without skipping, the lag grows by 20 ms a frame, to seconds).
    int late = 0;
    double worst = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE(i);
        if (i > 0) {
            EXPECT_LT(shown[i - 1].number, shown[i].number);
        }
        EXPECT_EQ(shown[i].number * 40, shown[i].stamp);
        const double behind = (shown[i].at - shown[0].at) / 40.0 - shown[i].number;
        worst = std::max(worst, behind);
        late += behind > 2.0 ? 1 : 0;
    }
    EXPECT_LE(late, 2) << "worst " << worst << " frames behind";
    EXPECT_LT(worst, 5.0);
}

namespace {
std::atomic<double> indexedAt{0.0};
void CALLBACK onIndexed(DWORD, DWORD_PTR) {
    indexedAt = nowMs();
}
} // namespace

TEST(Playback, ALongFileStartsPlayingBeforeItsIndexIsComplete) {
    // An hour of tiny pictures: indexing it takes a while, while each frame costs nothing.
    indexedAt = 0.0;
    LONG port;
    ASSERT_TRUE(PlayM4_GetPort(&port));
    PortFreed freed{port};
    FrameRecorder::instance().clear();
    ASSERT_TRUE(PlayM4_SetFileRefCallBack(port, &onIndexed, 0));
    ASSERT_TRUE(PlayM4_SetDisplayCallBack(port, &FrameRecorder::onFrame));
    std::string path = media("long.mp4");
    ASSERT_TRUE(PlayM4_OpenFile(port, &path[0])) << "code " << PlayM4_GetLastError(port);
    ASSERT_TRUE(PlayM4_Play(port, nullptr));
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(PlayM4_Fast(port)); // 16x: many frames while the index is built
    }
    EXPECT_TRUE(waitFor([] { return indexedAt.load() > 0.0; }, 60000));
    EXPECT_TRUE(waitFor([] { return FrameRecorder::instance().count() > 100; }));
    ASSERT_TRUE(PlayM4_Pause(port, 1));
    auto shown = FrameRecorder::instance().take();
    size_t early = 0;
    for (size_t i = 0; i < shown.size(); ++i) {
        SCOPED_TRACE(i);
        early += shown[i].at < indexedAt.load() ? 1 : 0;
        // Numbers and times stay the same across the index's arrival.
        EXPECT_EQ(shown[i].number * 40, shown[i].stamp);
        if (i > 0) {
            EXPECT_LT(shown[i - 1].number, shown[i].number);
        }
    }
    // Waiting for the index would show the first frame only.
    EXPECT_GE(early, 10u);
    EXPECT_EQ(static_cast<DWORD>(shown.back().number), PlayM4_GetCurrentFrameNum(port));
    EXPECT_EQ(90000u, PlayM4_GetFileTotalFrames(port));
}

namespace {
// Writes a recording into a file piece by piece, as a recorder does: whole 188-byte packets, cut
// wherever that falls, so a picture is often split between two pieces. Readers may share it.
class Recorder {
  public:
    Recorder(const std::string &source, const std::string &target, size_t pieces) {
        std::ifstream in(source.c_str(), std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), {});
        piece_ = bytes_.size() / pieces / 188 * 188;
        file_ = CreateFileA(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ~Recorder() {
        if (thread_.joinable()) {
            thread_.join();
        }
        CloseHandle(file_);
    }
    bool ready() const { return file_ != INVALID_HANDLE_VALUE && piece_ > 0; }
    // The next piece; the last one takes the rest of the recording.
    void append() {
        size_t size = std::min(bytes_.size() - written_, piece_);
        if (bytes_.size() - written_ - size < piece_) {
            size = bytes_.size() - written_;
        }
        DWORD done = 0;
        EXPECT_TRUE(
            WriteFile(file_, bytes_.data() + written_, static_cast<DWORD>(size), &done, nullptr));
        written_ += done;
    }
    // Appends `count` pieces on a thread of its own, one every `ms`.
    void appendEvery(DWORD ms, int count) {
        writing_ = true;
        thread_ = std::thread([this, ms, count] {
            for (int i = 0; i < count; ++i) {
                Sleep(ms);
                append();
            }
            writing_ = false;
        });
    }
    bool writing() const { return writing_; }

  private:
    std::vector<char> bytes_;
    size_t piece_ = 0, written_ = 0;
    HANDLE file_ = INVALID_HANDLE_VALUE;
    std::thread thread_;
    std::atomic<bool> writing_{false};
};
} // namespace

// recording.ts: 600 frames (24 s) in eight pieces of about 3 s; the host opens it with two
// written and plays at normal speed while five more come, one every 1.5 s.
TEST(Following, ARecordingStillBeingWrittenPlaysOnAsItGrows) {
    Recorder recorder(media("recording.ts"), media("recording-growing.ts"), 8);
    ASSERT_TRUE(recorder.ready());
    recorder.append();
    recorder.append();
    EndWindow window;
    OpenClip c("recording-growing.ts");
    const DWORD atOpen = PlayM4_GetFileTotalFrames(c.port);
    EXPECT_GT(atOpen, 100u);
    EXPECT_LT(atOpen, 200u);
    EXPECT_FALSE(PlayM4_SetCurrentFrameNum(c.port, atOpen)); // nothing appended: the end
    ASSERT_TRUE(PlayM4_SetFileEndMsg(c.port, window.hwnd, kEndMessage));
    ASSERT_TRUE(PlayM4_Play(c.port, nullptr));
    recorder.appendEvery(1500, 5);
    std::vector<DWORD> totals{atOpen};
    DWORD lastTime = PlayM4_GetFileTime(c.port);
    const DWORD start = GetTickCount();
    while (EndWindow::endMessages == 0 && GetTickCount() - start < 60000) {
        const bool writing = recorder.writing();
        waitFor([] { return EndWindow::endMessages > 0; }, 100);
        EXPECT_FALSE(writing && EndWindow::endMessages > 0) << "ended while being written";
        const DWORD total = PlayM4_GetFileTotalFrames(c.port);
        const DWORD time = PlayM4_GetFileTime(c.port);
        EXPECT_LT(PlayM4_GetCurrentFrameNum(c.port), total);
        EXPECT_GE(total, totals.back());
        EXPECT_GE(time, lastTime);
        if (total != totals.back()) {
            totals.push_back(total);
        }
        lastTime = time;
    }
    ASSERT_GT(EndWindow::endMessages, 0) << "no end";
    EXPECT_FALSE(recorder.writing());
    std::string seen;
    for (DWORD t : totals) {
        seen += " " + std::to_string(t);
    }
    std::printf("totals while following:%s\n", seen.c_str());
    EXPECT_GE(totals.size(), 3u) << seen; // it grew while playing, not only at the end
    const DWORD total = PlayM4_GetFileTotalFrames(c.port);
    EXPECT_EQ(total - 1, PlayM4_GetCurrentFrameNum(c.port));
    auto shown = FrameRecorder::instance().take();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(0, shown.front().number);
    EXPECT_EQ(static_cast<LONG>(total - 1), shown.back().number);
    for (size_t i = 0; i < shown.size(); ++i) {
        EXPECT_EQ(shown[i].number * 40, shown[i].stamp) << i;
        if (i > 0) {
            EXPECT_LT(shown[i - 1].number, shown[i].number) << i;
        }
    }
    // Ended, and the last piece comes: a seek past the end takes it in first.
    EXPECT_FALSE(PlayM4_SetCurrentFrameNum(c.port, total));
    recorder.append();
    ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, total)) << PlayM4_GetLastError(c.port);
    EXPECT_EQ(600u, PlayM4_GetFileTotalFrames(c.port));
    EXPECT_EQ(24u, PlayM4_GetFileTime(c.port));
    EXPECT_EQ(total, PlayM4_GetCurrentFrameNum(c.port));
}

// A writer slower than real time: playback catches up with it again and again, and never
// shows a picture whose packet the writer had cut short; the last picture is the whole one.
TEST(Following, ASlowerWriterNeverHasACutOffPictureShown) {
    std::vector<std::string> right;
    {
        std::ifstream in(media("refs/recording.ts.md5").c_str());
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line[0] != '#') {
                right.push_back(line.substr(line.find_last_of(' ') + 1));
            }
        }
    }
    ASSERT_EQ(600u, right.size());
    Recorder recorder(media("recording.ts"), media("recording-slow.ts"), 24);
    ASSERT_TRUE(recorder.ready());
    for (int i = 0; i < 17; ++i) {
        recorder.append();
    }
    EndWindow window;
    OpenClip c("recording-slow.ts");
    const DWORD atOpen = PlayM4_GetFileTotalFrames(c.port);
    ASSERT_GT(atOpen, 400u);
    ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, atOpen - 20));
    ASSERT_TRUE(PlayM4_SetFileEndMsg(c.port, window.hwnd, kEndMessage));
    FrameRecorder::instance().clear();
    FrameRecorder::instance().hashing = true;
    ASSERT_TRUE(PlayM4_Play(c.port, nullptr));
    recorder.appendEvery(1250, 7); // a second of pictures every 1.25 s
    ASSERT_TRUE(waitFor([] { return EndWindow::endMessages > 0; }, 30000));
    FrameRecorder::instance().hashing = false;
    EXPECT_FALSE(recorder.writing()) << "ended while being written";
    EXPECT_EQ(599u, PlayM4_GetCurrentFrameNum(c.port));
    auto shown = FrameRecorder::instance().take();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(599, shown.back().number);
    size_t wrong = 0;
    for (const ShownFrame &f : shown) {
        wrong += f.number < 0 || f.number >= 600 || f.md5 != right[f.number];
    }
    EXPECT_EQ(0u, wrong) << "of " << shown.size() << " pictures shown";
}

TEST(Playlist, TenFilesInARowOnOnePortEachPlayedToTheEnd) {
    // No CloseFile between them: opening closes the file before, whatever its state.
    const char *const clips[] = {"h264.mp4", "hevc.mkv", "h264_aac.mp4", "hevc_aac.mkv"};
    EndWindow window;
    LONG port;
    ASSERT_TRUE(PlayM4_GetPort(&port));
    PortFreed freed{port};
    ASSERT_TRUE(PlayM4_SetFileEndMsg(port, window.hwnd, kEndMessage));
    ASSERT_TRUE(PlayM4_SetDisplayCallBack(port, &FrameRecorder::onFrame));
    for (int i = 0; i < 10; ++i) {
        const char *clip = clips[i % 4];
        SCOPED_TRACE(clip);
        FrameRecorder::instance().clear();
        EndWindow::endMessages = 0;
        std::string path = media(clip);
        ASSERT_TRUE(PlayM4_OpenFile(port, &path[0])) << "code " << PlayM4_GetLastError(port);
        ASSERT_TRUE(PlayM4_Play(port, window.hwnd));
        playFast(port);
        ASSERT_TRUE(waitFor([] { return EndWindow::endMessages > 0; }, 20000)) << i;
        auto shown = FrameRecorder::instance().take();
        ASSERT_EQ(kClipFrames, shown.size()) << i;
        for (size_t n = 0; n < shown.size(); ++n) {
            ASSERT_EQ(static_cast<LONG>(n), shown[n].number) << i;
        }
    }
    EXPECT_TRUE(PlayM4_CloseFile(port));
}

TEST(Playback, FollowsTheClockAtNormalSpeed) {
    OpenClip c("h264.mp4");
    // Stop goes back to normal speed.
    ASSERT_TRUE(PlayM4_Play(c.port, nullptr));
    playFast(c.port);
    ASSERT_TRUE(PlayM4_Stop(c.port));
    ASSERT_TRUE(PlayM4_Play(c.port, nullptr));
    Sleep(1000);
    ASSERT_TRUE(PlayM4_Pause(c.port, 1));
    // Loose bounds: moving, and nowhere near the end of the 6 s clip (an ignored clock shows
    // all 150 frames at once). Not a timing measurement.
    DWORD frame = PlayM4_GetCurrentFrameNum(c.port);
    EXPECT_GT(frame, 0u);
    EXPECT_LT(frame, 100u);
    EXPECT_EQ(frame * 40, PlayM4_GetPlayedTimeEx(c.port));
    EXPECT_EQ(frame / 25, PlayM4_GetPlayedTime(c.port));
    // A paused clock stands still through a speed step, and runs again on resuming.
    DWORD held = PlayM4_GetPlayedTimeEx(c.port);
    ASSERT_TRUE(PlayM4_Fast(c.port));
    Sleep(300);
    EXPECT_EQ(held, PlayM4_GetPlayedTimeEx(c.port));
    ASSERT_TRUE(PlayM4_Pause(c.port, 0));
    EXPECT_TRUE(waitFor([&] { return PlayM4_GetPlayedTimeEx(c.port) > held; }));
}

TEST(Playback, PauseHoldsAndStopRewinds) {
    OpenClip c("h264.mp4");
    ASSERT_TRUE(PlayM4_Play(c.port, nullptr));
    ASSERT_TRUE(waitFor([&] { return PlayM4_GetCurrentFrameNum(c.port) >= 5; }));
    ASSERT_TRUE(PlayM4_Pause(c.port, 1));
    Sleep(50);
    DWORD held = PlayM4_GetCurrentFrameNum(c.port);
    Sleep(300);
    EXPECT_EQ(held, PlayM4_GetCurrentFrameNum(c.port));
    ASSERT_TRUE(PlayM4_Pause(c.port, 0));
    EXPECT_TRUE(waitFor([&] { return PlayM4_GetCurrentFrameNum(c.port) > held; }));
    // Stepping holds playback; Play resumes from the frame on screen.
    ASSERT_TRUE(PlayM4_OneByOne(c.port));
    DWORD stepped = PlayM4_GetCurrentFrameNum(c.port);
    Sleep(200);
    EXPECT_EQ(stepped, PlayM4_GetCurrentFrameNum(c.port));
    FrameRecorder::instance().clear();
    ASSERT_TRUE(PlayM4_Play(c.port, nullptr));
    ASSERT_TRUE(waitFor([] { return FrameRecorder::instance().count() > 0; }));
    EXPECT_EQ(static_cast<LONG>(stepped + 1), FrameRecorder::instance().take()[0].number);

    ASSERT_TRUE(PlayM4_Stop(c.port));
    EXPECT_EQ(0u, PlayM4_GetCurrentFrameNum(c.port));
    EXPECT_EQ(0u, PlayM4_GetPlayedTimeEx(c.port));
    FrameRecorder::instance().clear();
    ASSERT_TRUE(PlayM4_Play(c.port, nullptr));
    ASSERT_TRUE(waitFor([] { return FrameRecorder::instance().count() > 0; }));
    EXPECT_EQ(0, FrameRecorder::instance().take()[0].number);
}

TEST(Playback, SpeedStepsStopAtSixteenTimesEitherWay) {
    OpenClip c("h264.mp4", false);
    ASSERT_TRUE(PlayM4_Play(c.port, nullptr));
    for (int i = 0; i < 4; ++i) {
        EXPECT_TRUE(PlayM4_Fast(c.port));
    }
    EXPECT_FALSE(PlayM4_Fast(c.port));
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(PlayM4_Slow(c.port));
    }
    EXPECT_FALSE(PlayM4_Slow(c.port));
    EXPECT_TRUE(PlayM4_ThrowBFrameNum(c.port, 2));
    EXPECT_TRUE(PlayM4_ThrowBFrameNum(c.port, 0));
}

TEST(Playback, PicturesThatCannotBeDecodedStopThePortWithAnErrorNotTheEnd) {
    EndWindow window;
    OpenClip c("mjpeg_broken.avi", false);
    ASSERT_TRUE(PlayM4_SetFileEndMsg(c.port, window.hwnd, kEndMessage));
    ASSERT_TRUE(PlayM4_Play(c.port, nullptr));
    playFast(c.port);
    // No call on the port meanwhile: the code stays for the host to read.
    waitFor([] { return false; }, 3000);
    EXPECT_EQ(4u, PlayM4_GetLastError(c.port));
    EXPECT_EQ(0, EndWindow::endMessages);
    EXPECT_EQ(49u, PlayM4_GetCurrentFrameNum(c.port));
    EXPECT_LT(PlayM4_GetPlayPos(c.port), 1.0f);
    // Positioning into the broken part says why it fails, and the good part still plays.
    EXPECT_FALSE(PlayM4_SetCurrentFrameNum(c.port, 120));
    EXPECT_EQ(4u, PlayM4_GetLastError(c.port));
    ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, 10));
    EXPECT_EQ(10u, PlayM4_GetCurrentFrameNum(c.port));
}

TEST(Playback, SkippingNonReferenceFramesStillReachesTheEnd) {
    EndWindow window;
    OpenClip c("h264.mp4");
    ASSERT_TRUE(PlayM4_SetFileEndMsg(c.port, window.hwnd, kEndMessage));
    ASSERT_TRUE(PlayM4_ThrowBFrameNum(c.port, 2));
    ASSERT_TRUE(PlayM4_Play(c.port, nullptr));
    playFast(c.port);
    ASSERT_TRUE(waitFor([] { return EndWindow::endMessages > 0; }, 20000));
    auto shown = FrameRecorder::instance().take();
    EXPECT_LT(shown.size(), kClipFrames);
    for (size_t i = 1; i < shown.size(); ++i) {
        EXPECT_LT(shown[i - 1].number, shown[i].number);
    }
    // Positioning and stepping still show every frame, skipped kinds included.
    for (DWORD n = 60; n < 64; ++n) {
        ASSERT_TRUE(PlayM4_SetCurrentFrameNum(c.port, n));
        EXPECT_EQ(n, PlayM4_GetCurrentFrameNum(c.port));
    }
    ASSERT_TRUE(PlayM4_OneByOne(c.port));
    EXPECT_EQ(64u, PlayM4_GetCurrentFrameNum(c.port));
}

namespace {
std::atomic<int> inside{0};
std::atomic<bool> withdrawn{false};
std::atomic<int> lateCalls{0};
void CALLBACK slowCallback(LONG, char *, LONG, LONG, LONG, LONG, LONG, LONG) {
    if (withdrawn) {
        ++lateCalls;
    }
    ++inside;
    Sleep(30);
    --inside;
}

// Each way of withdrawing the callback returns only after a running call has returned.
void expectTeardownWaits(const std::function<void(LONG)> &withdraw) {
    withdrawn = false;
    lateCalls = 0;
    LONG port;
    ASSERT_TRUE(PlayM4_GetPort(&port));
    std::string path = media("h264.mp4");
    ASSERT_TRUE(PlayM4_OpenFile(port, &path[0]));
    ASSERT_TRUE(PlayM4_SetDisplayCallBack(port, &slowCallback));
    ASSERT_TRUE(PlayM4_Play(port, nullptr));
    playFast(port);
    ASSERT_TRUE(waitFor([] { return inside.load() > 0; }));
    withdraw(port);
    withdrawn = true;
    EXPECT_EQ(0, inside.load());
    Sleep(200);
    EXPECT_EQ(0, lateCalls.load());
    PlayM4_FreePort(port);
}
} // namespace

TEST(Teardown, NoCallbackRunsAfterWithdrawal) {
    expectTeardownWaits([](LONG port) { EXPECT_TRUE(PlayM4_SetDisplayCallBack(port, nullptr)); });
    expectTeardownWaits([](LONG port) { EXPECT_TRUE(PlayM4_CloseFile(port)); });
    expectTeardownWaits([](LONG port) { EXPECT_TRUE(PlayM4_FreePort(port)); });
}

namespace {
std::atomic<LONG> reentryPort{-1};
std::atomic<int> reentryCalls{0};
std::atomic<DWORD> stepResult{99}, stepCode{0}, frameInside{0};
void CALLBACK reenteringCallback(LONG port, char *, LONG, LONG, LONG, LONG, LONG, LONG number) {
    if (reentryCalls++ != 0) {
        return;
    }
    // Queries work from inside; showing another frame from inside is refused, not deadlocked.
    frameInside = PlayM4_GetCurrentFrameNum(port) == static_cast<DWORD>(number) ? 1 : 0;
    stepResult = PlayM4_OneByOne(port);
    stepCode = PlayM4_GetLastError(port);
    PlayM4_SetDisplayCallBack(port, nullptr);
}
} // namespace

TEST(Teardown, CallbackMayQueryButNotStepItsOwnPort) {
    OpenClip c("h264.mp4", false);
    reentryPort = c.port;
    ASSERT_TRUE(PlayM4_SetDisplayCallBack(c.port, &reenteringCallback));
    ASSERT_TRUE(PlayM4_OneByOne(c.port));
    EXPECT_EQ(1, reentryCalls.load());
    EXPECT_EQ(1u, frameInside.load());
    EXPECT_EQ(static_cast<DWORD>(FALSE), stepResult.load());
    EXPECT_EQ(2u, stepCode.load());
    // The callback withdrew itself; the port still plays.
    ASSERT_TRUE(PlayM4_OneByOne(c.port));
    EXPECT_EQ(1, reentryCalls.load());
    EXPECT_EQ(1u, PlayM4_GetCurrentFrameNum(c.port));
}

TEST(Presentation, FramesArePaintedAcrossTheWindow) {
    EndWindow window;
    RECT client;
    GetClientRect(window.hwnd, &client);
    HDC dc = GetDC(window.hwnd);
    FillRect(dc, &client, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    OpenClip c("h264.mp4", false);
    ASSERT_TRUE(PlayM4_Play(c.port, window.hwnd));
    ASSERT_TRUE(waitFor([&] { return PlayM4_GetCurrentFrameNum(c.port) >= 3; }));
    ASSERT_TRUE(PlayM4_Pause(c.port, 1));
    ASSERT_TRUE(PlayM4_RefreshPlay(c.port));
    // The test pattern's colour bars span the picture: a stretched frame shows several colours
    // along a row near the bottom-left and the bottom-right corners alike.
    std::vector<COLORREF> row;
    for (int x = 2; x < client.right; x += client.right / 16) {
        row.push_back(GetPixel(dc, x, client.bottom * 3 / 4));
    }
    COLORREF corner = GetPixel(dc, client.right - 3, client.bottom - 3);
    ReleaseDC(window.hwnd, dc);
    std::sort(row.begin(), row.end());
    size_t colours = std::unique(row.begin(), row.end()) - row.begin();
    EXPECT_GE(colours, 4u);
    EXPECT_NE(RGB(0, 0, 0), corner);
}
