#include "AnalysisRegistry.h"
#include "AnsiText.h"
#include "FailingAllocation.h"
#include "PlayerTestSupport.h"

#include <climits>
#include <cmath>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class Transport : public PlayerTest {};
class Lifecycle : public PlayerTest {};
class OpenClose : public PlayerTest {};

const std::string kW = std::to_string(0x777);

std::string fileRefUser(TestPlayer &player) {
    return std::to_string(reinterpret_cast<LONG_PTR>(static_cast<IBaseFilePlay *>(&player)));
}

std::string systemDirectory() {
    char directory[MAX_PATH];
    UINT length = GetSystemDirectoryA(directory, sizeof directory);
    return std::string(directory, length);
}

// The float nearest percent / 100, found by exact comparison of neighbours.
float nearestFraction(int percent) {
    float best = 0.0f;
    double bestDistance = 1e9;
    for (float f = static_cast<float>(percent / 100.0) * 0.999f; f <= percent / 100.0 * 1.001;
         f = std::nextafter(f, 2.0f)) {
        double distance = std::fabs(static_cast<double>(f) * 100.0 - percent);
        if (distance < bestDistance) {
            bestDistance = distance;
            best = f;
        }
    }
    return best;
}

} // namespace

TEST_F(Lifecycle, ConstructionConfiguresTheLogEveryTime) {
    doubles::clearRecords();
    TestPlayer second;
    EXPECT_THAT(doubles::initPaths(), ElementsAre("log.properties"));
    TestPlayer third;
    EXPECT_THAT(doubles::initPaths(), ElementsAre("log.properties", "log.properties"));
    EXPECT_EQ(0, PlayCtrlDouble_CallCount());
}

TEST_F(Lifecycle, ConstructionSurvivesAnUnloadableConfiguration) {
    doubles::clearRecords();
    QorLogDouble_SetInitResult(-1);
    TestPlayer other;
    EXPECT_THAT(doubles::initPaths(),
                ElementsAre("log.properties", systemDirectory() + "/log.properties"));
    EXPECT_EQ(KestravaCOM::Closed, other.state());
    EXPECT_EQ(-1, other.sdkPort());
    EXPECT_EQ(-1, other.window());
    EXPECT_EQ(0, other.speed());
    EXPECT_EQ("", other.path());
}

// CommonModule.dll beside the doubles can be made to run out of memory.
TEST_F(Lifecycle, ConfigurationPathThatCannotBeBuiltIsNotTried) {
    doubles::clearRecords();
    QorLogDouble_SetInitResult(-1);
    {
        FailingAllocations failing;
        TestPlayer other;
    }
    EXPECT_THAT(doubles::initPaths(), ElementsAre("log.properties"));
}

TEST_F(Lifecycle, NewObjectAnswersWithoutTheSdk) {
    EXPECT_EQ(S_OK, player->CloseFile());
    EXPECT_EQ(S_OK, player->Pause());
    EXPECT_EQ(E_POINTER, player->get_PlayPos(nullptr));
    EXPECT_EQ(E_POINTER, player->get_Volume(nullptr));
    EXPECT_EQ(S_OK, player->Convert(nullptr, nullptr, 3));
    EXPECT_THAT(doubles::sdkCallTexts(), IsEmpty());
    player.reset();
    EXPECT_THAT(doubles::sdkCallTexts(), IsEmpty());
}

TEST_F(Lifecycle, DestroyingAnOpenObjectTearsEverythingDown) {
    openAndPlay();
    player.reset();
    EXPECT_SDK_CALLS({call("PlayM4_StopSound"), onPort("PlayM4_Stop"), onPort("PlayM4_CloseFile"),
                      onPort("PlayM4_SetDisplayCallBack", "0"), onPort("PlayM4_FreePort")});
    EXPECT_EQ(0, PlayCtrlDouble_PortsInUse());
    EXPECT_EQ(0, PlayCtrlDouble_OpenFiles());
}

