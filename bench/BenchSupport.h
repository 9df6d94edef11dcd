// Timing helpers shared by the benchmarks: every figure is a ratio of two measurements taken in
// the same run, best of several rounds to shed scheduler noise.
#ifndef KESTRAVA_BENCH_BENCHSUPPORT_H
#define KESTRAVA_BENCH_BENCHSUPPORT_H

#include "Harness.h"

#include <windows.h>

#include <algorithm>

namespace bench {

using harness::nowMs;
using harness::nowNs;

// Nanoseconds per call of `body`, the best of `rounds` rounds of `iterations` calls.
template <class Body> double nsPerCall(long iterations, int rounds, Body body) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const double start = nowNs();
        for (long i = 0; i < iterations; ++i) {
            body();
        }
        best = std::min(best, (nowNs() - start) / static_cast<double>(iterations));
    }
    return best;
}

} // namespace bench

#endif
