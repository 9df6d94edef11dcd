// The closed libraries when their own memory runs out, called from another module: no exception
// crosses into the caller, and each keeps to its contract.
#include "CData.h"
#include "FailingAllocation.h"
#include "QorLog.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

TEST(CDataWithoutMemory, KeepsItsTextAndNeverHandsOutNull) {
    CData text("before");
    CData copy(text);
    {
        FailingAllocations failing;
        text = "after";
        EXPECT_STREQ("before", text.c_str());
        text += " and more";
        EXPECT_STREQ("before", text.c_str());
        copy = text;
        EXPECT_STREQ("before", copy.c_str());
        CData made("new");
        EXPECT_STREQ("", made.c_str());
        CData copied(text);
        EXPECT_STREQ("", copied.c_str());
        copy = ""; // emptying needs no memory
        EXPECT_STREQ("", copy.c_str());
    }
    text += " and more";
    EXPECT_STREQ("before and more", text.c_str());
}

TEST(QorLogWithoutMemory, DropsEntriesAndRefusesConfiguration) {
    std::ofstream("failing.properties") << "log4cplus.rootLogger=ERROR, FILE\n"
                                           "log4cplus.appender.FILE=log4cplus::FileAppender\n"
                                           "log4cplus.appender.FILE.File=failing.log\n";
    {
        FailingAllocations failing;
        CQorLog::Log(CQorLog::FATAL_LEVEL, "dropped", "file.cpp", 1);
        EXPECT_EQ(-1, CQorLogManager::Init("failing.properties"));
        const int level = CQorLog::GetLevel();
        EXPECT_TRUE(level == CQorLog::WARN_LEVEL) << level;
        CQorLog::Log(CQorLog::FATAL_LEVEL, "dropped", "file.cpp", 2);
    }
    // Memory back: the library works as before.
    EXPECT_EQ(0, CQorLogManager::Init("failing.properties"));
    EXPECT_EQ(CQorLog::ERROR_LEVEL, CQorLog::GetLevel());
    CQorLog::Log(CQorLog::FATAL_LEVEL, "kept", "file.cpp", 3);
}
