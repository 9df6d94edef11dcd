#include "AllocationCounter.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<int> counting{0};
std::atomic<long> allocations{0};

void *allocate(std::size_t size) {
    if (counting.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1, std::memory_order_relaxed);
    }
    return std::malloc(size ? size : 1);
}
} // namespace

AllocationCounter::AllocationCounter() {
    allocations = 0;
    counting = 1;
}
AllocationCounter::~AllocationCounter() {
    counting = 0;
}
long AllocationCounter::count() const {
    return allocations.load();
}

// The binary's operators new and delete, over `allocate` above.
#include "ReplacedNew.h"
