// The module's state from load to unload: its lock count, its locks and its termination list.
#ifndef KESTRAVA_SERVER_MODULE_H
#define KESTRAVA_SERVER_MODULE_H

#include <windows.h>

namespace kestrava {

// A critical section with scoped entry; every lock of the module is one of these.
class ModuleLock {
  public:
    ModuleLock() { InitializeCriticalSection(&section_); }
    ~ModuleLock() { DeleteCriticalSection(&section_); }
    ModuleLock(const ModuleLock &) = delete;
    ModuleLock &operator=(const ModuleLock &) = delete;
    void enter() { EnterCriticalSection(&section_); }
    void leave() { LeaveCriticalSection(&section_); }

  private:
    CRITICAL_SECTION section_;
};

class ModuleLockGuard {
  public:
    explicit ModuleLockGuard(ModuleLock &lock) : lock_(lock) { lock_.enter(); }
    ~ModuleLockGuard() { lock_.leave(); }
    ModuleLockGuard(const ModuleLockGuard &) = delete;
    ModuleLockGuard &operator=(const ModuleLockGuard &) = delete;

  private:
    ModuleLock &lock_;
};

namespace module {

void attach(HINSTANCE instance);
void detach();

HINSTANCE instance();

// Reasons to stay loaded: living objects, client references to the class object, LockServer.
LONG lock();
LONG unlock();
LONG lockCount();

// Lock order: classObjectLock before the class object's own count lock; typeInfoLock alone.
ModuleLock &typeInfoLock();
ModuleLock &classObjectLock();

// Run at detach, newest first.
using TerminationFunction = void (*)(void *argument);
bool addTermination(TerminationFunction function, void *argument);

} // namespace module
} // namespace kestrava

#endif