TEST_F(Lifecycle, DestroyingAfterAFailedOpenLeavesNothingRegistered) {
    static int calls = 0;
    struct Host {
        static void CALLBACK frame(char *, LONG, LONG, LONG, LONG_PTR, LONG) { ++calls; }
    };
    PlayCtrlDouble_SetNextPort(kPort);
    PlayCtrlDouble_SetResult("PlayM4_OpenFile", 0);
    player->SetAnalyzeCallBack(reinterpret_cast<LONG_PTR>(&Host::frame), 1, 2);
    EXPECT_EQ(S_FALSE, player->OpenFile(makeBstr(L"missing.mp4").get(), kWindow));
    AnalysisRegistry *registry = AnalysisRegistry::instance();
    doubles::clearRecords();
    player.reset();
    // Nothing was opened, so nothing is stopped: StopSound would silence another player.
    EXPECT_SDK_CALLS({onPort("PlayM4_SetDisplayCallBack", "0"), onPort("PlayM4_FreePort")});
    EXPECT_EQ(0, PlayCtrlDouble_PortsInUse());
    EXPECT_EQ(0, calls);
    // The destroyed record is gone from the registry: a frame of its port reaches nobody.
    registry->dispatchFrame(kPort, nullptr, 1, 2, 3, 0, 0, 0);
    EXPECT_EQ(0, calls);
}

TEST_F(Lifecycle, DestroyingAfterAFailedCloseStillReleasesEverything) {
    openAndPlay();
    PlayCtrlDouble_SetResult("PlayM4_CloseFile", 0);
    ASSERT_EQ(S_FALSE, player->CloseFile());
    doubles::clearRecords();
    player.reset();
    EXPECT_SDK_CALLS({onPort("PlayM4_CloseFile"), onPort("PlayM4_GetLastError"),
                      onPort("PlayM4_SetDisplayCallBack", "0"), onPort("PlayM4_FreePort")});
    EXPECT_EQ(0, PlayCtrlDouble_PortsInUse());
}

TEST_F(Lifecycle, DestroyingAClosedObjectCallsNothing) {
    open();
    ASSERT_EQ(S_OK, player->CloseFile());
    doubles::clearRecords();
    player.reset();
    EXPECT_THAT(doubles::sdkCallTexts(), IsEmpty());
}

TEST_F(OpenClose, OpenMakesTheSdkCallsInOrder) {
    PlayCtrlDouble_SetNextPort(kPort);
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 60);
    EXPECT_EQ(S_OK, player->OpenFile(makeBstr(L"C:\\media\\clip \xe9t\xe9.mp4").get(), kWindow));
    auto calls = doubles::sdkCalls();
    auto texts = doubles::sdkCallTexts();
    ASSERT_EQ(6u, calls.size());
    EXPECT_EQ("PlayM4_GetPort", std::string(calls[0].function));
    EXPECT_THAT(std::vector<std::string>(texts.begin() + 1, texts.end()),
                ElementsAre(onPort("PlayM4_SetFileEndMsg", kW + ",1057"),
                            onPort("PlayM4_SetFileRefCallBack",
                                   arg(&KestravaCOM::OnFileRefDone) + "," + fileRefUser(*player)),
                            onPort("PlayM4_SetDisplayCallBack", arg(&onDisplayFrame)),
                            onPort("PlayM4_OpenFile", std::to_string(calls[4].args[1])),
                            onPort("PlayM4_GetFileTime")));
    EXPECT_STREQ("C:\\media\\clip \xe9t\xe9.mp4", calls[4].text); // ANSI (Latin-1 under Wine)
    EXPECT_EQ("C:\\media\\clip \xe9t\xe9.mp4", player->path());
    EXPECT_EQ(kPort, player->sdkPort());
    EXPECT_EQ(kWindow, player->window());
    EXPECT_EQ(KestravaCOM::Stopped, player->state());
    EXPECT_THAT(logTexts(), IsEmpty());
}

