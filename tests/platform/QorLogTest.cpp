#include "QorLog.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string &path, const std::string &text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string configFor(const char *level, const std::string &logFile) {
    return std::string("log4cplus.rootLogger=") + level +
           ", FILE\n"
           "log4cplus.appender.FILE=log4cplus::FileAppender\n"
           "log4cplus.appender.FILE.File=" +
           logFile +
           "\n"
           "log4cplus.appender.FILE.Append=true\n"
           "log4cplus.appender.FILE.ImmediateFlush=true\n"
           "log4cplus.appender.FILE.layout=log4cplus::PatternLayout\n"
           "log4cplus.appender.FILE.layout.ConversionPattern=%p|%b|%L|%m%n\n";
}

} // namespace

// Order matters here: the default threshold holds only before the first successful Init.
TEST(QorLog, ThresholdIsWarnUntilConfigured) {
    EXPECT_EQ(CQorLog::GetLevel(), CQorLog::WARN_LEVEL);
    EXPECT_EQ(CQorLogManager::Init("no-such-folder/log.properties"), -1);
    EXPECT_EQ(CQorLogManager::Init(nullptr), -1);
    EXPECT_EQ(CQorLog::GetLevel(), CQorLog::WARN_LEVEL);
}

TEST(QorLog, LevelsMatchTheLibraryEnumeration) {
    EXPECT_EQ(CQorLog::TRACE_LEVEL, 0);
    EXPECT_EQ(CQorLog::WARN_LEVEL, 30000);
    EXPECT_EQ(CQorLog::ERROR_LEVEL, 40000);
    EXPECT_EQ(CQorLog::OFF_LEVEL, 60000);
}

TEST(QorLog, ConfigurationSetsThresholdAndWritesEntriesWithFileAndLine) {
    const std::string logFile = "qorlog-test.log";
    DeleteFileA(logFile.c_str());
    writeFile("qorlog-test.properties", configFor("ERROR", logFile));
    ASSERT_EQ(CQorLogManager::Init("qorlog-test.properties"), 0);
    EXPECT_EQ(CQorLog::GetLevel(), CQorLog::ERROR_LEVEL);

    CQorLog::Log(CQorLog::ERROR_LEVEL, "two\nlines", "player/Capture.cpp", 42);
    CQorLog::Log(CQorLog::WARN_LEVEL, "filtered out", "sdk/Wrappers.cpp", 7);
    const std::string text = readFile(logFile);
    // The file appender writes text mode, so the entry's own line feed may come out as CR LF.
    EXPECT_NE(text.find("ERROR|Capture.cpp|42|two"), std::string::npos) << text;
    EXPECT_NE(text.find("lines"), std::string::npos) << text;
    EXPECT_EQ(text.find("filtered out"), std::string::npos) << text;

    // A second Init replaces the configuration instead of adding a second appender.
    writeFile("qorlog-test.properties", configFor("WARN", logFile));
    ASSERT_EQ(CQorLogManager::Init("qorlog-test.properties"), 0);
    EXPECT_EQ(CQorLog::GetLevel(), CQorLog::WARN_LEVEL);
    CQorLog::Log(CQorLog::WARN_LEVEL, "once", "sdk/Wrappers.cpp", 8);
    const std::string after = readFile(logFile);
    EXPECT_EQ(after.find("once"), after.rfind("once")) << after;

    // An unreadable file keeps what was configured.
    EXPECT_EQ(CQorLogManager::Init("missing.properties"), -1);
    EXPECT_EQ(CQorLog::GetLevel(), CQorLog::WARN_LEVEL);
}

TEST(QorLog, NullTextAndFileAreHarmless) {
    CQorLog::Log(CQorLog::FATAL_LEVEL, nullptr, nullptr, 0);
}
