// The global operators new and delete of one binary, over the `allocate` (null when it gives no
// memory) of the file that includes this, and std::free. Include it in one file of a binary.
#ifndef KESTRAVA_TESTS_SUPPORT_REPLACEDNEW_H
#define KESTRAVA_TESTS_SUPPORT_REPLACEDNEW_H

#include <cstdlib>
#include <new>

void *operator new(std::size_t size) {
    if (void *block = allocate(size)) {
        return block;
    }
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) {
    return operator new(size);
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

#endif
