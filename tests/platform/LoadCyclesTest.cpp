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

// Handles open in the process, counted by asking after each of the lowest handle values: a new
// handle takes the lowest free value, so a leak shows up here (Wine's GetProcessHandleCount
// answers 0).
int openHandles() {
    int open = 0;
    DWORD flags = 0;
    for (ULONG_PTR value = 4; value < 4 * 2048; value += 4) {
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++open;
        }
    }
    return open;
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

// The slots of thread-local storage, 1088 in a process, would be used up within the cycles.
TEST(LoadCycles, EveryLibraryUnloadsAndLoadsAgainGivingBackWhatItTook) {
    struct Run {
        const wchar_t *name;
        bool createObject;
    };
    const Run runs[] = {{L"CommonModule.dll", false},
                        {L"QorLog.dll", false},
                        {L"PlayCtrl.dll", false},
                        {L"Kestrava.DLL", false},
                        {L"Kestrava.DLL", true}};
    constexpr int kCycles = 1000;
    // What the 1,000 cycles of a module may leave on the heaps in all, 64 bytes a cycle.
    constexpr long long kMostBytes = 64 * 1024;
    // Wine's winmm.dll, which the engine imports, keeps registry keys open at each of its own
    // loads; held here, as a host with sound would hold it, it stays out of the count.
    ASSERT_TRUE(LoadLibraryW(L"winmm.dll"));
    // The first cycles settle the process's own caches (loader, heaps, COM's class data).
    for (const Run &run : runs) {
        ASSERT_TRUE(run.createObject ? cycle(run.name, 3, createAndRelease)
                                     : cycle(run.name, 3, loadOnly));
    }
    const DWORD freeSlot = lowestFreeTlsSlot();
    for (const Run &run : runs) {
        const long long before = heapBytesInUse();
        const int handlesBefore = openHandles();
        const auto began = std::chrono::steady_clock::now();
        ASSERT_TRUE(run.createObject ? cycle(run.name, kCycles, createAndRelease)
                                     : cycle(run.name, kCycles, loadOnly));
        const auto took = std::chrono::steady_clock::now() - began;
        const long long grown = heapBytesInUse() - before;
        const int handlesGrown = openHandles() - handlesBefore;
        std::printf("%s%s: %d cycles in %lld ms, heap %+lld bytes (%+.1f per cycle), handles %+d\n",
                    narrow(run.name).c_str(), run.createObject ? " with an object" : "", kCycles,
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(took).count()),
                    grown, static_cast<double>(grown) / kCycles, handlesGrown);
        EXPECT_EQ(freeSlot, lowestFreeTlsSlot()) << narrow(run.name) << " keeps a TLS slot";
        EXPECT_LE(grown, kMostBytes) << narrow(run.name);
        // One handle kept per load, a thread's or a lock's event, would be a thousand.
        EXPECT_LT(handlesGrown, kCycles / 100) << narrow(run.name);
    }
}
