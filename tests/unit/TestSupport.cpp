#include "TestSupport.h"

void expectSdkCalls(const char *file, int line, const std::vector<std::string> &expected) {
    ::testing::ScopedTrace trace(file, line, "SDK calls");
    EXPECT_THAT(doubles::sdkCallTexts(), ::testing::ElementsAreArray(expected));
}

std::vector<std::string> logTexts() {
    std::vector<std::string> texts;
    for (const DoubleLogEntry &entry : doubles::logEntries()) {
        texts.push_back(entry.text);
    }
    return texts;
}

void expectLog(const char *file, int line,
               const std::vector<std::pair<int, std::string>> &expected) {
    ::testing::ScopedTrace trace(file, line, "log entries");
    std::vector<std::pair<int, std::string>> actual;
    for (const DoubleLogEntry &entry : doubles::logEntries()) {
        actual.emplace_back(entry.level, entry.text);
    }
    EXPECT_THAT(actual, ::testing::ElementsAreArray(expected));
}
