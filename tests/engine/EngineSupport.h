// Shared helpers of the engine tests: clip paths, an opened port, a frame recorder for the
// display callback and a window that counts the end-of-file message.
#ifndef KESTRAVA_TESTS_ENGINE_ENGINESUPPORT_H
#define KESTRAVA_TESTS_ENGINE_ENGINESUPPORT_H

#include "Harness.h"
#include "PlayM4.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace enginetest {

constexpr DWORD kClipFrames = 150; // every generated clip: 6 s at 25 fps
constexpr LONG kClipWidth = 320, kClipHeight = 240;
constexpr UINT kEndMessage = WM_USER + 33;

inline std::string media(const char *name) {
    return harness::media("KESTRAVA_ENGINE_MEDIA", name);
}

// Ten seconds unless the caller says otherwise.
inline bool waitFor(const std::function<bool()> &done, DWORD ms = 10000) {
    return harness::waitFor(done, ms, 2);
}

using harness::nowMs;

// The MD5 sum of a picture's bytes in hex, as the ffmpeg tool's framemd5 writes it.
inline std::string md5Of(const char *data, size_t size) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    BYTE sum[16];
    DWORD length = sizeof sum;
    std::string hex;
    if (CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        if (CryptCreateHash(provider, CALG_MD5, 0, 0, &hash)) {
            if (CryptHashData(hash, reinterpret_cast<const BYTE *>(data), static_cast<DWORD>(size),
                              0) &&
                CryptGetHashParam(hash, HP_HASHVAL, sum, &length, 0)) {
                for (DWORD i = 0; i < length; ++i) {
                    hex += "0123456789abcdef"[sum[i] >> 4];
                    hex += "0123456789abcdef"[sum[i] & 15];
                }
            }
            CryptDestroyHash(hash);
        }
        CryptReleaseContext(provider, 0);
    }
    return hex;
}
inline std::string md5Of(const std::vector<char> &bytes) {
    return md5Of(bytes.data(), bytes.size());
}

struct ShownFrame {
    LONG port, size, width, height, stamp, type, number;
    double at;       // nowMs() when the callback began
    std::string md5; // of the picture, while the recorder hashes
};

// Records every display callback; one process-wide instance, as the callback has no context.
class FrameRecorder {
  public:
    static FrameRecorder &instance() {
        static FrameRecorder recorder;
        return recorder;
    }
    static void CALLBACK onFrame(LONG port, char *data, LONG size, LONG width, LONG height,
                                 LONG stamp, LONG type, LONG number) {
        const double at = nowMs();
        FrameRecorder &r = instance();
        if (r.delayMs) {
            Sleep(r.delayMs);
        }
        if (r.hold) {
            ++r.held;
            while (r.hold) {
                Sleep(1);
            }
        }
        // Touch the whole buffer: a wrong size faults here.
        volatile char sum = 0;
        for (LONG i = 0; i < size; i += 97) {
            sum = static_cast<char>(sum + data[i]);
        }
        std::string md5 = r.hashing ? md5Of(data, static_cast<size_t>(size)) : std::string();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.frames.push_back({port, size, width, height, stamp, type, number, at, std::move(md5)});
        r.lastPicture.assign(data, data + size);
    }
    std::vector<ShownFrame> take() {
        std::lock_guard<std::mutex> lock(mutex);
        std::vector<ShownFrame> out;
        out.swap(frames);
        return out;
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return frames.size();
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex);
        frames.clear();
    }
    // The planes of the picture shown last.
    std::vector<char> picture() {
        std::lock_guard<std::mutex> lock(mutex);
        return lastPicture;
    }
    std::mutex mutex;
    std::vector<ShownFrame> frames;
    std::vector<char> lastPicture;
    std::atomic<DWORD> delayMs{0};    // how long each callback takes
    std::atomic<bool> hashing{false}; // whether each frame's picture is summed
    // While set, each callback waits on entry; `held` counts those that did.
    std::atomic<bool> hold{false};
    std::atomic<int> held{0};
};

// A port with a clip opened and its index complete; everything is released on scope exit.
class OpenClip {
  public:
    explicit OpenClip(const char *clip, bool withCallback = true) {
        FrameRecorder::instance().clear();
        FrameRecorder::instance().delayMs = 0;
        EXPECT_TRUE(PlayM4_GetPort(&port));
        std::string path = media(clip);
        EXPECT_TRUE(PlayM4_SetFileRefCallBack(port, &OpenClip::indexed, 0));
        EXPECT_TRUE(PlayM4_OpenFile(port, &path[0]))
            << path << " code " << PlayM4_GetLastError(port);
        EXPECT_TRUE(waitFor([] { return indexedPorts != 0; }));
        if (withCallback) {
            EXPECT_TRUE(PlayM4_SetDisplayCallBack(port, &FrameRecorder::onFrame));
        }
    }
    ~OpenClip() {
        PlayM4_SetDisplayCallBack(port, nullptr);
        PlayM4_CloseFile(port);
        PlayM4_FreePort(port);
        indexedPorts = 0;
    }
    static void CALLBACK indexed(DWORD, DWORD_PTR) { ++indexedPorts; }
    static inline volatile LONG indexedPorts = 0;
    LONG port = -1;
};

// A top-level window of the test thread that counts the end-of-file messages it receives.
class EndWindow {
  public:
    EndWindow() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = &EndWindow::proc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "KestravaEngineTest";
        RegisterClassA(&wc);
        hwnd = CreateWindowA("KestravaEngineTest", "engine test", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                             0, 0, 400, 300, nullptr, nullptr, wc.hInstance, nullptr);
        endMessages = 0;
    }
    ~EndWindow() { DestroyWindow(hwnd); }
    static LRESULT CALLBACK proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == kEndMessage) {
            ++endMessages;
        }
        return DefWindowProcA(w, msg, wp, lp);
    }
    HWND hwnd = nullptr;
    static inline int endMessages = 0;
};

} // namespace enginetest

#endif
