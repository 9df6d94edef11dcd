// What the engine tests, the component tests and the benchmarks share: the performance-counter
// clock, the folder of generated clips, a wait that keeps this thread's messages flowing and
// the count of this process's threads.
#ifndef KESTRAVA_TESTS_SUPPORT_HARNESS_H
#define KESTRAVA_TESTS_SUPPORT_HARNESS_H

#include <windows.h>

#include <tlhelp32.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace harness {

inline double nowNs() {
    static const double nsPerTick = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return 1e9 / static_cast<double>(frequency.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * nsPerTick;
}

inline double nowMs() {
    return nowNs() / 1e6;
}

// `name` in the clip folder the environment variable `folder` names (CTest sets it), else in
// ./media.
inline std::string media(const char *folder, const std::string &name) {
    const char *dir = std::getenv(folder);
    return std::string(dir ? dir : "media") + "/" + name;
}

// Pumps this thread's messages until `done` holds or `limitMs` pass, looking every `pollMs`.
inline bool waitFor(const std::function<bool()> &done, DWORD limitMs, DWORD pollMs) {
    const DWORD start = GetTickCount();
    while (!done()) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        if (GetTickCount() - start > limitMs) {
            return false;
        }
        Sleep(pollMs);
    }
    return true;
}

// The threads of this process now, as Toolhelp lists them.
inline int processThreads() {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) {
        return -1;
    }
    int count = 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snap, &entry); more; more = Thread32Next(snap, &entry)) {
        count += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    }
    CloseHandle(snap);
    return count;
}

} // namespace harness

#endif
