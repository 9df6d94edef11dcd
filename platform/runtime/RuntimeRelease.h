// Each of our DLLs links its own static C++ runtime and threads library, and neither gives back
// what it took when the DLL is unloaded while the process goes on: libstdc++'s emergency
// exception pool, winpthread's thread-local storage slot (a few hundred loads use up the
// process's slots, and the next load aborts), the loading thread's records and handles, the
// memory and events of every static mutex, read-write lock and condition once used.
//
// A DLL's DllMain calls releaseRuntimeAtUnload at DLL_PROCESS_DETACH. On a dynamic unload
// (reserved NULL) the very last step of the DLL's teardown, after its static destructors, hands
// all of it back. At process exit (reserved not NULL) nothing is torn down.
#ifndef KESTRAVA_PLATFORM_RUNTIMERELEASE_H
#define KESTRAVA_PLATFORM_RUNTIMERELEASE_H

namespace kestrava {

void releaseRuntimeAtUnload(void *reserved) noexcept;

} // namespace kestrava

#endif
