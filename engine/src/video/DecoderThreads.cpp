#include "video/DecoderThreads.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace playctrl {

namespace {
// FFmpeg's own limit on frame threads.
constexpr int kMostThreads = 16;

struct Shares {
    std::mutex mutex; // a leaf: guards the counts below
    int decoders = 0; // decoders holding a share
    int threads = 0;  // threads of the decoders that run more than one
};

Shares &shares() {
    static Shares *s = new Shares; // never destroyed: decoders may close at process exit
    return *s;
}
} // namespace

DecoderThreads &DecoderThreads::operator=(DecoderThreads &&other) noexcept {
    if (this != &other) {
        release();
        threads_ = other.threads_;
        other.threads_ = 0;
    }
    return *this;
}

int DecoderThreads::cores() {
    char text[16] = {};
    DWORD length = GetEnvironmentVariableA("KESTRAVA_ENGINE_CORES", text, sizeof text);
    if (length > 0 && length < sizeof text) {
        int n = std::atoi(text);
        if (n > 0) {
            return std::min(n, 1024);
        }
    }
    SYSTEM_INFO info = {};
    GetSystemInfo(&info);
    return std::max<int>(1, static_cast<int>(info.dwNumberOfProcessors));
}

int DecoderThreads::take() {
    release();
    const int cores = DecoderThreads::cores();
    Shares &s = shares();
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.decoders;
    int threads = std::min({kMostThreads, cores / s.decoders, cores - s.threads});
    if (threads < 2) {
        threads = 1;
    } else {
        s.threads += threads;
    }
    threads_ = threads;
    return threads;
}

void DecoderThreads::release() {
    if (threads_ == 0) {
        return;
    }
    Shares &s = shares();
    std::lock_guard<std::mutex> lock(s.mutex);
    --s.decoders;
    if (threads_ > 1) {
        s.threads -= threads_;
    }
    threads_ = 0;
}

} // namespace playctrl
