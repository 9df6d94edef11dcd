// The module's state from load to unload: its lock count, its locks and its termination list.
#ifndef KESTRAVA_SERVER_MODULE_H
#define KESTRAVA_SERVER_MODULE_H

#include "Guards.h"

#include <windows.h>

namespace kestrava {

// Every lock of the module is a critical section, held through LockGuard<ModuleLock>.
using ModuleLock = CriticalSection;

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
