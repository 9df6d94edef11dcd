#ifndef KESTRAVA_TESTS_UNIT_PLAYERTESTSUPPORT_H
#define KESTRAVA_TESTS_UNIT_PLAYERTESTSUPPORT_H

#include "TestSupport.h"

#include <memory>

// A fresh player per test, opened on port 5 with window 0x777 where a test needs a file.
class PlayerTest : public DoublesTest {
  protected:
    static constexpr LONG kPort = 5;
    static constexpr LONG kWindow = 0x777;

    void SetUp() override {
        DoublesTest::SetUp();
        player = std::make_unique<TestPlayer>();
    }
    void TearDown() override {
        player.reset();
        DoublesTest::TearDown();
    }

    // Opens a file and forgets the calls that took.
    void open() {
        PlayCtrlDouble_SetNextPort(kPort);
        PlayCtrlDouble_SetResult("PlayM4_GetFileTime", 10);
        ASSERT_EQ(S_OK, player->OpenFile(makeBstr(L"C:\\media\\clip.mp4").get(), kWindow));
        doubles::clearRecords();
    }
    void openAndPlay() {
        open();
        ASSERT_EQ(S_OK, player->Play());
        doubles::clearRecords();
    }

    static std::string call(const std::string &function, const std::string &arguments = "") {
        return function + "(" + arguments + ")";
    }
    static std::string onPort(const std::string &function, const std::string &more = "") {
        return call(function, std::to_string(kPort) + (more.empty() ? "" : "," + more));
    }

    std::unique_ptr<TestPlayer> player;
};

#endif
