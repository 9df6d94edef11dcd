#include "EngineSupport.h"

using namespace enginetest;

TEST(Ports, AllThirtyTwoAtOnceThenTheNextFails) {
    std::vector<LONG> ports;
    for (int i = 0; i < 32; ++i) {
        LONG port = -7;
        ASSERT_TRUE(PlayM4_GetPort(&port)) << i;
        ports.push_back(port);
    }
    std::vector<LONG> sorted = ports;
    std::sort(sorted.begin(), sorted.end());
    for (LONG i = 0; i < 32; ++i) {
        EXPECT_EQ(i, sorted[i]);
    }

    LONG extra = 5;
    EXPECT_FALSE(PlayM4_GetPort(&extra));
    EXPECT_EQ(-1, extra);

    // The lowest freed port is handed out again.
    ASSERT_TRUE(PlayM4_FreePort(7));
    ASSERT_TRUE(PlayM4_FreePort(3));
    ASSERT_TRUE(PlayM4_GetPort(&extra));
    EXPECT_EQ(3, extra);
    ASSERT_TRUE(PlayM4_GetPort(&extra));
    EXPECT_EQ(7, extra);
    for (LONG port : ports) {
        EXPECT_TRUE(PlayM4_FreePort(port));
    }
}

TEST(Ports, ThirtyTwoOpenClipsPlayTogether) {
    std::vector<LONG> ports(32, -1);
    std::string path = media("h264.mp4");
    for (auto &port : ports) {
        ASSERT_TRUE(PlayM4_GetPort(&port));
        ASSERT_TRUE(PlayM4_OpenFile(port, &path[0])) << port;
    }
    LONG extra;
    EXPECT_FALSE(PlayM4_GetPort(&extra));
    for (LONG port : ports) {
        ASSERT_TRUE(PlayM4_SetCurrentFrameNum(port, static_cast<DWORD>(port) * 4));
    }
    for (LONG port : ports) {
        EXPECT_EQ(static_cast<DWORD>(port) * 4, PlayM4_GetCurrentFrameNum(port));
        EXPECT_EQ(kClipFrames, PlayM4_GetFileTotalFrames(port));
    }
    for (LONG port : ports) {
        EXPECT_TRUE(PlayM4_FreePort(port)); // closes the file too
    }
}

TEST(Errors, InvalidUnallocatedAndUnopenedPortsGiveTheirCodes) {
    // Port -1 is what a host without a port passes (before OpenFile, after CloseFile): every kind
    // of call fails with code 1. StopSound, which takes no port, leaves its outcome there too.
    static char path[] = "missing.mp4";
    static DWORD written;
    static LONG width, height;
    using Call = BOOL (*)();
    const Call withoutPort[] = {
        [] { return PlayM4_Play(-1, nullptr); },
        [] { return PlayM4_OpenFile(-1, path); },
        [] { return PlayM4_FreePort(-1); },
        [] { return PlayM4_GetBMP(-1, nullptr, 0, &written); },
        [] { return PlayM4_GetPictureSize(-1, &width, &height); },
        []() -> BOOL { return PlayM4_GetFileTotalFrames(-1) != 0; },
    };
    for (size_t i = 0; i < std::size(withoutPort); ++i) {
        ASSERT_TRUE(PlayM4_StopSound());
        ASSERT_EQ(0u, PlayM4_GetLastError(-1)) << i;
        EXPECT_FALSE(withoutPort[i]()) << i;
        EXPECT_EQ(1u, PlayM4_GetLastError(-1)) << i;
    }
    EXPECT_FALSE(PlayM4_Stop(32));
    EXPECT_EQ(1u, PlayM4_GetLastError(32));
    EXPECT_FALSE(PlayM4_FreePort(12345));

    EXPECT_FALSE(PlayM4_Play(20, nullptr)); // never handed out
    EXPECT_EQ(2u, PlayM4_GetLastError(20));

    LONG port;
    ASSERT_TRUE(PlayM4_GetPort(&port));
    EXPECT_FALSE(PlayM4_Play(port, nullptr)); // no file yet
    EXPECT_EQ(2u, PlayM4_GetLastError(port));
    EXPECT_FALSE(PlayM4_OneByOne(port));
    EXPECT_FALSE(PlayM4_CloseFile(port));
    EXPECT_EQ(0u, PlayM4_GetFileTotalFrames(port));
    // Settings need no file, and success clears the code.
    EXPECT_TRUE(PlayM4_SetFileEndMsg(port, nullptr, kEndMessage));
    EXPECT_EQ(0u, PlayM4_GetLastError(port));
    EXPECT_FALSE(PlayM4_GetPort(nullptr));
    EXPECT_TRUE(PlayM4_FreePort(port));
    EXPECT_FALSE(PlayM4_FreePort(port));
    EXPECT_EQ(2u, PlayM4_GetLastError(port));
}