TEST_F(OpenClose, NameOutsideTheCodePageOpensByItsShortNameOrAsNoFileCanBeNamed) {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string folder(temp);
    const std::wstring name = L"\x4e2d\x6587-" + std::to_wstring(GetCurrentProcessId()) + L".mp4";
    const std::wstring path = std::wstring(folder.begin(), folder.end()) + name;
    if (holdsInAnsi(path.c_str())) {
        GTEST_SKIP() << "the system's code page holds the name";
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);
    std::string converted; // what the object keeps, and what the engine got before
    ASSERT_TRUE(toAnsi(path.c_str(), converted));
    wchar_t shortPath[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameW(path.c_str(), shortPath, MAX_PATH));
    std::string shortened;
    ASSERT_TRUE(toAnsi(shortPath, shortened));
    // Best fit would give "Lodz" with an acute o, another file's name: `?` stands for what the
    // code page lacks instead.
    const std::wstring bestFit = std::wstring(folder.begin(), folder.end()) + L"\x141\xf3"
                                                                              L"d\x17a.mp4";
    const std::string noLookAlike = folder + "?\xf3"
                                             "d?.mp4";
    const struct {
        const char *name;
        std::wstring path;
        std::string engineGets, objectKeeps;
    } cases[] = {
        {"existing file", path, shortened, converted},
        {"no such file: no short name", path + L"x", converted + "x", converted + "x"},
        {"best fit, no such file", bestFit, noLookAlike, noLookAlike},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        doubles::clearRecords();
        EXPECT_EQ(S_OK, player->OpenFile(makeBstr(c.path.c_str()).get(), kWindow));
        auto calls = doubles::sdkCalls();
        ASSERT_EQ(1, PlayCtrlDouble_CountCalls("PlayM4_OpenFile"));
        EXPECT_EQ(c.engineGets, calls[calls.size() - 2].text);
        EXPECT_EQ(c.objectKeeps, player->path());
    }
    EXPECT_EQ(std::string::npos, shortened.find('?'));
    DeleteFileW(path.c_str());
}

TEST_F(OpenClose, OpenAfterPlaybackLeavesTheObjectStoppedSoPlayStartsTheNewFile) {
    ASSERT_EQ(S_OK, player->OpenFile(makeBstr(L"a.mp4").get(), kWindow));
    ASSERT_EQ(S_OK, player->Play());
    ASSERT_EQ(S_OK, player->OpenFile(makeBstr(L"b.mp4").get(), kWindow));
    EXPECT_EQ(KestravaCOM::Stopped, player->state());
    PlayCtrlDouble_ClearCalls();
    EXPECT_EQ(S_OK, player->Play());
    EXPECT_EQ(1, PlayCtrlDouble_CountCalls("PlayM4_Play"));
}

TEST_F(OpenClose, ZeroLengthFileOpensWithAWarning) {
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 0);
    EXPECT_EQ(S_OK, player->OpenFile(makeBstr(L"empty.mp4").get(), kWindow));
    EXPECT_LOG({{30000, "File seconds is zero"}});
    QorLogDouble_ClearEntries();
    QorLogDouble_SetLevel(30001);
    EXPECT_EQ(S_OK, player->OpenFile(makeBstr(L"empty.mp4").get(), kWindow));
    EXPECT_THAT(logTexts(), IsEmpty());
}

