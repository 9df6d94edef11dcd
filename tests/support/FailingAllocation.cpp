// Linked into the test variants of the closed libraries only: the DLL's own operator new, which
// its runtime and everything linked into it use, refuses memory while the switch is on.
#include "FailingAllocation.h"

#include <cstdlib>
#include <new>

namespace {

bool failing() noexcept {
    return GetEnvironmentVariableA(KESTRAVA_FAIL_ALLOCATIONS, nullptr, 0) > 0;
}

void *allocate(std::size_t size) noexcept {
    return failing() ? nullptr : std::malloc(size == 0 ? 1 : size);
}

void *allocateOrThrow(std::size_t size) {
    if (void *block = allocate(size)) {
        return block;
    }
    throw std::bad_alloc();
}

} // namespace

void *operator new(std::size_t size) {
    return allocateOrThrow(size);
}
void *operator new[](std::size_t size) {
    return allocateOrThrow(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return allocate(size);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    return allocate(size);
}
void operator delete(void *block) noexcept {
    std::free(block);
}
void operator delete[](void *block) noexcept {
    std::free(block);
}
void operator delete(void *block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void *block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void *block, const std::nothrow_t &) noexcept {
    std::free(block);
}
void operator delete[](void *block, const std::nothrow_t &) noexcept {
    std::free(block);
}
