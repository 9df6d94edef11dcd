#include "LogConfiguration.h"

#include "CData.h"
#include "QorLog.h"

#include <windows.h>

#include <cstring>

namespace kestrava {

void configureLog() noexcept {
    static const char kFileName[] = "log.properties";
    try {
        if (CQorLogManager::Init(kFileName) != -1) {
            return;
        }
        char directory[260];
        const UINT length = GetSystemDirectoryA(directory, sizeof directory);
        if (length == 0 || length >= sizeof directory) {
            return; // no system directory, so there is no second path to try
        }
        CData path(directory);
        path += "/";
        path += kFileName;
        // A CData without memory keeps what it had: a part of the path is no path to try.
        if (std::strlen(path.c_str()) != length + sizeof kFileName) {
            return;
        }
        CQorLogManager::Init(path.c_str());
    } catch (...) {
        // Construction of a player goes on without a log configuration.
    }
}

} // namespace kestrava