TEST(OpenFile, DamagedAndForeignFilesFailWithACode) {
    LONG port;
    ASSERT_TRUE(PlayM4_GetPort(&port));
    struct Case {
        const char *clip;
        DWORD code;
    } cases[] = {
        {"missing.mp4", 7},    {"h?64.mp4", 7}, // a name no file can have, not a damaged file
        {"h*64.mp4", 7},       {"empty.mp4", 17},  {"notmedia.mp4", 17},
        {"truncated.mp4", 17}, {"corrupt.mp4", 17}};
    for (const Case &c : cases) {
        std::string path = media(c.clip);
        EXPECT_FALSE(PlayM4_OpenFile(port, &path[0])) << c.clip;
        EXPECT_EQ(c.code, PlayM4_GetLastError(port)) << c.clip;
        EXPECT_FALSE(PlayM4_Play(port, nullptr)) << c.clip;
    }
    EXPECT_FALSE(PlayM4_OpenFile(port, nullptr));
    EXPECT_EQ(1u, PlayM4_GetLastError(port));
    // The port survives failed opens.
    std::string good = media("h264.mp4");
    EXPECT_TRUE(PlayM4_OpenFile(port, &good[0]));
    EXPECT_EQ(kClipFrames, PlayM4_GetFileTotalFrames(port));
    // Opening again replaces the file.
    std::string other = media("hevc.mkv");
    EXPECT_TRUE(PlayM4_OpenFile(port, &other[0]));
    EXPECT_EQ(kClipFrames, PlayM4_GetFileTotalFrames(port));
    EXPECT_TRUE(PlayM4_FreePort(port));
}

TEST(OpenFile, IndexCallbackCarriesPortAndUserValue) {
    static volatile LONG calls = 0;
    static volatile DWORD seenPort = 99;
    static volatile DWORD_PTR seenUser = 0;
    // On 64-bit a value with its upper half set, which a 32-bit slot on the way would cut.
    const DWORD_PTR user =
        sizeof(DWORD_PTR) == 8 ? static_cast<DWORD_PTR>(0xFEEDC0DE00C0FFEEull) : 0xC0FFEE;
    struct Local {
        static void CALLBACK done(DWORD port, DWORD_PTR user) {
            seenPort = port;
            seenUser = user;
            ++calls;
        }
    };
    LONG port;
    ASSERT_TRUE(PlayM4_GetPort(&port));
    ASSERT_TRUE(PlayM4_SetFileRefCallBack(port, &Local::done, user));
    std::string path = media("hevc_aac.mkv");
    ASSERT_TRUE(PlayM4_OpenFile(port, &path[0]));
    EXPECT_TRUE(waitFor([] { return calls != 0; }));
    EXPECT_EQ(static_cast<DWORD>(port), seenPort);
    EXPECT_EQ(user, seenUser);
    LONG w = 0, h = 0;
    EXPECT_TRUE(PlayM4_GetPictureSize(port, &w, &h));
    EXPECT_EQ(kClipWidth, w);
    EXPECT_EQ(kClipHeight, h);
    EXPECT_EQ(6u, PlayM4_GetFileTime(port));
    EXPECT_TRUE(PlayM4_FreePort(port));
    Sleep(50);
    EXPECT_EQ(1, calls);
}
