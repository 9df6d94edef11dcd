#include "Module.h"

#include "ClassFactory.h"

#include <new>

namespace kestrava::module {
namespace {

struct Termination {
    TerminationFunction function;
    void *argument;
    Termination *next; // older entry
};

HINSTANCE moduleInstance = nullptr;
volatile LONG moduleLockCount = 0;
// Constructed at attach and destroyed at detach, so that no lock outlives the module's own use.
alignas(ModuleLock) unsigned char typeInfoLockStorage[sizeof(ModuleLock)];
alignas(ModuleLock) unsigned char classObjectLockStorage[sizeof(ModuleLock)];
ModuleLock *typeInfoLockPtr = nullptr;
ModuleLock *classObjectLockPtr = nullptr;

// -- protected by typeInfoLock, its only writer; read alone at detach
Termination *terminations = nullptr; // newest first

} // namespace

void attach(HINSTANCE instance) {
    moduleInstance = instance;
    moduleLockCount = 0;
    terminations = nullptr;
    typeInfoLockPtr = new (typeInfoLockStorage) ModuleLock;
    classObjectLockPtr = new (classObjectLockStorage) ModuleLock;
}

void detach() {
    releaseClassObject();
    while (terminations) {
        Termination *entry = terminations;
        terminations = entry->next;
        entry->function(entry->argument);
        delete entry;
    }
    classObjectLockPtr->~ModuleLock();
    typeInfoLockPtr->~ModuleLock();
    classObjectLockPtr = typeInfoLockPtr = nullptr;
}

HINSTANCE instance() {
    return moduleInstance;
}
LONG lock() {
    return InterlockedIncrement(&moduleLockCount);
}
LONG unlock() {
    return InterlockedDecrement(&moduleLockCount);
}
LONG lockCount() {
    return moduleLockCount;
}
ModuleLock &typeInfoLock() {
    return *typeInfoLockPtr;
}
ModuleLock &classObjectLock() {
    return *classObjectLockPtr;
}

bool addTermination(TerminationFunction function, void *argument) {
    Termination *entry = new (std::nothrow) Termination{function, argument, nullptr};
    if (!entry) {
        return false;
    }
    LockGuard<ModuleLock> guard(typeInfoLock());
    entry->next = terminations;
    terminations = entry;
    return true;
}

} // namespace kestrava::module
