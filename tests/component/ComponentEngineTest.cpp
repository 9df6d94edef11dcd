// The component on the real engine: snapshots of any size, host functions that drive player
// objects from inside the engine's display callback, and Kestrava.DLL playing file after file
// as a host uses it.
#include "AnalysisRegistry.h"
#include "AnsiText.h"
#include "ComTestSupport.h"
#include "DetachedPlayer.h"
#include "EngineSupport.h"
#include "Harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string media(const std::string &name) {
    return harness::media("KESTRAVA_COMPONENT_MEDIA", name);
}

// A path as the component takes it.
kestrava::Bstr path(const std::string &text) {
    return kestrava::makeBstr(std::wstring(text.begin(), text.end()).c_str());
}

// Twenty seconds unless the caller says otherwise.
bool waitFor(const std::function<bool()> &done, DWORD ms = 20000) {
    return harness::waitFor(done, ms, 5);
}

LONGLONG fileSize(const std::string &path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

LONG_PTR address(AnalysisCallback callback) {
    return reinterpret_cast<LONG_PTR>(callback);
}

// While one lives, the component's log goes to a file of its own (players configure it from the
// current folder's log.properties as they are made): the messages alone, one per line.
class LogToFile {
  public:
    LogToFile() : path_(media("component.log")) {
        DeleteFileA(path_.c_str());
        std::string forward = path_;
        std::replace(forward.begin(), forward.end(), '\\', '/');
        std::ofstream("log.properties")
            << "log4cplus.rootLogger=WARN, FILE\n"
               "log4cplus.appender.FILE=log4cplus::FileAppender\n"
               "log4cplus.appender.FILE.File="
            << forward
            << "\n"
               "log4cplus.appender.FILE.layout=log4cplus::PatternLayout\n"
               "log4cplus.appender.FILE.layout.ConversionPattern=%m%n\n";
    }
    ~LogToFile() { DeleteFileA("log.properties"); }
    LogToFile(const LogToFile &) = delete;
    LogToFile &operator=(const LogToFile &) = delete;
    // The lines that report a failed engine call.
    std::vector<std::string> engineFailures() const { return lines("PlayM4_"); }
    // The lines that hold `text`.
    std::vector<std::string> lines(const std::string &text) const {
        std::ifstream in(path_);
        std::vector<std::string> found;
        for (std::string line; std::getline(in, line);) {
            if (line.find(text) != std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }

  private:
    std::string path_;
};

} // namespace

// The pictures stay in the media folder; check-snapshots.sh compares them with the clips. Those
// larger than the first buffer leave no refusal in the log.
TEST(Snapshot, PicturesOfAnySizeAreSavedWhole) {
    LogToFile log;
    const struct {
        const char *name;
        LONG width, height;
    } clips[] = {{"hd", 1920, 1080}, {"uhd", 3840, 2160}};
    for (const auto &clip : clips) {
        SCOPED_TRACE(clip.name);
        const std::string stem = media(clip.name);
        TestPlayer player;
        ASSERT_EQ(S_OK, player.OpenFile(path(stem + ".mp4").get(), 0));
        ASSERT_EQ(S_OK, player.StepForward());
        LONG width = 0, height = 0;
        ASSERT_EQ(S_OK, player.get_PictureSize(&width, &height));
        EXPECT_EQ(clip.width, width);
        EXPECT_EQ(clip.height, height);
        EXPECT_EQ(S_OK, player.GetPicture(2, path(stem + "-snapshot.bmp").get()));
        EXPECT_EQ(54 + 3LL * width * height, fileSize(stem + "-snapshot.bmp"));
        EXPECT_EQ(S_OK, player.GetPicture(1, path(stem + "-snapshot.jpg").get()));
        EXPECT_GT(fileSize(stem + "-snapshot.jpg"), 0);
        EXPECT_EQ(S_OK, player.CloseFile());
    }
    // The one JPEG that did not fit the first buffer.
    EXPECT_GT(fileSize(media("uhd-snapshot.jpg")), 2027520);
    EXPECT_EQ(std::vector<std::string>(), log.engineFailures());
}

// size_change.ts: frames 0 to 49 at 320x240, then 640x360.
TEST(FileInfo, PictureSizeIsThatOfThePictureShown) {
    TestPlayer player;
    ASSERT_EQ(S_OK, player.OpenFile(path(media("size_change.ts")).get(), 0));
    auto expectSize = [&](LONG frame) {
        SCOPED_TRACE(frame);
        LONG shown = -1, width = 0, height = 0;
        ASSERT_EQ(S_OK, player.get_PlayedFrame(&shown));
        EXPECT_EQ(frame, shown);
        ASSERT_EQ(S_OK, player.get_PictureSize(&width, &height));
        EXPECT_EQ(frame < 50 ? 320 : 640, width);
        EXPECT_EQ(frame < 50 ? 240 : 360, height);
    };
    for (LONG frame : {75, 10, 49}) {
        ASSERT_EQ(S_OK, player.SetCurPlayFrame(frame));
        expectSize(frame);
    }
    ASSERT_EQ(S_OK, player.StepForward());
    expectSize(50);
    ASSERT_EQ(S_OK, player.StepBackward());
    expectSize(49);
    EXPECT_EQ(S_OK, player.CloseFile());
}

namespace {

std::wstring wide(const std::string &text) {
    return std::wstring(text.begin(), text.end());
}

std::vector<BYTE> bytesOf(const std::wstring &path) {
    std::vector<BYTE> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        bytes.resize(GetFileSize(file, nullptr));
        DWORD read = 0;
        ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr);
        bytes.resize(read);
        CloseHandle(file);
    }
    return bytes;
}

} // namespace