TEST_F(OpenClose, FailedOpenKeepsPortAndRegistrationAndEmptiesThePath) {
    PlayCtrlDouble_SetNextPort(kPort);
    PlayCtrlDouble_SetResult("PlayM4_OpenFile", 0);
    PlayCtrlDouble_SetLastError(7);
    EXPECT_EQ(S_FALSE, player->OpenFile(makeBstr(L"missing.mp4").get(), kWindow));
    EXPECT_EQ("", player->path());
    EXPECT_EQ(kPort, player->sdkPort());
    EXPECT_EQ(KestravaCOM::Closed, player->state());
    EXPECT_EQ(0, PlayCtrlDouble_CountCalls("PlayM4_GetFileTime"));
    EXPECT_LOG({{30000, "PlayM4_OpenFile:7\nDescription: File open failed when calling API "
                        "Sdk_PlayM4_OpenFile."}});

    doubles::clearRecords();
    PlayCtrlDouble_SetResult("PlayM4_OpenFile", 1);
    EXPECT_EQ(S_OK, player->OpenFile(makeBstr(L"found.mp4").get(), kWindow));
    EXPECT_EQ(0, PlayCtrlDouble_CountCalls("PlayM4_GetPort"));
    EXPECT_EQ("found.mp4", player->path());
}

TEST_F(OpenClose, PathThatCannotBeStoredOpensNothing) {
    open();
    {
        FailingAllocations failing;
        EXPECT_EQ(S_FALSE, player->OpenFile(makeBstr(L"C:\\media\\other.mp4").get(), kWindow));
    }
    EXPECT_EQ(0, PlayCtrlDouble_CountCalls("PlayM4_OpenFile"));
    EXPECT_EQ("", player->path());
    EXPECT_EQ(S_OK, player->CloseFile());
}

TEST_F(OpenClose, NullPathOpensTheEmptyPath) {
    PlayCtrlDouble_SetResult("PlayM4_OpenFile", 0);
    EXPECT_EQ(S_FALSE, player->OpenFile(nullptr, kWindow));
    auto calls = doubles::sdkCalls();
    ASSERT_EQ(1, PlayCtrlDouble_CountCalls("PlayM4_OpenFile"));
    EXPECT_STREQ("", calls[4].text);
    EXPECT_EQ("", player->path());
}

TEST_F(OpenClose, WithoutAPortEveryCallUsesMinusOne) {
    PlayCtrlDouble_SetResult("PlayM4_GetPort", 0);
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 3);
    EXPECT_EQ(S_OK, player->OpenFile(makeBstr(L"a.mp4").get(), 9));
    auto calls = doubles::sdkCalls();
    ASSERT_EQ(6u, calls.size());
    for (size_t i = 1; i < calls.size(); ++i) {
        EXPECT_EQ(-1, calls[i].args[0]) << calls[i].function;
    }
    EXPECT_LOG({{30000, "PlayM4_GetPort ERROR:"}});
}

TEST_F(OpenClose, CloseAfterAnOpenThatNeverPlayedReleasesTheFile) {
    open();
    EXPECT_EQ(S_OK, player->CloseFile());
    EXPECT_SDK_CALLS({onPort("PlayM4_CloseFile"), onPort("PlayM4_SetDisplayCallBack", "0"),
                      onPort("PlayM4_FreePort")});
    EXPECT_EQ(-1, player->sdkPort());
    EXPECT_EQ(KestravaCOM::Closed, player->state());
    EXPECT_EQ("C:\\media\\clip.mp4", player->path()); // kept, as the window is
    EXPECT_EQ(kWindow, player->window());
}

TEST_F(OpenClose, CloseWhilePlayingStopsClosesWithdrawsAndFrees) {
    openAndPlay();
    EXPECT_EQ(S_OK, player->CloseFile());
    EXPECT_SDK_CALLS({call("PlayM4_StopSound"), onPort("PlayM4_Stop"), onPort("PlayM4_CloseFile"),
                      onPort("PlayM4_SetDisplayCallBack", "0"), onPort("PlayM4_FreePort")});
    EXPECT_EQ(-1, player->sdkPort());
    EXPECT_EQ(KestravaCOM::Closed, player->state());
    doubles::clearRecords();
    EXPECT_EQ(S_OK, player->CloseFile());
    EXPECT_THAT(doubles::sdkCallTexts(), IsEmpty());
}

