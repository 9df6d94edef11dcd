// The engine benchmarks' way onto a clip.
#ifndef KESTRAVA_BENCH_ENGINE_BENCHCLIP_H
#define KESTRAVA_BENCH_ENGINE_BENCHCLIP_H

#include "PlayM4.h"

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

namespace bench {

// A new port on `clip` with `indexed` as its index callback, returned once `ready` holds (looked
// at every millisecond; without it, at once); -1, said on stderr, when there is no port or the
// clip does not open.
inline LONG openClip(const char *clip, FileRefCallBack indexed,
                     const std::function<bool()> &ready = nullptr) {
    LONG port = -1;
    if (!PlayM4_GetPort(&port)) {
        return -1;
    }
    PlayM4_SetFileRefCallBack(port, indexed, 0);
    std::string path = clip;
    if (!PlayM4_OpenFile(port, &path[0])) {
        std::fprintf(stderr, "open failed: code %lu\n", PlayM4_GetLastError(port));
        PlayM4_FreePort(port);
        return -1;
    }
    while (ready && !ready()) {
        Sleep(1);
    }
    return port;
}

} // namespace bench

#endif