// A Western code page cannot hold these names. The engine gets the short (8.3) name of one that
// exists; a name that best fit would spell as another file's (Lodz for the Polish city) is never
// swapped for it: the engine gets `?` where the code page fails, and a snapshot is written under
// the host's own name.
TEST(Snapshot, NamesOutsideTheCodePageOpenAndSaveAndNeverSwapForALookAlike) {
    LogToFile log;
    const std::string folder = media("");
    const std::wstring base = wide(folder);
    const std::wstring chinese = L"\x4e2d\x6587", city = L"\x141\xf3"
                                                         L"d\x17a"; // Łódź
    if (holdsInAnsi(chinese.c_str()) || holdsInAnsi(city.c_str())) {
        GTEST_SKIP() << "the system's code page holds the names";
    }
    const std::wstring clip = base + chinese + L".mp4", shots = base + chinese;
    const std::string source = media("clip.mp4");
    ASSERT_TRUE(CopyFileW(wide(source).c_str(), clip.c_str(), FALSE));
    ASSERT_TRUE(CreateDirectoryW(shots.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    // The look-alikes: what best fit makes of the city's name, a playable clip and a picture.
    const std::string lookAlikeClip = media("L\xf3"
                                            "dz.mp4"),
                      lookAlikeShot = media("snap_z.bmp");
    ASSERT_TRUE(CopyFileA(source.c_str(), lookAlikeClip.c_str(), FALSE));
    std::ofstream(lookAlikeShot, std::ios::binary) << "another file";

    TestPlayer player;
    EXPECT_EQ(S_FALSE,
              player.OpenFile(kestrava::makeBstr((base + city + L".mp4").c_str()).get(), 0));
    EXPECT_EQ((std::vector<std::string>{"PlayM4_OpenFile:7",
                                        "Description: File open failed when calling API "
                                        "Sdk_PlayM4_OpenFile."}),
              log.engineFailures());
    EXPECT_EQ("", player.path());
    ASSERT_EQ(S_OK, player.OpenFile(kestrava::makeBstr(clip.c_str()).get(), 0));
    ASSERT_EQ(S_OK, player.StepForward());
    const struct {
        const char *name;
        std::wstring path;
        bool saved;
    } shotCases[] = {
        {"Chinese folder", shots + L"\\shot.bmp", true},
        {"Chinese name", shots + L"\\" + chinese + L".bmp", true},
        {"best fit beside its look-alike", base + L"snap_\x17a.bmp", true},
        {"best fit, no such folder", base + city + L"\\shot.bmp", false},
    };
    for (const auto &c : shotCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.saved ? S_OK : S_FALSE,
                  player.GetPicture(2, kestrava::makeBstr(c.path.c_str()).get()));
        EXPECT_EQ(c.saved ? 54u + 3u * 320u * 240u : 0u, bytesOf(c.path).size());
    }
    EXPECT_EQ(std::vector<std::string>{"Could not open file." + folder +
                                       "?\xf3"
                                       "d?\\shot.bmp"},
              log.lines("Could not open file."));
    EXPECT_EQ(S_OK, player.CloseFile());
    const std::vector<BYTE> kept = bytesOf(wide(lookAlikeShot));
    EXPECT_EQ("another file", std::string(kept.begin(), kept.end()));
    EXPECT_EQ(fileSize(source), fileSize(lookAlikeClip));
    for (const auto &c : shotCases) {
        DeleteFileW(c.path.c_str());
    }
    RemoveDirectoryW(shots.c_str());
    DeleteFileW(clip.c_str());
    DeleteFileA(lookAlikeClip.c_str());
    DeleteFileA(lookAlikeShot.c_str());
}

namespace {

// Host functions that drive player objects from inside the engine's display callback: their
// own, or another one that is playing too.

struct Reentry {
    const char *name;
    bool onOwn;
    bool endsDelivery; // the target's host function is called no more once the call returned
    void (*act)(TestPlayer *&target);
    bool whileOtherWaits = false; // acts once the other player's frame waits for its turn
};

TestPlayer *players[2];
const Reentry *reentry = nullptr;
std::atomic<bool> started{false}, acted{false}, otherWaited{false};
std::atomic<int> calls[2], callsAfterAct[2];

void CALLBACK reenteringHost(char *, LONG, LONG, LONG, LONG_PTR userData, LONG) {
    ++calls[userData];
    if (acted) {
        ++callsAfterAct[userData];
    } else if (userData == 0 && started) {
        // This frame holds the turn: the other's, once inside, waits for it.
        for (int i = 0; reentry->whileOtherWaits && !otherWaited && i < 10000; ++i) {
            otherWaited = AnalysisRegistry::framesInFlight() >= 2;
            Sleep(1);
        }
        reentry->act(players[reentry->onOwn ? 0 : 1]);
        acted = true;
    }
}

void closeFile(TestPlayer *&p) {
    p->CloseFile();
}
void openFile(TestPlayer *&p) {
    p->OpenFile(path(media("clip.mp4")).get(), 0);
}
void stopCallbacks(TestPlayer *&p) {
    EXPECT_EQ(S_OK, p->SetAnalyzeCallBack(0, 0, 0));
}
void readEverything(TestPlayer *&p) {
    LONG value = 0, width = 0, height = 0;
    p->get_PlayPos(&value);
    p->get_Volume(&value);
    p->get_TotalTime(&value);
    p->get_PlayedTime(&value);
    p->get_TotalFrame(&value);
    p->get_PlayedFrame(&value);
    p->get_PlayedTimeEx(&value);
    p->get_PictureSize(&width, &height);
}
void releaseLast(TestPlayer *&p) {
    delete p;
    p = nullptr;
}

const Reentry reentries[] = {
    {"CloseFile own", true, true, closeFile},
    {"CloseFile other", false, true, closeFile},
    {"OpenFile own", true, false, openFile},
    {"OpenFile other", false, false, openFile},
    {"SetAnalyzeCallBack own", true, true, stopCallbacks},
    {"SetAnalyzeCallBack other", false, true, stopCallbacks},
    {"getters own", true, false, readEverything},
    {"getters other", false, false, readEverything},
    {"last release own", true, true, releaseLast},
    {"last release other", false, true, releaseLast},
    {"CloseFile other while its frame waits", false, true, closeFile, true},
    {"last release other while its frame waits", false, true, releaseLast, true},
};

} // namespace

TEST(Reentry, HostFunctionMayDriveAnyPlayerFromInside) {
    for (const Reentry &c : reentries) {
        SCOPED_TRACE(c.name);
        reentry = &c;
        started = acted = otherWaited = false;
        for (int i = 0; i < 2; ++i) {
            calls[i] = callsAfterAct[i] = 0;
            players[i] = new TestPlayer;
            ASSERT_EQ(S_OK, players[i]->OpenFile(path(media("clip.mp4")).get(), 0));
            players[i]->SetAnalyzeCallBack(address(&reenteringHost), i, 0);
        }
        for (TestPlayer *p : players) {
            ASSERT_EQ(S_OK, p->Play());
        }
        started = true; // from here on only the host function calls the players
        ASSERT_TRUE(waitFor([] { return acted.load(); }));
        // Both ports play on: what reaches the host functions now shows what the call did.
        const int target = c.onOwn ? 0 : 1;
        waitFor([&] { return callsAfterAct[1 - target] >= 10; }, 5000);
        EXPECT_GE(callsAfterAct[1 - target].load(), 10);
        if (c.endsDelivery) {
            EXPECT_EQ(0, callsAfterAct[target].load());
        }
        EXPECT_EQ(c.whileOtherWaits, otherWaited.load());
        for (TestPlayer *&p : players) {
            delete p;
            p = nullptr;
        }
    }
}

namespace {

// The analysis function releases the host's last reference to its own object.
std::atomic<IBaseFilePlay *> releasedInside{nullptr};
void CALLBACK releasingHost(char *, LONG, LONG, LONG, LONG_PTR, LONG) {
    if (IBaseFilePlay *player = releasedInside.exchange(nullptr)) {
        player->Release();
    }
}

} // namespace

TEST(Reentry, LastReleaseInsideTheAnalysisFunctionLetsTheModuleGo) {
    comtest::Server server; // Kestrava.DLL beside this test, on the real engine
    ASSERT_TRUE(server.loaded());
    IBaseFilePlay *player = nullptr;
    ASSERT_EQ(S_OK, server.factory()->CreateInstance(nullptr, IID_IBaseFilePlay,
                                                     reinterpret_cast<void **>(&player)));
    IExtendHalvet *extension = nullptr;
    ASSERT_EQ(S_OK,
              player->QueryInterface(IID_IExtendHalvet, reinterpret_cast<void **>(&extension)));
    ASSERT_EQ(S_OK, player->OpenFile(path(media("clip.mp4")).get(), 0));
    ASSERT_EQ(S_OK, extension->SetAnalyzeCallBack(address(&releasingHost), 0, 0));
    extension->Release();
    releasedInside = player;
    ASSERT_EQ(S_OK, player->Play());
    ASSERT_TRUE(waitFor([] { return releasedInside.load() == nullptr; }));
    EXPECT_TRUE(waitFor([&] { return server.canUnloadNow() == S_OK; }));
}

namespace {

// A slow analysis function shared by several players, as a host with one analysis context has.
std::atomic<int> inside{0}, overlaps{0}, hostCalls{0}, callsOf[4];
void CALLBACK slowHost(char *, LONG, LONG, LONG, LONG_PTR userData, LONG) {
    overlaps += ++inside > 1;
    Sleep(3);
    ++callsOf[userData];
    ++hostCalls;
    --inside;
}

} // namespace

TEST(AnalysisFunctions, RunOneAtATimeWhateverTheirPlayer) {
    for (int count : {2, 4}) {
        SCOPED_TRACE(count);
        inside = overlaps = hostCalls = 0;
        std::vector<std::unique_ptr<TestPlayer>> playing;
        for (int i = 0; i < count; ++i) {
            callsOf[i] = 0;
            playing.push_back(std::make_unique<TestPlayer>());
            ASSERT_EQ(S_OK, playing.back()->OpenFile(path(media("fast.mp4")).get(), 0));
            playing.back()->SetAnalyzeCallBack(address(&slowHost), i, 0);
        }
        for (auto &p : playing) {
            ASSERT_EQ(S_OK, p->Play());
        }
        EXPECT_TRUE(waitFor([] { return hostCalls >= 500; }, 60000)) << hostCalls.load();
        playing.clear();
        EXPECT_EQ(0, overlaps.load());
        for (int i = 0; i < count; ++i) {
            EXPECT_GT(callsOf[i].load(), 0) << "player " << i; // each had its turns
        }
    }
}

namespace {
std::atomic<int> analysed{0};
void __stdcall analyse(char *, LONG, LONG, LONG, LONG_PTR, LONG) {
    ++analysed;
}
} // namespace

// On the engine tests' clips, whose end message the engine tests' window counts.
TEST(Component, OneObjectPlaysTenFilesToTheEndInARow) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    {
        HMODULE component = LoadLibraryA("Kestrava.DLL");
        ASSERT_NE(nullptr, component);
        auto getClassObject = reinterpret_cast<HRESULT(WINAPI *)(REFCLSID, REFIID, void **)>(
            reinterpret_cast<void (*)()>(GetProcAddress(component, "DllGetClassObject")));
        ASSERT_NE(nullptr, getClassObject);
        comtest::ComPtr<IClassFactory> factory;
        ASSERT_EQ(S_OK, getClassObject(CLSID_KestravaCOM, IID_IClassFactory, factory.outVoid()));
        comtest::ComPtr<IBaseFilePlay> player;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IBaseFilePlay, player.outVoid()));
        comtest::ComPtr<IExtendHalvet> extension;
        ASSERT_EQ(S_OK, player->QueryInterface(IID_IExtendHalvet, extension.outVoid()));
        extension->SetAnalyzeCallBack(reinterpret_cast<LONG_PTR>(&analyse), 0, 0);
        enginetest::EndWindow window;
        const char *const clips[] = {"h264.mp4", "hevc_aac.mkv"};
        for (int i = 0; i < 10; ++i) {
            SCOPED_TRACE(i);
            HRESULT opened =
                player->OpenFile(path(enginetest::media(clips[i % 2])).get(),
                                 static_cast<LONG>(reinterpret_cast<LONG_PTR>(window.hwnd)));
            ASSERT_EQ(S_OK, opened);
            enginetest::EndWindow::endMessages = 0;
            analysed = 0;
            ASSERT_EQ(S_OK, player->Play());
            for (int f = 0; f < 4; ++f) {
                ASSERT_EQ(S_OK, player->Fast());
            }
            ASSERT_TRUE(
                enginetest::waitFor([] { return enginetest::EndWindow::endMessages > 0; }, 20000));
            EXPECT_GT(analysed.load(), 0);
        }
        EXPECT_EQ(S_OK, player->CloseFile());
    }
    CoUninitialize();
}
