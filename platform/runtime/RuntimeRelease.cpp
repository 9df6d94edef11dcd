#include "RuntimeRelease.h"

#include <windows.h>

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

namespace __gnu_cxx {
void __freeres() noexcept; // libstdc++: frees its emergency exception pool
}

// winpthread: its thread hook, which with DLL_THREAD_DETACH ends the calling thread's records (runs
// its thread-specific destructors, emulated TLS included, and closes its handles), the record
// behind a thread's id, and the table of key destructors it grows and never shrinks.
extern "C" PIMAGE_TLS_CALLBACK __xl_f;
extern "C" void *__pth_gpointer_locked(pthread_t id);
extern "C" void (**_pthread_key_dest)(void *);

// The linker sends every lock call of this image to the __wrap_ functions below first (--wrap in
// CMakeLists.txt); these reach winpthread's own.
extern "C" {
int __real_pthread_mutex_lock(pthread_mutex_t *mutex);
int __real_pthread_mutex_trylock(pthread_mutex_t *mutex);
int __real_pthread_mutex_timedlock(pthread_mutex_t *mutex, const timespec *until);
int __real_pthread_rwlock_rdlock(pthread_rwlock_t *lock);
int __real_pthread_rwlock_wrlock(pthread_rwlock_t *lock);
int __real_pthread_cond_wait(pthread_cond_t *condition, pthread_mutex_t *mutex);
int __real_pthread_cond_timedwait(pthread_cond_t *condition, pthread_mutex_t *mutex,
                                  const timespec *until);
}

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

bool unloading = false; // set by DllMain, read by the last teardown step

HMODULE thisModule() {
    return reinterpret_cast<HMODULE>(&__ImageBase);
}

// winpthread gives a statically initialised mutex, read-write lock or condition its memory (and
// events or semaphores) the first time it is locked or waited on, and only pthread_*_destroy
// gives them back; libstdc++'s std::mutex, std::recursive_mutex and std::shared_mutex never call
// it, nor does its guard of local statics. Every such lock lying in this image is remembered at
// its first use, without a lock of its own, and destroyed at unload.
enum class LockKind : std::uintptr_t { Mutex, ReadWrite, Condition };

struct StaticLock {
    std::intptr_t *lock;
    std::intptr_t initialiser;
    LockKind kind;
};

constexpr std::size_t kStaticLocks = 256;
StaticLock staticLocks[kStaticLocks];
std::atomic<std::size_t> staticLockCount{0};

bool insideImage(const void *address) {
    const auto base = reinterpret_cast<std::uintptr_t>(&__ImageBase);
    const auto *headers = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + __ImageBase.e_lfanew);
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    return at >= base && at - base < headers->OptionalHeader.SizeOfImage;
}

// The values winpthread 10 takes for "nothing allocated yet": the initialisers (a mutex has three)
// and zero, which the destroy functions leave behind.
bool isInitialiser(std::intptr_t value, LockKind kind) {
    if (value == 0) {
        return true;
    }
    if (kind == LockKind::Mutex) {
        return value >= -3 && value < 0;
    }
    if (kind == LockKind::ReadWrite) {
        return value == static_cast<std::intptr_t>(PTHREAD_RWLOCK_INITIALIZER);
    }
    return value == static_cast<std::intptr_t>(PTHREAD_COND_INITIALIZER);
}

int destroy(std::intptr_t *lock, LockKind kind) {
    if (kind == LockKind::Mutex) {
        return pthread_mutex_destroy(lock);
    }
    if (kind == LockKind::ReadWrite) {
        return pthread_rwlock_destroy(lock);
    }
    return pthread_cond_destroy(lock);
}

void remember(std::intptr_t *lock, LockKind kind) {
    const std::intptr_t value = *lock;
    if (!isInitialiser(value, kind) || !insideImage(lock)) {
        return;
    }
    const std::size_t slot = staticLockCount.fetch_add(1, std::memory_order_relaxed);
    if (slot < kStaticLocks) {
        staticLocks[slot] = {lock, value, kind};
    }
}