TEST_F(OpenClose, FailedCloseKeepsFilePortAndRegistration) {
    openAndPlay();
    PlayCtrlDouble_SetResult("PlayM4_CloseFile", 0);
    EXPECT_EQ(S_FALSE, player->CloseFile());
    EXPECT_EQ(KestravaCOM::Stopped, player->state());
    EXPECT_EQ(kPort, player->sdkPort());
    EXPECT_EQ(0, PlayCtrlDouble_CountCalls("PlayM4_SetDisplayCallBack"));
    EXPECT_EQ(0, PlayCtrlDouble_CountCalls("PlayM4_FreePort"));

    doubles::clearRecords();
    PlayCtrlDouble_SetResult("PlayM4_CloseFile", 1);
    EXPECT_EQ(S_OK, player->CloseFile()); // from Stopped straight to the close
    EXPECT_SDK_CALLS({onPort("PlayM4_CloseFile"), onPort("PlayM4_SetDisplayCallBack", "0"),
                      onPort("PlayM4_FreePort")});
}

TEST_F(Transport, PlayFromStoppedStartsPlaybackInOrder) {
    open();
    EXPECT_EQ(S_OK, player->Play());
    EXPECT_SDK_CALLS({onPort("PlayM4_ThrowBFrameNum", "0"), onPort("PlayM4_Play", kW),
                      onPort("PlayM4_RefreshPlay"), onPort("PlayM4_PlaySound")});
    EXPECT_EQ(KestravaCOM::Playing, player->state());
    doubles::clearRecords();
    EXPECT_EQ(S_OK, player->Play());
    EXPECT_THAT(doubles::sdkCallTexts(), IsEmpty());
}

TEST_F(Transport, FailedPlayKeepsTheState) {
    open();
    PlayCtrlDouble_SetResult("PlayM4_Play", 0);
    EXPECT_EQ(S_FALSE, player->Play());
    EXPECT_SDK_CALLS({onPort("PlayM4_ThrowBFrameNum", "0"), onPort("PlayM4_Play", kW),
                      onPort("PlayM4_GetLastError")});
    EXPECT_EQ(KestravaCOM::Stopped, player->state());
}

TEST_F(Transport, PlayFromPausedOnlyResumes) {
    openAndPlay();
    ASSERT_EQ(S_OK, player->Fast());
    ASSERT_EQ(S_OK, player->Pause());
    doubles::clearRecords();
    PlayCtrlDouble_SetResult("PlayM4_Pause", 0);
    EXPECT_EQ(S_OK, player->Play());
    EXPECT_SDK_CALLS({onPort("PlayM4_Pause", "0"), onPort("PlayM4_GetLastError")});
    EXPECT_EQ(KestravaCOM::Playing, player->state());
    EXPECT_EQ(1, player->speed());
}

TEST_F(Transport, PlayFromSteppingRestartsAndResetsSpeedEvenWhenRefused) {
    openAndPlay();
    ASSERT_EQ(S_OK, player->Fast());
    ASSERT_EQ(S_OK, player->StepForward());
    doubles::clearRecords();
    PlayCtrlDouble_SetResult("PlayM4_Play", 0);
    EXPECT_EQ(S_OK, player->Play());
    EXPECT_SDK_CALLS({onPort("PlayM4_Play", kW), onPort("PlayM4_GetLastError")});
    EXPECT_EQ(KestravaCOM::Playing, player->state());
    EXPECT_EQ(0, player->speed());
}

TEST_F(Transport, PlayOnANewObjectUsesNoPortAndNoWindow) {
    EXPECT_EQ(S_OK, player->Play());
    EXPECT_SDK_CALLS({"PlayM4_ThrowBFrameNum(-1,0)", "PlayM4_Play(-1,-1)", "PlayM4_RefreshPlay(-1)",
                      "PlayM4_PlaySound(-1)"});
}

