// The switch of the closed libraries' test variants (FailingVariant.cmake): while the process's
// environment holds KESTRAVA_FAIL_ALLOCATIONS, every allocation of such a variant's runtime
// fails, as when memory runs out. The shipped DLLs carry no such switch.
#ifndef KESTRAVA_TESTS_SUPPORT_FAILINGALLOCATION_H
#define KESTRAVA_TESTS_SUPPORT_FAILINGALLOCATION_H

#include <windows.h>

#define KESTRAVA_FAIL_ALLOCATIONS "KESTRAVA_FAIL_ALLOCATIONS"

// Allocations inside the variants fail while one of these lives.
class FailingAllocations {
  public:
    FailingAllocations() { SetEnvironmentVariableA(KESTRAVA_FAIL_ALLOCATIONS, "1"); }
    ~FailingAllocations() { SetEnvironmentVariableA(KESTRAVA_FAIL_ALLOCATIONS, nullptr); }
    FailingAllocations(const FailingAllocations &) = delete;
    FailingAllocations &operator=(const FailingAllocations &) = delete;
};

#endif
