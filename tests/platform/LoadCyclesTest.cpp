// Hosts load and unload libraries again and again (CoFreeUnusedLibraries does it for them): each
// of our DLLs, the component with its three neighbours included, must load, unload and load
// again without end, and give back everything it took.
#include "HeapBytes.h"

#include <Kestrava.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

std::string narrow(const wchar_t *text) {
    return std::string(text, text + wcslen(text));
}

// Loads `name`, runs `use` on it, unloads it, and checks that it is gone.
template <class Use>::testing::AssertionResult cycle(const wchar_t *name, int cycles, Use use) {
    for (int i = 0; i < cycles; ++i) {
        HMODULE module = LoadLibraryW(name);
        if (!module) {
            return ::testing::AssertionFailure()
                   << narrow(name) << " did not load in cycle " << i << ": " << GetLastError();
        }
        ::testing::AssertionResult used = use(module);
        FreeLibrary(module);
        if (!used) {
            return used << " in cycle " << i;
        }
        if (GetModuleHandleW(name)) {
            return ::testing::AssertionFailure() << narrow(name) << " stayed loaded";
        }
    }
    return ::testing::AssertionSuccess();
}

// The lowest TLS index free in the process: it moves when a load keeps a slot.
DWORD lowestFreeTlsSlot() {
    const DWORD slot = TlsAlloc();
    TlsFree(slot);
    return slot;
}

::testing::AssertionResult loadOnly(HMODULE) {
    return ::testing::AssertionSuccess();
}

// One object made and released through the module's own exports, as COM would.
::testing::AssertionResult createAndRelease(HMODULE module) {
    auto getClassObject = reinterpret_cast<HRESULT(WINAPI *)(REFCLSID, REFIID, void **)>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    auto canUnloadNow = reinterpret_cast<HRESULT(WINAPI *)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
    if (!getClassObject || !canUnloadNow) {
        return ::testing::AssertionFailure() << "exports missing";
    }
    IClassFactory *factory = nullptr;
    HRESULT hr =
        getClassObject(CLSID_KestravaCOM, IID_IClassFactory, reinterpret_cast<void **>(&factory));
    if (FAILED(hr)) {
        return ::testing::AssertionFailure() << "DllGetClassObject: " << std::hex << hr;
    }
    IBaseFilePlay *object = nullptr;
    hr = factory->CreateInstance(nullptr, IID_IBaseFilePlay, reinterpret_cast<void **>(&object));
    factory->Release();
    if (FAILED(hr)) {
        return ::testing::AssertionFailure() << "CreateInstance: " << std::hex << hr;
    }
    object->Release();
    if (canUnloadNow() != S_OK) {
        return ::testing::AssertionFailure() << "the module is still held";
    }
    return ::testing::AssertionSuccess();
}

} // namespace

// Under Wine a load of the engine or the component takes 100 to 150 ms, so those run fewer
// cycles; the slots of thread-local storage, 1088 in a process, are used up within the total.
TEST(LoadCycles, EveryLibraryUnloadsAndLoadsAgainGivingBackWhatItTook) {
    struct Run {
        const wchar_t *name;
        bool createObject;
        int cycles;
    };
    const Run runs[] = {{L"CommonModule.dll", false, 1000},
                        {L"QorLog.dll", false, 400},
                        {L"PlayCtrl.dll", false, 100},
                        {L"Kestrava.DLL", false, 60},
                        {L"Kestrava.DLL", true, 60}};
    // The first cycles settle the process's own caches (loader, heaps, COM's class data).
    for (const Run &run : runs) {
        ASSERT_TRUE(run.createObject ? cycle(run.name, 3, createAndRelease)
                                     : cycle(run.name, 3, loadOnly));
    }
    const DWORD freeSlot = lowestFreeTlsSlot();
    for (const Run &run : runs) {
        const long long before = heapBytesInUse();
        const auto began = std::chrono::steady_clock::now();
        ASSERT_TRUE(run.createObject ? cycle(run.name, run.cycles, createAndRelease)
                                     : cycle(run.name, run.cycles, loadOnly));
        const auto took = std::chrono::steady_clock::now() - began;
        const long long grown = heapBytesInUse() - before;
        std::printf("%s%s: %d cycles in %lld ms, heap %+lld bytes (%+.1f per cycle)\n",
                    narrow(run.name).c_str(), run.createObject ? " with an object" : "", run.cycles,
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(took).count()),
                    grown, static_cast<double>(grown) / run.cycles);
        EXPECT_EQ(freeSlot, lowestFreeTlsSlot()) << narrow(run.name) << " keeps a TLS slot";
        // The runtime's emergency exception pool alone is 19 KB a load.
        EXPECT_LE(grown, 1024LL * run.cycles) << narrow(run.name);
    }
}