TEST_F(Transport, PauseOnlyFromPlaying) {
    open();
    EXPECT_EQ(S_OK, player->Pause());
    EXPECT_THAT(doubles::sdkCallTexts(), IsEmpty());
    ASSERT_EQ(S_OK, player->Play());
    doubles::clearRecords();
    PlayCtrlDouble_SetResult("PlayM4_Pause", 0);
    EXPECT_EQ(S_FALSE, player->Pause());
    EXPECT_EQ(KestravaCOM::Playing, player->state());
    PlayCtrlDouble_SetResult("PlayM4_Pause", 1);
    EXPECT_EQ(S_OK, player->Pause());
    EXPECT_EQ(KestravaCOM::Paused, player->state());
    EXPECT_EQ(2, PlayCtrlDouble_CountCalls("PlayM4_Pause"));
}

TEST_F(Transport, StopFromClosedCallsTheSdkAndStopTwiceDoesNot) {
    EXPECT_EQ(S_OK, player->Stop());
    EXPECT_SDK_CALLS({"PlayM4_StopSound()", "PlayM4_Stop(-1)"});
    EXPECT_EQ(KestravaCOM::Stopped, player->state());
    doubles::clearRecords();
    EXPECT_EQ(S_OK, player->Stop());
    EXPECT_THAT(doubles::sdkCallTexts(), IsEmpty());
}

TEST_F(Transport, RefusedStopKeepsPlaying) {
    openAndPlay();
    PlayCtrlDouble_SetResult("PlayM4_StopSound", 0);
    PlayCtrlDouble_SetResult("PlayM4_Stop", 0);
    EXPECT_EQ(S_FALSE, player->Stop());
    EXPECT_EQ(KestravaCOM::Playing, player->state());
    EXPECT_LOG(
        {{30000, "PlayM4_StopSound:"}, {30000, "Sdk_PlayM4_Stop:0\nDescription: No error."}});
}

TEST_F(Transport, FastAndSlowCountLevelsAndSwitchBFrameDropping) {
    openAndPlay();
    const struct {
        bool fast;
        LONG level;
        std::vector<std::string> calls;
    } steps[] = {
        {true, 1, {onPort("PlayM4_Fast"), onPort("PlayM4_ThrowBFrameNum", "2")}},
        {true, 2, {onPort("PlayM4_Fast"), onPort("PlayM4_ThrowBFrameNum", "2")}},
        {false, 1, {onPort("PlayM4_Slow")}},
        {false, 0, {onPort("PlayM4_Slow"), onPort("PlayM4_ThrowBFrameNum", "0")}},
        {false, -1, {onPort("PlayM4_Slow"), onPort("PlayM4_ThrowBFrameNum", "0")}},
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.level);
        doubles::clearRecords();
        EXPECT_EQ(S_OK, step.fast ? player->Fast() : player->Slow());
        EXPECT_EQ(step.level, player->speed());
        EXPECT_SDK_CALLS(step.calls);
    }
    EXPECT_EQ(KestravaCOM::Playing, player->state());
}

TEST_F(Transport, RefusedSpeedStepChangesNothing) {
    openAndPlay();
    PlayCtrlDouble_SetResult("PlayM4_Fast", 0);
    PlayCtrlDouble_SetResult("PlayM4_Slow", 0);
    EXPECT_EQ(S_FALSE, player->Fast());
    EXPECT_EQ(S_FALSE, player->Slow());
    EXPECT_EQ(0, player->speed());
    EXPECT_EQ(0, PlayCtrlDouble_CountCalls("PlayM4_ThrowBFrameNum"));
}

