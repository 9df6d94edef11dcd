// One scoped guard for every kind of lock our DLLs take outside the standard library, so that
// no lock is left held on any path and none is released that was not acquired. This is the one
// place that takes or leaves an SRW lock or a critical section by hand. std::mutex keeps the
// standard's guards (std::unique_lock where a condition variable waits on it).
#ifndef KESTRAVA_PLATFORM_GUARDS_H
#define KESTRAVA_PLATFORM_GUARDS_H

#include <windows.h>

namespace kestrava {

// How a lock of one kind is taken and left. The general case is a lock whose acquire() reports
// failure as -1, as ACE_Thread_Mutex does.
template <class Lock> struct LockTraits {
    static bool acquire(Lock &lock) noexcept { return lock.acquire() != -1; }
    static void release(Lock &lock) noexcept { lock.release(); }
};

// Taken exclusively; nothing here takes one shared.
template <> struct LockTraits<SRWLOCK> {
    static bool acquire(SRWLOCK &lock) noexcept {
        AcquireSRWLockExclusive(&lock);
        return true;
    }
    static void release(SRWLOCK &lock) noexcept { ReleaseSRWLockExclusive(&lock); }
};

// A critical section that lives as long as the object.
class CriticalSection {
  public:
    CriticalSection() noexcept { InitializeCriticalSection(&section_); }
    ~CriticalSection() { DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection &) = delete;
    CriticalSection &operator=(const CriticalSection &) = delete;

  private:
    friend struct LockTraits<CriticalSection>;
    CRITICAL_SECTION section_;
};

template <> struct LockTraits<CriticalSection> {
    static bool acquire(CriticalSection &lock) noexcept {
        EnterCriticalSection(&lock.section_);
        return true;
    }
    static void release(CriticalSection &lock) noexcept { LeaveCriticalSection(&lock.section_); }
};

// Holds `lock` for the guard's lifetime; releases only what it acquired.
template <class Lock> class LockGuard {
  public:
    explicit LockGuard(Lock &lock) noexcept
        : lock_(lock), acquired_(LockTraits<Lock>::acquire(lock)) {}
    ~LockGuard() {
        if (acquired_) {
            LockTraits<Lock>::release(lock_);
        }
    }
    LockGuard(const LockGuard &) = delete;
    LockGuard &operator=(const LockGuard &) = delete;

    bool acquired() const noexcept { return acquired_; }

  private:
    Lock &lock_;
    const bool acquired_;
};

} // namespace kestrava

#endif
