// The entry point of a DLL with nothing of its own to do at load or unload.
#include "RuntimeRelease.h"

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH) {
        kestrava::releaseRuntimeAtUnload(reserved);
    }
    return TRUE;
}
