// PlayCtrl.dll test double: the engine's exports, recording each call and answering from a
// script that the control exports of Doubles.h set.
#include "Doubles.h"
#include "Records.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <type_traits>
#include <vector>

namespace {

constexpr int kMaxPorts = 500;

struct Script {
    LONG result = 1;
    std::deque<LONG> queued;
};

// Everything below is guarded by `state.lock`, except the frame threads' stop flag.
struct State {
    std::mutex lock;
    std::vector<DoubleCall> calls;
    bool recording = true;
    std::map<std::string, Script> scripts;
    float playPos = 0.0f;
    DWORD lastError = 0;
    LONG nextPort = -1;
    bool nextPortSet = false;
    LONG width = 0, height = 0;
    FramePosition keyFrame = {};
    std::vector<BYTE> picture;
    DWORD reportedPictureSize = 0;
    bool refusalNamesSize = true;
    DWORD refusalCode = 0, refusalNamedSize = 0;
    std::set<LONG> portsInUse;
    std::set<LONG> openFiles;
    std::map<LONG, DisplayCallBack> displayCallbacks;
};

State &state() {
    static State *const instance = new State; // never destroyed: frame threads may outlive main
    return *instance;
}

std::vector<std::thread> frameThreads;
std::atomic<bool> stopFrames{false};
std::atomic<LONG> framesDelivered{0};

LONG scriptedResult(State &s, const char *function) {
    Script &script = s.scripts[function];
    if (script.queued.empty()) {
        return script.result;
    }
    LONG result = script.queued.front();
    script.queued.pop_front();
    return result;
}

// An argument as the call list shows it: a 32-bit integer as the signed LONG it travels as (a
// DWORD of -1 reads -1 in either build), a pointer or pointer-sized value whole; a narrow path
// also as text, a float only as the call's real.
template <class T> void note(DoubleCall &call, T value) {
    if constexpr (std::is_integral<T>::value && sizeof(T) == 4) {
        call.args[call.argCount++] = static_cast<LONG>(value);
    } else {
        call.args[call.argCount++] = (LONG_PTR)value;
    }
}
void note(DoubleCall &call, char *text) {
    call.args[call.argCount++] = (LONG_PTR)text;
    copyText(call.text, sizeof call.text, text);
}
void note(DoubleCall &call, float real) {
    call.hasReal = 1;
    call.real = real;
}

// The key-frame and capture calls record their DWORDs unsigned, widened to a pointer's size.
LONG_PTR unsignedWide(DWORD value) {
    return static_cast<LONG_PTR>(value);
}

// Records the call and returns its scripted result; the caller holds the lock.
template <class... Args>
LONG record(State &s, const char *function, const std::tuple<Args...> &args) {
    if (s.recording) {
        DoubleCall call = {};
        call.sequence = Doubles_NextSequence();
        copyText(call.function, sizeof call.function, function);
        std::apply([&call](auto... arg) { (note(call, arg), ...); }, args);
        s.calls.push_back(call);
    }
    return scriptedResult(s, function);
}

void deliverFrames() {
    while (!stopFrames.load(std::memory_order_relaxed)) {
        std::vector<std::pair<LONG, DisplayCallBack>> targets;
        {
            std::lock_guard<std::mutex> hold(state().lock);
            targets.assign(state().displayCallbacks.begin(), state().displayCallbacks.end());
        }
        if (targets.empty()) {
            std::this_thread::yield();
            continue;
        }
        for (const auto &target : targets) {
            LONG port = target.first;
            target.second(port, reinterpret_cast<char *>(static_cast<LONG_PTR>(port * 16 + 16)),
                          port, 1000 + port, 2000 + port, 0, 0, 0);
            framesDelivered.fetch_add(1, std::memory_order_relaxed);
        }
    }
}

// The answers of the exports that do more than return their scripted result.
BOOL handOutPort(State &s, LONG result, LONG *port) {
    if (result && port) {
        LONG chosen = -1;
        if (s.nextPortSet) {
            chosen = s.nextPort;
            s.nextPortSet = false;
        } else {
            for (LONG p = 0; p < kMaxPorts; ++p) {
                if (!s.portsInUse.count(p)) {
                    chosen = p;
                    break;
                }
            }
        }
        *port = chosen;
        if (chosen >= 0) {
            s.portsInUse.insert(chosen);
        }
    }
    return result;
}

BOOL takeBackPort(State &s, LONG result, LONG port) {
    if (result) {
        s.portsInUse.erase(port);
        s.displayCallbacks.erase(port);
    }
    return result;
}

BOOL markOpen(State &s, LONG result, LONG port, bool open) {
    if (result) {
        if (open) {
            s.openFiles.insert(port);
        } else {
            s.openFiles.erase(port);
        }
    }
    return result;
}

BOOL keepDisplayCallback(State &s, LONG result, LONG port, DisplayCallBack callback) {
    if (result) {
        if (callback) {
            s.displayCallbacks[port] = callback;
        } else {
            s.displayCallbacks.erase(port);
        }
    }
    return result;
}

BOOL pictureSize(State &s, LONG result, LONG *width, LONG *height) {
    if (result) {
        if (width) {
            *width = s.width;
        }
        if (height) {
            *height = s.height;
        }
    }
    return result;
}

BOOL keyFrame(State &s, LONG result, FramePosition *position) {
    if (result && position) {
        *position = s.keyFrame;
    }
    return result;
}

BOOL capture(State &s, LONG result, BYTE *buffer, DWORD size, DWORD *written) {
    if (s.refusalCode != 0) {
        s.lastError = s.refusalCode;
        if (written) {
            *written = s.refusalNamedSize;
        }
        return FALSE;
    }
    if (result && s.picture.size() > size) {
        // As the engine does: refuse, write nothing, name the size that would fit.
        s.lastError = 1;
        if (written) {
            *written = s.refusalNamesSize ? static_cast<DWORD>(s.picture.size()) : 0;
        }
        return FALSE;
    }
    if (result) {
        DWORD copied = std::min<DWORD>(size, static_cast<DWORD>(s.picture.size()));
        if (buffer && copied) {
            std::memcpy(buffer, s.picture.data(), copied);
        }
        if (written) {
            *written = s.reportedPictureSize;
        }
    }
    return result;
}

} // namespace

