// Shared by the unit tests: a concrete player object, the doubles' fixture, and expectation
// helpers that report the caller's line.
#ifndef KESTRAVA_TESTS_UNIT_TESTSUPPORT_H
#define KESTRAVA_TESTS_UNIT_TESTSUPPORT_H

#include "Doubles.h"
#include "DetachedPlayer.h"
#include "Owned.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using kestrava::makeBstr;

// Every test starts from fresh doubles: all SDK calls succeed, threshold 30000.
class DoublesTest : public ::testing::Test {
  protected:
    void SetUp() override { doubles::resetAll(); }
    void TearDown() override { PlayCtrlDouble_StopFrameThreads(); }
};

void expectSdkCalls(const char *file, int line, const std::vector<std::string> &expected);
#define EXPECT_SDK_CALLS(...) expectSdkCalls(__FILE__, __LINE__, __VA_ARGS__)

// Texts of the log entries, in order, and their levels.
std::vector<std::string> logTexts();
void expectLog(const char *file, int line,
               const std::vector<std::pair<int, std::string>> &expected);
#define EXPECT_LOG(...) expectLog(__FILE__, __LINE__, __VA_ARGS__)

// A pointer argument as the double records it.
template <class T> std::string arg(T *pointer) {
    return std::to_string(reinterpret_cast<LONG_PTR>(pointer));
}

#endif
