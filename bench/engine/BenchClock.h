// The engine benchmarks' clock: milliseconds from the performance counter.
#ifndef KESTRAVA_BENCH_ENGINE_BENCHCLOCK_H
#define KESTRAVA_BENCH_ENGINE_BENCHCLOCK_H

#include <windows.h>

inline double nowMs() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

#endif