// Every engine export of the double: its result type, name and parameters; the arguments in the
// order the call list records them; the result it answers until a test scripts another (Reset
// restores it); and the answer, given under the lock with the state `s` and the scripted
// `result` at hand.
// clang-format off
#define PLAYCTRL_DOUBLE_EXPORTS(X)                                                                 \
    X(BOOL, GetPort, (LONG *port), (port), 1, handOutPort(s, result, port))                        \
    X(BOOL, FreePort, (LONG port), (port), 1, takeBackPort(s, result, port))                       \
    X(BOOL, OpenFile, (LONG port, char *path), (port, path), 1, markOpen(s, result, port, true))   \
    X(BOOL, CloseFile, (LONG port), (port), 1, markOpen(s, result, port, false))                   \
    X(BOOL, SetFileEndMsg, (LONG port, HWND window, UINT message),                                 \
      (port, window, message), 1, result)                                                          \
    X(BOOL, SetFileRefCallBack, (LONG port, FileRefCallBack callback, DWORD_PTR user),             \
      (port, callback, user), 1, result)                                                           \
    X(BOOL, SetDisplayCallBack, (LONG port, DisplayCallBack callback),                             \
      (port, callback), 1, keepDisplayCallback(s, result, port, callback))                         \
    X(BOOL, Play, (LONG port, HWND window), (port, window), 1, result)                             \
    X(BOOL, Pause, (LONG port, DWORD pause), (port, pause), 1, result)                             \
    X(BOOL, Stop, (LONG port), (port), 1, result)                                                  \
    X(BOOL, RefreshPlay, (LONG port), (port), 1, result)                                           \
    X(BOOL, Fast, (LONG port), (port), 1, result)                                                  \
    X(BOOL, Slow, (LONG port), (port), 1, result)                                                  \
    X(BOOL, ThrowBFrameNum, (LONG port, DWORD count), (port, count), 1, result)                    \
    X(BOOL, PlaySound, (LONG port), (port), 1, result)                                             \
    X(BOOL, StopSound, (void), (), 1, result)                                                      \
    X(BOOL, SetPlayPos, (LONG port, float position), (port, position), 1, result)                  \
    X(float, GetPlayPos, (LONG port), (port), 1, s.playPos)                                        \
    X(BOOL, SetVolume, (LONG port, WORD volume), (port, volume), 1, result)                        \
    X(WORD, GetVolume, (LONG port), (port), 0, result)                                             \
    X(DWORD, GetFileTime, (LONG port), (port), 0, result)                                          \
    X(DWORD, GetPlayedTime, (LONG port), (port), 0, result)                                        \
    X(DWORD, GetPlayedTimeEx, (LONG port), (port), 0, result)                                      \
    X(BOOL, SetPlayedTimeEx, (LONG port, DWORD ms), (port, ms), 1, result)                         \
    X(DWORD, GetFileTotalFrames, (LONG port), (port), 0, result)                                   \
    X(DWORD, GetCurrentFrameNum, (LONG port), (port), 0, result)                                   \
    X(BOOL, SetCurrentFrameNum, (LONG port, DWORD frame), (port, frame), 1, result)                \
    X(BOOL, GetPictureSize, (LONG port, LONG *width, LONG *height),                                \
      (port, width, height), 1, pictureSize(s, result, width, height))                             \
    X(BOOL, OneByOne, (LONG port), (port), 1, result)                                              \
    X(BOOL, OneByOneBack, (LONG port), (port), 1, result)                                          \
    X(BOOL, GetNextKeyFramePos, (LONG port, DWORD value, DWORD type, FramePosition *position),     \
      (port, unsignedWide(value), unsignedWide(type), position), 1, keyFrame(s, result, position)) \
    X(BOOL, GetKeyFramePos, (LONG port, DWORD value, DWORD type, FramePosition *position),         \
      (port, unsignedWide(value), unsignedWide(type), position), 1, keyFrame(s, result, position)) \
    X(BOOL, GetBMP, (LONG port, BYTE *buffer, DWORD size, DWORD *written),                         \
      (port, buffer, unsignedWide(size), written), 1, capture(s, result, buffer, size, written))   \
    X(BOOL, GetJPEG, (LONG port, BYTE *buffer, DWORD size, DWORD *written),                        \
      (port, buffer, unsignedWide(size), written), 1, capture(s, result, buffer, size, written))   \
    X(DWORD, GetLastError, (LONG port), (port), 1, s.lastError)
