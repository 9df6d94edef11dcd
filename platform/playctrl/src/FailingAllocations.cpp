// Test builds only: every C++ allocation inside the engine fails while the process's
// environment holds KESTRAVA_ENGINE_FAIL_ALLOCATIONS=1, so that tests can call across the DLL
// boundary and see what a host sees when memory runs out.
#include <windows.h>

#include <cstdlib>
#include <new>

namespace {
bool failing() {
    char value[4];
    DWORD n = GetEnvironmentVariableA("KESTRAVA_ENGINE_FAIL_ALLOCATIONS", value, sizeof value);
    return n == 1 && value[0] == '1';
}

void *allocate(std::size_t size) {
    if (failing())
        throw std::bad_alloc();
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
} // namespace

void *operator new(std::size_t size) {
    return allocate(size);
}
void *operator new[](std::size_t size) {
    return allocate(size);
}
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    return failing() ? nullptr : std::malloc(size ? size : 1);
}
void *operator new[](std::size_t size, const std::nothrow_t &) noexcept {
    return failing() ? nullptr : std::malloc(size ? size : 1);
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
