// Counts this executable's operator new calls inside a window (the component is linked in
// statically, so its allocations land here; the doubles' DLLs have their own heap functions).
#ifndef KESTRAVA_TESTS_SUPPORT_ALLOCATIONCOUNTER_H
#define KESTRAVA_TESTS_SUPPORT_ALLOCATIONCOUNTER_H

class AllocationCounter {
  public:
    AllocationCounter();
    ~AllocationCounter();
    long count() const;
};

#endif