// clang-format on

extern "C" {

#define PLAYCTRL_DOUBLE_EXPORT(type, name, parameters, recorded, initial, answer)                  \
    type WINAPI PlayM4_##name parameters {                                                         \
        State &s = state();                                                                        \
        std::lock_guard<std::mutex> hold(s.lock);                                                  \
        [[maybe_unused]] const LONG result = record(s, "PlayM4_" #name, std::make_tuple recorded); \
        return static_cast<type>(answer);                                                          \
    }
PLAYCTRL_DOUBLE_EXPORTS(PLAYCTRL_DOUBLE_EXPORT)
#undef PLAYCTRL_DOUBLE_EXPORT

// ---- control ----

void __cdecl PlayCtrlDouble_Reset(void) {
    PlayCtrlDouble_StopFrameThreads();
    State &s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    s.calls.clear();
    s.recording = true;
    s.scripts.clear();
    s.playPos = 0.0f;
    s.lastError = 0;
    s.nextPortSet = false;
    s.width = s.height = 0;
    s.keyFrame = FramePosition{};
    s.picture.clear();
    s.reportedPictureSize = 0;
    s.refusalNamesSize = true;
    s.refusalCode = s.refusalNamedSize = 0;
    s.portsInUse.clear();
    s.openFiles.clear();
    s.displayCallbacks.clear();
#define PLAYCTRL_DOUBLE_INITIAL(type, name, parameters, recorded, initial, answer)                 \
    s.scripts["PlayM4_" #name].result = initial;
    PLAYCTRL_DOUBLE_EXPORTS(PLAYCTRL_DOUBLE_INITIAL)
#undef PLAYCTRL_DOUBLE_INITIAL
}

void __cdecl PlayCtrlDouble_SetResult(const char *function, LONG result) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().scripts[function].result = result;
}

void __cdecl PlayCtrlDouble_QueueResults(const char *function, const LONG *results, int count) {
    std::lock_guard<std::mutex> hold(state().lock);
    Script &script = state().scripts[function];
    for (int i = 0; i < count; ++i) {
        script.queued.push_back(results[i]);
    }
}

void __cdecl PlayCtrlDouble_SetPlayPos(float position) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().playPos = position;
}

