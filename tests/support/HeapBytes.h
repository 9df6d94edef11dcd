// Bytes in use on every heap of the process, block by block: what a leak anywhere in the
// process, in any DLL's runtime, shows up in.
#ifndef KESTRAVA_TESTS_SUPPORT_HEAPBYTES_H
#define KESTRAVA_TESTS_SUPPORT_HEAPBYTES_H

#include <windows.h>

inline long long heapBytesInUse() {
    HANDLE heaps[256];
    const DWORD count = GetProcessHeaps(256, heaps);
    long long total = 0;
    for (DWORD h = 0; h < count && h < 256; ++h) {
        HeapLock(heaps[h]);
        PROCESS_HEAP_ENTRY entry = {};
        while (HeapWalk(heaps[h], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                total += entry.cbData;
            }
        }
        HeapUnlock(heaps[h]);
    }
    return total;
}

#endif
