// Its own executable: the registry must not exist yet when the test starts.
#include "AnalysisRegistry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(RegistryFirstUse, SimultaneousFirstCallersShareOneRegistry) {
    constexpr int kThreads = 16;
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<AnalysisRegistry *> seen(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            ++ready;
            while (!go) {
            }
            seen[i] = AnalysisRegistry::instance();
        });
    }
    while (ready != kThreads) {
    }
    go = true;
    for (auto &t : threads) {
        t.join();
    }
    ASSERT_NE(nullptr, seen[0]);
    for (AnalysisRegistry *r : seen) {
        EXPECT_EQ(seen[0], r);
    }
    EXPECT_EQ(seen[0], AnalysisRegistry::instance());
}
