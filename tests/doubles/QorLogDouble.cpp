// QorLog.dll test double: the library's classes, recording every entry and Init call, with a
// threshold and Init results that the control exports of Doubles.h set.
#define QORLOG_BUILDING
#include "QorLog.h"
#include "Doubles.h"
#include "Records.h"

#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Guarded by `lock`, except the counters, which are atomic on their own.
struct State {
    std::mutex lock;
    std::vector<DoubleLogEntry> entries;
    std::vector<std::string> initPaths;
    int initResult = 0;
    std::deque<int> queuedInitResults;
};

State &state() {
    static State *const instance = new State; // outlives every caller, also at process exit
    return *instance;
}

// GetLevel stays as light as the real one: two interlocked operations, no lock.
volatile LONG level = 30000;
volatile LONG getLevelCount = 0;
volatile LONG lastGetLevelSequence = 0;
volatile LONG sequence = 0;

} // namespace

CQorLog::LOG_LEVEL CQorLog::GetLevel() {
    InterlockedIncrement(&getLevelCount);
    InterlockedExchange(&lastGetLevelSequence, InterlockedIncrement(&sequence));
    return static_cast<LOG_LEVEL>(level);
}

void CQorLog::Log(LOG_LEVEL entryLevel, const char *text, const char *file, int line) {
    DoubleLogEntry entry = {};
    entry.sequence = Doubles_NextSequence();
    entry.level = entryLevel;
    copyText(entry.text, sizeof entry.text, text);
    copyText(entry.file, sizeof entry.file, file);
    entry.line = line;
    std::lock_guard<std::mutex> hold(state().lock);
    state().entries.push_back(entry);
}

int CQorLogManager::Init(const char *path) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().initPaths.push_back(path ? path : "(null)");
    if (!state().queuedInitResults.empty()) {
        int result = state().queuedInitResults.front();
        state().queuedInitResults.pop_front();
        return result;
    }
    return state().initResult;
}

extern "C" {

unsigned __cdecl Doubles_NextSequence(void) {
    return static_cast<unsigned>(InterlockedIncrement(&sequence));
}

void __cdecl QorLogDouble_Reset(void) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().entries.clear();
    state().initPaths.clear();
    state().initResult = 0;
    state().queuedInitResults.clear();
    InterlockedExchange(&level, 30000);
    InterlockedExchange(&getLevelCount, 0);
    InterlockedExchange(&lastGetLevelSequence, 0);
}

void __cdecl QorLogDouble_ClearEntries(void) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().entries.clear();
    state().initPaths.clear();
}

void __cdecl QorLogDouble_SetLevel(int newLevel) {
    InterlockedExchange(&level, newLevel);
}

void __cdecl QorLogDouble_SetInitResult(int result) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().initResult = result;
}

void __cdecl QorLogDouble_QueueInitResults(const int *results, int count) {
    std::lock_guard<std::mutex> hold(state().lock);
    for (int i = 0; i < count; ++i) {
        state().queuedInitResults.push_back(results[i]);
    }
}

int __cdecl QorLogDouble_EntryCount(void) {
    std::lock_guard<std::mutex> hold(state().lock);
    return static_cast<int>(state().entries.size());
}

int __cdecl QorLogDouble_GetEntry(int index, DoubleLogEntry *entry) {
    std::lock_guard<std::mutex> hold(state().lock);
    return copyRecord(state().entries, index, entry);
}

int __cdecl QorLogDouble_InitCount(void) {
    std::lock_guard<std::mutex> hold(state().lock);
    return static_cast<int>(state().initPaths.size());
}

int __cdecl QorLogDouble_GetInitPath(int index, char *path, int size) {
    std::lock_guard<std::mutex> hold(state().lock);
    if (!path || size <= 0 || index < 0 || index >= static_cast<int>(state().initPaths.size())) {
        return 0;
    }
    copyText(path, static_cast<size_t>(size),
             state().initPaths[static_cast<size_t>(index)].c_str());
    return 1;
}

LONG __cdecl QorLogDouble_GetLevelCount(void) {
    return InterlockedCompareExchange(&getLevelCount, 0, 0);
}

unsigned __cdecl QorLogDouble_LastGetLevelSequence(void) {
    return static_cast<unsigned>(InterlockedCompareExchange(&lastGetLevelSequence, 0, 0));
}

} // extern "C"