TEST_F(Transport, PercentagesOutsideOneToHundredAreRefusedSilently) {
    open();
    for (int bad : {0, 101, -5, INT_MIN, INT_MAX}) {
        EXPECT_EQ(S_FALSE, player->SetPlayPos(bad)) << bad;
        EXPECT_EQ(S_FALSE, player->SetVolume(bad)) << bad;
    }
    EXPECT_THAT(doubles::sdkCallTexts(), IsEmpty());
    EXPECT_THAT(logTexts(), IsEmpty());
    EXPECT_EQ(0, QorLogDouble_GetLevelCount());
}

TEST_F(Transport, SetPlayPosHandsTheNearestFloat) {
    open();
    for (int percent = 1; percent <= 100; ++percent) {
        doubles::clearRecords();
        ASSERT_EQ(S_OK, player->SetPlayPos(percent));
        auto calls = doubles::sdkCalls();
        ASSERT_EQ(1u, calls.size());
        EXPECT_EQ(kPort, calls[0].args[0]);
        EXPECT_EQ(nearestFraction(percent), calls[0].real) << percent;
    }
    EXPECT_EQ(1.0f, nearestFraction(100));
    PlayCtrlDouble_SetResult("PlayM4_SetPlayPos", 0);
    EXPECT_EQ(S_FALSE, player->SetPlayPos(50));
}

TEST_F(Transport, VolumeScalesMeetOneBelow) {
    open();
    for (int percent : {1, 50, 100}) {
        doubles::clearRecords();
        ASSERT_EQ(S_OK, player->SetVolume(percent));
        EXPECT_SDK_CALLS({onPort("PlayM4_SetVolume", std::to_string(percent * 655))});
        PlayCtrlDouble_SetResult("PlayM4_GetVolume", percent * 655);
        LONG reported = -7;
        EXPECT_EQ(S_OK, player->get_Volume(&reported));
        EXPECT_EQ(percent - 1, reported);
    }
    PlayCtrlDouble_SetResult("PlayM4_GetVolume", 65535);
    LONG full = 0;
    EXPECT_EQ(S_OK, player->get_Volume(&full));
    EXPECT_EQ(100, full);
    PlayCtrlDouble_SetResult("PlayM4_SetVolume", 0);
    EXPECT_EQ(S_FALSE, player->SetVolume(10));
}

TEST_F(Transport, PlayPosTruncatesTheSdkFraction) {
    open();
    const struct {
        float position;
        LONG percent;
    } cases[] = {{0.5f, 50},    {nearestFraction(29), 28}, {1.0f, 100},       {0.0f, 0},
                 {-0.016f, -1}, {3e9f, LONG_MAX},          {-3e9f, LONG_MIN}, {NAN, 0}};
    for (const auto &c : cases) {
        PlayCtrlDouble_SetPlayPos(c.position);
        LONG percent = 12345;
        EXPECT_EQ(S_OK, player->get_PlayPos(&percent));
        EXPECT_EQ(c.percent, percent) << c.position;
    }
}

TEST_F(OpenClose, PortObtainedLaterReachesTheRegisteredSubscriber) {
    static int frames = 0;
    struct Host {
        static void CALLBACK frame(char *, LONG, LONG, LONG, LONG_PTR, LONG) { ++frames; }
    };
    player->SetAnalyzeCallBack(reinterpret_cast<LONG_PTR>(&Host::frame), 0, 0);
    PlayCtrlDouble_SetResult("PlayM4_GetPort", 0);
    PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 3);
    ASSERT_EQ(S_OK, player->OpenFile(makeBstr(L"a.mp4").get(), 1));
    EXPECT_EQ(-1, player->sdkPort());

    PlayCtrlDouble_SetResult("PlayM4_GetPort", 1);
    PlayCtrlDouble_SetNextPort(kPort);
    ASSERT_EQ(S_OK, player->OpenFile(makeBstr(L"a.mp4").get(), 1));
    EXPECT_EQ(kPort, player->sdkPort());
    EXPECT_EQ(1, PlayCtrlDouble_FireDisplay(kPort, nullptr, 1, 1, 1));
    EXPECT_EQ(1, frames);
}
