// QorLog.dll: a thin layer over log4cplus. Everything goes to the root logger.
#include "QorLog.h"

#include <log4cplus/configurator.h>
#include <log4cplus/consoleappender.h>
#include <log4cplus/hierarchy.h>
#include <log4cplus/initializer.h>
#include <log4cplus/logger.h>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace {

// log4cplus wants explicit initialisation; doing it lazily keeps DllMain free of it. The
// library is never shut down: the process may still log from other DLLs' teardown. A set-up that
// throws (no memory) is tried again by the next call; std::call_once is no help there, since the
// exception would have to unwind through the C of the threads library.
std::atomic<bool> rootReady{false};
std::mutex rootReadyLock; // serialises the set-up below

log4cplus::Logger rootLogger() {
    if (!rootReady.load(std::memory_order_acquire)) {
        std::lock_guard<std::mutex> guard(rootReadyLock);
        if (!rootReady.load(std::memory_order_relaxed)) {
            log4cplus::initialize();
            log4cplus::SharedAppenderPtr console(new log4cplus::ConsoleAppender(true, true));
            log4cplus::Logger root = log4cplus::Logger::getRoot();
            root.setLogLevel(log4cplus::WARN_LOG_LEVEL);
            root.addAppender(console);
            rootReady.store(true, std::memory_order_release);
        }
    }
    return log4cplus::Logger::getRoot();
}

// Serialises reconfiguration: objects may be created on several apartments' threads at once.
std::mutex configureLock;

bool readable(const char *path) {
    FILE *file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    std::fclose(file);
    return true;
}

} // namespace

CQorLog::LOG_LEVEL CQorLog::GetLevel() {
    try {
        return static_cast<LOG_LEVEL>(rootLogger().getLogLevel());
    } catch (...) {
        return WARN_LEVEL;
    }
}

void CQorLog::Log(LOG_LEVEL level, const char *text, const char *file, int line) {
    try {
        rootLogger().log(level, text != nullptr ? text : "", file != nullptr ? file : "", line);
    } catch (...) {
    }
}

int CQorLogManager::Init(const char *path) {
    try {
        if (path == nullptr || !readable(path)) {
            return -1;
        }
        rootLogger();
        std::lock_guard<std::mutex> guard(configureLock);
        // Each Init replaces the previous configuration instead of stacking appenders.
        log4cplus::Logger::getDefaultHierarchy().resetConfiguration();
        log4cplus::PropertyConfigurator::doConfigure(path);
        return 0;
    } catch (...) {
        return -1;
    }
}
