#include "AllocationCounter.h"
#include "LogConfiguration.h"
#include "LogStatement.h"
#include "TestSupport.h"

#include <climits>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class Log : public DoublesTest {};

std::string systemDirectory() {
    char directory[MAX_PATH];
    UINT length = GetSystemDirectoryA(directory, sizeof directory);
    return std::string(directory, length);
}

void logBothLevels() {
    LOG_STATEMENT(CQorLog::WARN_LEVEL, "warning");
    LOG_STATEMENT(CQorLog::ERROR_LEVEL, "error");
}

} // namespace

TEST_F(Log, ThresholdDecidesWhichLevelsAreWritten) {
    const struct {
        int threshold;
        std::vector<std::string> written;
    } cases[] = {{0, {"warning", "error"}},
                 {30000, {"warning", "error"}},
                 {30001, {"error"}},
                 {40000, {"error"}},
                 {40001, {}},
                 {60000, {}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.threshold);
        QorLogDouble_ClearEntries();
        QorLogDouble_SetLevel(c.threshold);
        logBothLevels();
        EXPECT_EQ(c.written, logTexts());
    }
}

TEST_F(Log, PiecesAreJoinedInOrderWithNothingBetween) {
    const LONG negative = -42;
    const DWORD systemError = 4294967295u;
    const int line = __LINE__ + 1;
    LOG_STATEMENT(CQorLog::ERROR_LEVEL, "a: ", negative, " b: ", systemError, "", 7, "end");
    auto entries = doubles::logEntries();
    ASSERT_EQ(1u, entries.size());
    EXPECT_STREQ("a: -42 b: 42949672957end", entries[0].text);
    EXPECT_EQ(40000, entries[0].level);
    EXPECT_STREQ(__FILE__, entries[0].file);
    EXPECT_EQ(line, entries[0].line);
}

TEST_F(Log, KeepsLineFeedsInsideAndAddsNoneAtTheEnd) {
    LOG_STATEMENT(CQorLog::WARN_LEVEL, "first\nsecond");
    EXPECT_THAT(logTexts(), ElementsAre("first\nsecond"));
}

TEST_F(Log, NullTextPieceAddsNothing) {
    const char *missing = nullptr;
    LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Could not open file.", missing, INT_MIN);
    EXPECT_THAT(logTexts(), ElementsAre("Could not open file.-2147483648"));
}

TEST_F(Log, FilteredStatementAsksOnceAndBuildsNothing) {
    QorLogDouble_SetLevel(40001);
    long allocations;
    {
        AllocationCounter counter;
        LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Write File error: ", 5ul, "C:\\some\\path.jpg");
        allocations = counter.count();
    }
    EXPECT_EQ(0, allocations);
    EXPECT_EQ(1, QorLogDouble_GetLevelCount());
    EXPECT_THAT(logTexts(), IsEmpty());

    // The same statement let through does allocate: the counter is really counting.
    QorLogDouble_SetLevel(40000);
    {
        AllocationCounter counter;
        LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Write File error: ", 5ul, "C:\\some\\path.jpg");
        allocations = counter.count();
    }
    EXPECT_GT(allocations, 0);
}

TEST_F(Log, ConfigurationLoadedFromTheRelativeNameNeedsNoSecondTry) {
    kestrava::configureLog();
    EXPECT_THAT(doubles::initPaths(), ElementsAre("log.properties"));
}

TEST_F(Log, ConfigurationFallsBackToTheSystemDirectoryOnce) {
    for (int second : {0, -1, 5}) {
        SCOPED_TRACE(second);
        QorLogDouble_ClearEntries();
        const int results[] = {-1, second};
        QorLogDouble_QueueInitResults(results, 2);
        kestrava::configureLog();
        EXPECT_THAT(doubles::initPaths(),
                    ElementsAre("log.properties", systemDirectory() + "/log.properties"));
    }
}

TEST_F(Log, OtherFailureValuesAreSuccessForTheFirstTry) {
    QorLogDouble_SetInitResult(-2);
    kestrava::configureLog();
    EXPECT_THAT(doubles::initPaths(), ElementsAre("log.properties"));
}
