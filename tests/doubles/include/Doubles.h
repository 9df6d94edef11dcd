// Control side of the test doubles of PlayCtrl.dll and QorLog.dll. A test target calls
// kestrava_use_doubles(<target>) (CMake): it links the doubles' import libraries and runs from
// the folder that holds them, so the component loads the doubles in place of the real libraries.
//
// Every SDK call and every log-library call is recorded with its arguments and one sequence
// number shared by both doubles, so a test can state the order across the two libraries.
#ifndef KESTRAVA_TESTS_DOUBLES_H
#define KESTRAVA_TESTS_DOUBLES_H

#include <windows.h>

#include "PlayM4.h"

#ifdef KESTRAVA_BUILDING_PLAYCTRL_DOUBLE
#define PLAYCTRL_DOUBLE_API __declspec(dllexport)
#else
#define PLAYCTRL_DOUBLE_API __declspec(dllimport)
#endif
#ifdef KESTRAVA_BUILDING_QORLOG_DOUBLE
#define QORLOG_DOUBLE_API __declspec(dllexport)
#else
#define QORLOG_DOUBLE_API __declspec(dllimport)
#endif

#define DOUBLE_TEXT_SIZE 2048

#ifdef __cplusplus
extern "C" {
#endif

// One recorded PlayM4_ call. args holds the arguments in order (port first where there is one),
// pointers as addresses; real holds a float argument; text a narrow path argument.
typedef struct DoubleCall {
    unsigned sequence;
    char function[40];
    int argCount;
    LONG_PTR args[4];
    int hasReal;
    float real;
    char text[DOUBLE_TEXT_SIZE];
} DoubleCall;

// One CQorLog::Log entry as the library received it.
typedef struct DoubleLogEntry {
    unsigned sequence;
    int level;
    char text[DOUBLE_TEXT_SIZE];
    char file[MAX_PATH];
    int line;
} DoubleLogEntry;

// ---- PlayCtrl.dll double ----

// Forgets every call and script, frees every port, stops frame threads. Defaults: every BOOL
// function succeeds (1), getters return 0, GetLastError returns 0, GetPort hands out the lowest
// free port from 0.
PLAYCTRL_DOUBLE_API void __cdecl PlayCtrlDouble_Reset(void);
// Result of every later call of `function` (BOOL result, or a getter's integer value).
PLAYCTRL_DOUBLE_API void __cdecl PlayCtrlDouble_SetResult(const char *function, LONG result);
// Results of the next `count` calls of `function`, before falling back to SetResult's value.
PLAYCTRL_DOUBLE_API void __cdecl PlayCtrlDouble_QueueResults(const char *function,
                                                             const LONG *results, int count);
PLAYCTRL_DOUBLE_API void __cdecl PlayCtrlDouble_SetPlayPos(float position);
PLAYCTRL_DOUBLE_API void __cdecl PlayCtrlDouble_SetLastError(DWORD code);
// The port the next successful GetPort writes (once).
PLAYCTRL_DOUBLE_API void __cdecl PlayCtrlDouble_SetNextPort(LONG port);
PLAYCTRL_DOUBLE_API void __cdecl PlayCtrlDouble_SetPictureSize(LONG width, LONG height);
// The record both key-frame searches write on success.
PLAYCTRL_DOUBLE_API void __cdecl PlayCtrlDouble_SetKeyFrameRecord(const FramePosition *record);
// The picture GetJPEG/GetBMP deliver: the bytes are copied and `reportedSize` is written as the
// picture's length. Offered less than `size`, they fail as the engine does: last error 1,
// nothing copied, and `size` written as the length needed.
PLAYCTRL_DOUBLE_API void __cdecl PlayCtrlDouble_SetPicture(const BYTE *bytes, DWORD size,
                                                           DWORD reportedSize);
// 0: such a refusal writes 0 as the length, as an engine that names no size would.
PLAYCTRL_DOUBLE_API void __cdecl PlayCtrlDouble_SetRefusalNamesSize(int on);
// Every capture fails with last error `code` and writes `namedSize` as the length needed, as an
// engine would that names a size for another failure, or one too large to allocate; code 0
// ends it.
PLAYCTRL_DOUBLE_API void __cdecl PlayCtrlDouble_SetCaptureRefusal(DWORD code, DWORD namedSize);

// Forgets the recorded calls only; scripts, ports and callbacks stay.
PLAYCTRL_DOUBLE_API void __cdecl PlayCtrlDouble_ClearCalls(void);
// 0 stops recording calls (scripts still apply), for long stress runs; Reset turns it back on.
PLAYCTRL_DOUBLE_API void __cdecl PlayCtrlDouble_SetRecording(int on);
PLAYCTRL_DOUBLE_API int __cdecl PlayCtrlDouble_CallCount(void);
PLAYCTRL_DOUBLE_API int __cdecl PlayCtrlDouble_GetCall(int index, DoubleCall *call);
PLAYCTRL_DOUBLE_API int __cdecl PlayCtrlDouble_CountCalls(const char *function);
// Ports handed out and not freed; files opened and not closed.
PLAYCTRL_DOUBLE_API int __cdecl PlayCtrlDouble_PortsInUse(void);
PLAYCTRL_DOUBLE_API int __cdecl PlayCtrlDouble_OpenFiles(void);
PLAYCTRL_DOUBLE_API DisplayCallBack __cdecl PlayCtrlDouble_DisplayCallBackOf(LONG port);

// Calls the display callback registered for `port` on this thread; 0 when there is none.
PLAYCTRL_DOUBLE_API int __cdecl PlayCtrlDouble_FireDisplay(LONG port, char *data, LONG size,
                                                           LONG width, LONG height);
// Starts `threads` threads that deliver frames as the engine would: each loops over the ports
// with a display callback and calls it (outside the double's own lock) with the port, a data
// pointer of (char *)(port * 16 + 16), size = port, width = 1000 + port, height = 2000 + port.
PLAYCTRL_DOUBLE_API void __cdecl PlayCtrlDouble_StartFrameThreads(int threads);
// Stops and joins them; returns the number of frames delivered.
PLAYCTRL_DOUBLE_API LONG __cdecl PlayCtrlDouble_StopFrameThreads(void);

// ---- QorLog.dll double ----

// Forgets entries and Init calls; threshold 30000; Init returns 0.
QORLOG_DOUBLE_API void __cdecl QorLogDouble_Reset(void);
// Forgets the recorded entries and Init calls only.
QORLOG_DOUBLE_API void __cdecl QorLogDouble_ClearEntries(void);
QORLOG_DOUBLE_API void __cdecl QorLogDouble_SetLevel(int level);
QORLOG_DOUBLE_API void __cdecl QorLogDouble_SetInitResult(int result);
QORLOG_DOUBLE_API void __cdecl QorLogDouble_QueueInitResults(const int *results, int count);
QORLOG_DOUBLE_API int __cdecl QorLogDouble_EntryCount(void);
QORLOG_DOUBLE_API int __cdecl QorLogDouble_GetEntry(int index, DoubleLogEntry *entry);
QORLOG_DOUBLE_API int __cdecl QorLogDouble_InitCount(void);
QORLOG_DOUBLE_API int __cdecl QorLogDouble_GetInitPath(int index, char *path, int size);
QORLOG_DOUBLE_API LONG __cdecl QorLogDouble_GetLevelCount(void);
// Sequence number of the latest GetLevel call (0 if none since Reset).
QORLOG_DOUBLE_API unsigned __cdecl QorLogDouble_LastGetLevelSequence(void);
// The order shared by both doubles.
QORLOG_DOUBLE_API unsigned __cdecl Doubles_NextSequence(void);

#ifdef __cplusplus
}

