// PlayCtrl.dll test double: the engine's exports, recording each call and answering from a
// script that the control exports of Doubles.h set.
#include "Doubles.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
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

void copyText(char *target, size_t size, const char *text) {
    if (!text) {
        target[0] = '\0';
        return;
    }
    std::strncpy(target, text, size - 1);
    target[size - 1] = '\0';
}

LONG scriptedResult(State &s, const char *function) {
    Script &script = s.scripts[function];
    if (script.queued.empty()) {
        return script.result;
    }
    LONG result = script.queued.front();
    script.queued.pop_front();
    return result;
}

// Records the call and returns its scripted result; the caller holds the lock.
LONG record(State &s, const char *function, std::initializer_list<LONG_PTR> args,
            const char *text = nullptr, const float *real = nullptr) {
    if (s.recording) {
        DoubleCall call = {};
        call.sequence = Doubles_NextSequence();
        copyText(call.function, sizeof call.function, function);
        for (LONG_PTR arg : args) {
            call.args[call.argCount++] = arg;
        }
        if (real) {
            call.hasReal = 1;
            call.real = *real;
        }
        copyText(call.text, sizeof call.text, text);
        s.calls.push_back(call);
    }
    return scriptedResult(s, function);
}

// An argument as the call list shows it: a 32-bit integer as the signed LONG it travels as (a
// DWORD of -1 reads -1 in either build), a pointer or pointer-sized value whole.
template <class T> LONG_PTR asArgument(T value) {
    if constexpr (std::is_integral<T>::value && sizeof(T) == 4) {
        return static_cast<LONG>(value);
    } else {
        return (LONG_PTR)value;
    }
}

template <class... Args> LONG call(const char *function, Args... args) {
    State &s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    return record(s, function, {asArgument(args)...});
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

} // namespace

