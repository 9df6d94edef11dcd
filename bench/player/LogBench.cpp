// A log statement filtered by the threshold against a bare CQorLog::GetLevel call, with the
// QorLog.dll found beside the executable (the real library, or the double in its folder).
#include "AllocationCounter.h"
#include "BenchSupport.h"
#include "LogStatement.h"
#ifdef BENCH_LOG_DOUBLE
#include "Doubles.h"
#endif

#include <cstdio>
#include <string>

namespace {

constexpr long kIterations = 1000000;
constexpr int kRounds = 7;
volatile int sink = 0;

#ifndef BENCH_LOG_DOUBLE
// Raises the threshold above both levels the component uses.
void silenceLog() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string path = std::string(temp) + "kestrava-bench-log.properties";
    if (FILE *file = std::fopen(path.c_str(), "w")) {
        std::fputs("log4cplus.rootLogger=FATAL, NULL\n"
                   "log4cplus.appender.NULL=log4cplus::NullAppender\n",
                   file);
        std::fclose(file);
    }
    CQorLogManager::Init(path.c_str());
    DeleteFileA(path.c_str());
}
#endif

} // namespace

int main() {
#ifdef BENCH_LOG_DOUBLE
    QorLogDouble_SetLevel(50000);
#else
    silenceLog();
#endif
    const int threshold = CQorLog::GetLevel();
    if (threshold <= CQorLog::ERROR_LEVEL) {
        std::printf("threshold %d does not filter level 40000; nothing to measure\n", threshold);
        return 1;
    }
    const char *path = "C:\\snapshots\\a.jpg";
    const DWORD code = 5;
    const double bare = bench::nsPerCall(kIterations, kRounds, [] { sink = CQorLog::GetLevel(); });
    AllocationCounter counter;
    const double statement = bench::nsPerCall(kIterations, kRounds, [&] {
        LOG_STATEMENT(CQorLog::ERROR_LEVEL, "Write File error: ", code, path);
    });
    const long allocations = counter.count();
    std::printf("filtered log statement (threshold %d, best of %d rounds of %ld)\n", threshold,
                kRounds, kIterations);
    std::printf("  bare CQorLog::GetLevel: %7.2f ns\n", bare);
    std::printf("  filtered statement    : %7.2f ns  = %.2fx   (target <= 1.2x)\n", statement,
                statement / bare);
    std::printf("  heap allocations: %ld over %ld statements\n", allocations,
                kIterations * kRounds);
    return 0;
}
