#include "RuntimeRelease.h"

#include <windows.h>

#include <pthread.h>

#include <cstdlib>

namespace __gnu_cxx {
void __freeres() noexcept; // libstdc++: frees its emergency exception pool
}

// winpthread: its thread hook, which with DLL_THREAD_DETACH ends the calling thread's records (runs
// its thread-specific destructors, emulated TLS included, and closes its handles), and the record
// behind a thread's id.
extern "C" PIMAGE_TLS_CALLBACK __xl_f;
extern "C" void *__pth_gpointer_locked(pthread_t id);

namespace {

bool unloading = false; // set by DllMain, read by the last teardown step

HMODULE thisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&thisModule), &module);
    return module;
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

// Registered before any other exit handler of the DLL, so it runs after all of them.
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
}

__attribute__((constructor(101))) void prepareRelease() {
    std::atexit(lastTeardownStep);
}

} // namespace

namespace kestrava {

void releaseRuntimeAtUnload(void *reserved) noexcept {
    unloading = reserved == nullptr;
}

} // namespace kestrava
