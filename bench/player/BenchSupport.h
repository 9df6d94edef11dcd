// Timing helpers shared by the player benchmarks: every figure is a ratio of two measurements
// taken in the same run, best of several rounds to shed scheduler noise.
#ifndef KESTRAVA_BENCH_PLAYER_BENCHSUPPORT_H
#define KESTRAVA_BENCH_PLAYER_BENCHSUPPORT_H

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>

namespace bench {

inline double nowNs() {
    static const double nsPerTick = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return 1e9 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * nsPerTick;
}

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

// Heap allocations made by this executable (the component is linked in statically).
extern std::atomic<long> allocations;

} // namespace bench

// One definition per executable: include with BENCH_COUNT_ALLOCATIONS defined in one file.
#ifdef BENCH_COUNT_ALLOCATIONS
std::atomic<long> bench::allocations{0};
void *operator new(std::size_t size) {
    bench::allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) {
    return operator new(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    bench::allocations.fetch_add(1, std::memory_order_relaxed);
    return std::malloc(size ? size : 1);
}
void *operator new[](std::size_t size, const std::nothrow_t &t) noexcept {
    return operator new(size, t);
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete[](void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void *p, std::size_t) noexcept {
    std::free(p);
}
#endif

#endif