#include <string>
#include <vector>

namespace doubles {

inline void resetAll() {
    PlayCtrlDouble_Reset();
    QorLogDouble_Reset();
}

// Forgets what arranging a test recorded, keeping every script.
inline void clearRecords() {
    PlayCtrlDouble_ClearCalls();
    QorLogDouble_ClearEntries();
}

// The `count` records that `get` hands out one by one.
template <class Record> std::vector<Record> records(int count, int(__cdecl *get)(int, Record *)) {
    std::vector<Record> all(static_cast<size_t>(count));
    for (size_t i = 0; i < all.size(); ++i) {
        get(static_cast<int>(i), &all[i]);
    }
    return all;
}

inline std::vector<DoubleCall> sdkCalls() {
    return records(PlayCtrlDouble_CallCount(), &PlayCtrlDouble_GetCall);
}

// The recorded calls as "PlayM4_X(a,b,...)" strings (pointer arguments as addresses).
inline std::vector<std::string> sdkCallTexts() {
    std::vector<std::string> texts;
    for (const DoubleCall &call : sdkCalls()) {
        std::string text = call.function;
        text += '(';
        for (int i = 0; i < call.argCount; ++i) {
            text += (i ? "," : "") + std::to_string(call.args[i]);
        }
        if (call.hasReal) {
            text += (call.argCount ? "," : "") + std::to_string(call.real);
        }
        texts.push_back(text + ')');
    }
    return texts;
}

inline std::vector<DoubleLogEntry> logEntries() {
    return records(QorLogDouble_EntryCount(), &QorLogDouble_GetEntry);
}

inline std::vector<std::string> initPaths() {
    std::vector<std::string> paths;
    for (int i = 0; i < QorLogDouble_InitCount(); ++i) {
        char path[DOUBLE_TEXT_SIZE];
        QorLogDouble_GetInitPath(i, path, sizeof path);
        paths.push_back(path);
    }
    return paths;
}

} // namespace doubles
#endif

#endif