void __cdecl PlayCtrlDouble_SetLastError(DWORD code) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().lastError = code;
}

void __cdecl PlayCtrlDouble_SetNextPort(LONG port) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().nextPort = port;
    state().nextPortSet = true;
}

void __cdecl PlayCtrlDouble_SetPictureSize(LONG width, LONG height) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().width = width;
    state().height = height;
}

void __cdecl PlayCtrlDouble_SetKeyFrameRecord(const FramePosition *record) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().keyFrame = record ? *record : FramePosition{};
}

void __cdecl PlayCtrlDouble_SetPicture(const BYTE *bytes, DWORD size, DWORD reportedSize) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().picture.assign(bytes, bytes + (bytes ? size : 0));
    state().reportedPictureSize = reportedSize;
}

void __cdecl PlayCtrlDouble_SetRefusalNamesSize(int on) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().refusalNamesSize = on != 0;
}

void __cdecl PlayCtrlDouble_SetCaptureRefusal(DWORD code, DWORD namedSize) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().refusalCode = code;
    state().refusalNamedSize = namedSize;
}

void __cdecl PlayCtrlDouble_ClearCalls(void) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().calls.clear();
}

void __cdecl PlayCtrlDouble_SetRecording(int on) {
    std::lock_guard<std::mutex> hold(state().lock);
    state().recording = on != 0;
}

int __cdecl PlayCtrlDouble_CallCount(void) {
    std::lock_guard<std::mutex> hold(state().lock);
    return static_cast<int>(state().calls.size());
}

int __cdecl PlayCtrlDouble_GetCall(int index, DoubleCall *call) {
    std::lock_guard<std::mutex> hold(state().lock);
    return copyRecord(state().calls, index, call);
}

int __cdecl PlayCtrlDouble_CountCalls(const char *function) {
    std::lock_guard<std::mutex> hold(state().lock);
    return static_cast<int>(
        std::count_if(state().calls.begin(), state().calls.end(),
                      [&](const DoubleCall &c) { return std::strcmp(c.function, function) == 0; }));
}

int __cdecl PlayCtrlDouble_PortsInUse(void) {
    std::lock_guard<std::mutex> hold(state().lock);
    return static_cast<int>(state().portsInUse.size());
}

int __cdecl PlayCtrlDouble_OpenFiles(void) {
    std::lock_guard<std::mutex> hold(state().lock);
    return static_cast<int>(state().openFiles.size());
}

DisplayCallBack __cdecl PlayCtrlDouble_DisplayCallBackOf(LONG port) {
    std::lock_guard<std::mutex> hold(state().lock);
    auto found = state().displayCallbacks.find(port);
    return found == state().displayCallbacks.end() ? nullptr : found->second;
}

int __cdecl PlayCtrlDouble_FireDisplay(LONG port, char *data, LONG size, LONG width, LONG height) {
    DisplayCallBack callback = PlayCtrlDouble_DisplayCallBackOf(port);
    if (!callback) {
        return 0;
    }
    callback(port, data, size, width, height, 0, 0, 0);
    return 1;
}

void __cdecl PlayCtrlDouble_StartFrameThreads(int threads) {
    PlayCtrlDouble_StopFrameThreads();
    stopFrames = false;
    framesDelivered = 0;
    for (int i = 0; i < threads; ++i) {
        frameThreads.emplace_back(deliverFrames);
    }
}

LONG __cdecl PlayCtrlDouble_StopFrameThreads(void) {
    stopFrames = true;
    for (std::thread &thread : frameThreads) {
        thread.join();
    }
    frameThreads.clear();
    return framesDelivered.load();
}

} // extern "C"