extern "C" {

BOOL WINAPI PlayM4_GetPort(LONG *port) {
    State &s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    LONG result = record(s, "PlayM4_GetPort", {(LONG_PTR)port});
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

BOOL WINAPI PlayM4_FreePort(LONG port) {
    State &s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    LONG result = record(s, "PlayM4_FreePort", {port});
    if (result) {
        s.portsInUse.erase(port);
        s.displayCallbacks.erase(port);
    }
    return result;
}

BOOL WINAPI PlayM4_OpenFile(LONG port, char *path) {
    State &s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    LONG result = record(s, "PlayM4_OpenFile", {port, (LONG_PTR)path}, path);
    if (result) {
        s.openFiles.insert(port);
    }
    return result;
}

BOOL WINAPI PlayM4_CloseFile(LONG port) {
    State &s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    LONG result = record(s, "PlayM4_CloseFile", {port});
    if (result) {
        s.openFiles.erase(port);
    }
    return result;
}

BOOL WINAPI PlayM4_SetFileEndMsg(LONG port, HWND window, UINT message) {
    return call("PlayM4_SetFileEndMsg", port, window, message);
}

BOOL WINAPI PlayM4_SetFileRefCallBack(LONG port, FileRefCallBack callback, DWORD_PTR user) {
    return call("PlayM4_SetFileRefCallBack", port, callback, user);
}

BOOL WINAPI PlayM4_SetDisplayCallBack(LONG port, DisplayCallBack callback) {
    State &s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    LONG result = record(s, "PlayM4_SetDisplayCallBack", {port, (LONG_PTR)callback});
    if (result) {
        if (callback) {
            s.displayCallbacks[port] = callback;
        } else {
            s.displayCallbacks.erase(port);
        }
    }
    return result;
}

BOOL WINAPI PlayM4_Play(LONG port, HWND window) {
    return call("PlayM4_Play", port, window);
}
BOOL WINAPI PlayM4_Pause(LONG port, DWORD pause) {
    return call("PlayM4_Pause", port, pause);
}
BOOL WINAPI PlayM4_Stop(LONG port) {
    return call("PlayM4_Stop", port);
}
BOOL WINAPI PlayM4_RefreshPlay(LONG port) {
    return call("PlayM4_RefreshPlay", port);
}
BOOL WINAPI PlayM4_Fast(LONG port) {
    return call("PlayM4_Fast", port);
}
BOOL WINAPI PlayM4_Slow(LONG port) {
    return call("PlayM4_Slow", port);
}
BOOL WINAPI PlayM4_ThrowBFrameNum(LONG port, DWORD count) {
    return call("PlayM4_ThrowBFrameNum", port, count);
}
BOOL WINAPI PlayM4_PlaySound(LONG port) {
    return call("PlayM4_PlaySound", port);
}
BOOL WINAPI PlayM4_StopSound(void) {
    return call("PlayM4_StopSound");
}

BOOL WINAPI PlayM4_SetPlayPos(LONG port, float position) {
    State &s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    return record(s, "PlayM4_SetPlayPos", {port}, nullptr, &position);
}

float WINAPI PlayM4_GetPlayPos(LONG port) {
    State &s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    record(s, "PlayM4_GetPlayPos", {port});
    return s.playPos;
}

BOOL WINAPI PlayM4_SetVolume(LONG port, WORD volume) {
    return call("PlayM4_SetVolume", port, volume);
}
WORD WINAPI PlayM4_GetVolume(LONG port) {
    return static_cast<WORD>(call("PlayM4_GetVolume", port));
}
DWORD WINAPI PlayM4_GetFileTime(LONG port) {
    return static_cast<DWORD>(call("PlayM4_GetFileTime", port));
}
DWORD WINAPI PlayM4_GetPlayedTime(LONG port) {
    return static_cast<DWORD>(call("PlayM4_GetPlayedTime", port));
}
DWORD WINAPI PlayM4_GetPlayedTimeEx(LONG port) {
    return static_cast<DWORD>(call("PlayM4_GetPlayedTimeEx", port));
}
BOOL WINAPI PlayM4_SetPlayedTimeEx(LONG port, DWORD ms) {
    return call("PlayM4_SetPlayedTimeEx", port, ms);
}
DWORD WINAPI PlayM4_GetFileTotalFrames(LONG port) {
    return static_cast<DWORD>(call("PlayM4_GetFileTotalFrames", port));
}
DWORD WINAPI PlayM4_GetCurrentFrameNum(LONG port) {
    return static_cast<DWORD>(call("PlayM4_GetCurrentFrameNum", port));
}
BOOL WINAPI PlayM4_SetCurrentFrameNum(LONG port, DWORD frame) {
    return call("PlayM4_SetCurrentFrameNum", port, frame);
}

BOOL WINAPI PlayM4_GetPictureSize(LONG port, LONG *width, LONG *height) {
    State &s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    LONG result = record(s, "PlayM4_GetPictureSize", {port, (LONG_PTR)width, (LONG_PTR)height});
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

BOOL WINAPI PlayM4_OneByOne(LONG port) {
    return call("PlayM4_OneByOne", port);
}
BOOL WINAPI PlayM4_OneByOneBack(LONG port) {
    return call("PlayM4_OneByOneBack", port);
}

namespace {
BOOL keyFrameSearch(const char *function, LONG port, DWORD value, DWORD type,
                    FramePosition *position) {
    State &s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    LONG result = record(s, function, {port, (LONG_PTR)value, (LONG_PTR)type, (LONG_PTR)position});
    if (result && position) {
        *position = s.keyFrame;
    }
    return result;
}
} // namespace

BOOL WINAPI PlayM4_GetNextKeyFramePos(LONG port, DWORD value, DWORD type, FramePosition *position) {
    return keyFrameSearch("PlayM4_GetNextKeyFramePos", port, value, type, position);
}
BOOL WINAPI PlayM4_GetKeyFramePos(LONG port, DWORD value, DWORD type, FramePosition *position) {
    return keyFrameSearch("PlayM4_GetKeyFramePos", port, value, type, position);
}

namespace {
BOOL capture(const char *function, LONG port, BYTE *buffer, DWORD size, DWORD *written) {
    State &s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    LONG result = record(s, function, {port, (LONG_PTR)buffer, (LONG_PTR)size, (LONG_PTR)written});
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

BOOL WINAPI PlayM4_GetBMP(LONG port, BYTE *buffer, DWORD size, DWORD *written) {
    return capture("PlayM4_GetBMP", port, buffer, size, written);
}
BOOL WINAPI PlayM4_GetJPEG(LONG port, BYTE *buffer, DWORD size, DWORD *written) {
    return capture("PlayM4_GetJPEG", port, buffer, size, written);
}

DWORD WINAPI PlayM4_GetLastError(LONG port) {
    State &s = state();
    std::lock_guard<std::mutex> hold(s.lock);
    record(s, "PlayM4_GetLastError", {port});
    return s.lastError;
}

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
    // Getters answer 0 unless scripted.
    for (const char *getter :
         {"PlayM4_GetVolume", "PlayM4_GetFileTime", "PlayM4_GetPlayedTime",
          "PlayM4_GetPlayedTimeEx", "PlayM4_GetFileTotalFrames", "PlayM4_GetCurrentFrameNum"}) {
        s.scripts[getter].result = 0;
    }
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
    if (!call || index < 0 || index >= static_cast<int>(state().calls.size())) {
        return 0;
    }
    *call = state().calls[static_cast<size_t>(index)];
    return 1;
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
