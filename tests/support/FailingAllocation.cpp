// Linked into the test variants of the closed libraries only: the DLL's own operator new, which
// its runtime and everything linked into it use, refuses memory while the switch is on.
#include "FailingAllocation.h"

#include <cstdlib>

namespace {

bool failing() noexcept {
    return GetEnvironmentVariableA(KESTRAVA_FAIL_ALLOCATIONS, nullptr, 0) > 0;
}

void *allocate(std::size_t size) noexcept {
    return failing() ? nullptr : std::malloc(size == 0 ? 1 : size);
}

} // namespace

// The binary's operators new and delete, over `allocate` above.
#include "ReplacedNew.h"
