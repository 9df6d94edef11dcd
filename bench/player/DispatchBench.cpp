// onDisplayFrame with 1, 8 and 64 registered subscribers (one of them the frame's port) against
// the floor: one uncontended ACE_Thread_Mutex acquire/release plus one indirect call.
#include "AnalysisRegistry.h"
#include "AllocationCounter.h"
#include "BenchSupport.h"

#include <cstdio>
#include <memory>
#include <vector>

namespace {

volatile LONG delivered = 0;
void CALLBACK host(char *, LONG size, LONG, LONG, LONG_PTR, LONG) {
    delivered = delivered + size;
}

// Keeps the floor's call indirect, as the dispatch's is.
AnalysisCallback volatile floorTarget = &host;

constexpr long kIterations = 2000000;
constexpr int kRounds = 7;
char frameData[4];

long frameAllocations = 0; // heap allocations inside the timed dispatch loops

double dispatchNs(int subscribers) {
    std::vector<std::unique_ptr<AnalysisSubscriber>> registered;
    for (int i = 0; i < subscribers; ++i) {
        registered.push_back(std::make_unique<AnalysisSubscriber>());
        // The frame's port is registered last: the walk passes every other entry first.
        registered.back()->port = subscribers - 1 - i;
        registered.back()->setCallback(&host, i, 0);
        AnalysisRegistry::instance()->add(registered.back().get());
    }
    double ns = 0;
    {
        AllocationCounter counter;
        ns = bench::nsPerCall(kIterations, kRounds,
                              [] { onDisplayFrame(0, frameData, 1, 640, 480, 0, 0, 0); });
        frameAllocations += counter.count();
    }
    for (auto &s : registered) {
        AnalysisRegistry::instance()->remove(s.get());
    }
    return ns;
}

} // namespace

int main() {
    ACE_Thread_Mutex mutex;
    const double floorNs = bench::nsPerCall(kIterations, kRounds, [&] {
        mutex.acquire();
        floorTarget(frameData, 1, 640, 480, 0, 0);
        mutex.release();
    });
    const double one = dispatchNs(1);
    const double eight = dispatchNs(8);
    const double sixtyFour = dispatchNs(64);

    std::printf("onDisplayFrame dispatch (best of %d rounds of %ld frames)\n", kRounds,
                kIterations);
    std::printf("  floor (acquire + indirect call + release): %7.2f ns\n", floorNs);
    std::printf("  1 subscriber : %7.2f ns  = %.2fx floor   (target <= 1.3x)\n", one,
                one / floorNs);
    std::printf("  8 subscribers: %7.2f ns  = %.2fx floor, %.2f ns per extra subscriber\n", eight,
                eight / floorNs, (eight - one) / 7.0);
    std::printf("  64 subscribers: %6.2f ns  = %.2fx floor, %.2f ns per extra subscriber "
                "(target <= 3 ns)\n",
                sixtyFour, sixtyFour / floorNs, (sixtyFour - one) / 63.0);
    std::printf("  heap allocations: %ld over %ld frames\n", frameAllocations,
                3 * kIterations * kRounds);
    return delivered == 0;
}