// Each lock gets its initialiser back, so that one used again later still works; a lock remembered
// twice (two threads' first locks at once) is destroyed once.
void destroyStaticLocks() {
    std::size_t count = staticLockCount.load();
    if (count > kStaticLocks) {
        count = kStaticLocks;
    }
    while (count > 0) {
        const StaticLock &entry = staticLocks[--count];
        if (!isInitialiser(*entry.lock, entry.kind) && destroy(entry.lock, entry.kind) == 0) {
            *entry.lock = entry.initialiser;
        }
    }
    staticLockCount.store(0);
}

// winpthread keeps each thread's record in a TLS slot it never frees; the slot is the one in
// which this thread's record is found.
DWORD threadsSlot(void *record) {
    constexpr DWORD kSlots = 64 + 1024; // TLS_MINIMUM_AVAILABLE plus the expansion slots
    for (DWORD slot = 0; record && slot < kSlots; ++slot) {
        if (TlsGetValue(slot) == record) {
            return slot;
        }
    }
    return TLS_OUT_OF_INDEXES;
}

// Registered before any other exit handler of the DLL, so it runs after all of them. The locks go
// last: every step before may take one.
void lastTeardownStep() {
    if (!unloading) {
        return;
    }
    void *record = __pth_gpointer_locked(pthread_self());
    const DWORD slot = threadsSlot(record);
    if (__xl_f) {
        __xl_f(thisModule(), DLL_THREAD_DETACH, nullptr);
    }
    if (slot != TLS_OUT_OF_INDEXES) {
        // A record the hook let go of went to winpthread's pool, which nobody empties.
        if (TlsGetValue(slot) == nullptr) {
            std::free(record);
        }
        TlsFree(slot);
    }
    __gnu_cxx::__freeres();
    std::free(_pthread_key_dest);
    _pthread_key_dest = nullptr;
    destroyStaticLocks();
}

// A C initialiser runs before every constructor, the runtime's own included (the one that
// registers the exception frames and, through atexit, their removal, which locks a mutex).
int prepareRelease() {
    std::atexit(lastTeardownStep);
    return 0;
}
__attribute__((section(".CRT$XIB"), used)) int (*const prepareReleaseEntry)() = prepareRelease;

// Remembers the lock, then makes the call the wrapper stands for.
template <LockKind kind, class Lock, class... Rest>
int firstUse(int (*call)(Lock *, Rest...), Lock *lock, Rest... rest) {
    remember(lock, kind);
    return call(lock, rest...);
}

} // namespace

extern "C" {

int __wrap_pthread_mutex_lock(pthread_mutex_t *mutex) {
    return firstUse<LockKind::Mutex>(__real_pthread_mutex_lock, mutex);
}

int __wrap_pthread_mutex_trylock(pthread_mutex_t *mutex) {
    return firstUse<LockKind::Mutex>(__real_pthread_mutex_trylock, mutex);
}

int __wrap_pthread_mutex_timedlock(pthread_mutex_t *mutex, const timespec *until) {
    return firstUse<LockKind::Mutex>(__real_pthread_mutex_timedlock, mutex, until);
}

int __wrap_pthread_rwlock_rdlock(pthread_rwlock_t *lock) {
    return firstUse<LockKind::ReadWrite>(__real_pthread_rwlock_rdlock, lock);
}

int __wrap_pthread_rwlock_wrlock(pthread_rwlock_t *lock) {
    return firstUse<LockKind::ReadWrite>(__real_pthread_rwlock_wrlock, lock);
}

int __wrap_pthread_cond_wait(pthread_cond_t *condition, pthread_mutex_t *mutex) {
    return firstUse<LockKind::Condition>(__real_pthread_cond_wait, condition, mutex);
}

int __wrap_pthread_cond_timedwait(pthread_cond_t *condition, pthread_mutex_t *mutex,
                                  const timespec *until) {
    return firstUse<LockKind::Condition>(__real_pthread_cond_timedwait, condition, mutex, until);
}
}

namespace kestrava {

void releaseRuntimeAtUnload(void *reserved) noexcept {
    unloading = reserved == nullptr;
}

} // namespace kestrava
