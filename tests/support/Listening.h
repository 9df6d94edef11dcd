// Listening to what the engine plays, for the engine tests and the sound benchmark. The test
// runner's sound server plays into a null sink (scripts/wine-session.sh); a Recording records that
// sink's monitor with parec for the length of a test, ties the recording to this process's clock
// by a click of its own, and names the tone heard in each 10 ms of it. The clips that are listened
// to (make-media.sh) sound 300 + 100·k Hz in their second k.
#ifndef KESTRAVA_TESTS_SUPPORT_LISTENING_H
#define KESTRAVA_TESTS_SUPPORT_LISTENING_H

#include "Harness.h"

#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace listening {

constexpr int kRate = 48000;         // the recording: mono, 16-bit
constexpr int kWindow = kRate / 100; // 10 ms
constexpr int kTones = 10;           // seconds 0..9 of a clip
constexpr double kPi = 3.14159265358979323846;

inline double toneHz(int second) {
    return 300.0 + 100.0 * second;
}

// One 10 ms window: when it was heard, on harness::nowMs()'s clock; the second of the clip whose
// tone it is (-1: silence, or no single tone); its amplitude, as a fraction of full scale.
struct Window {
    double ms;
    int tone;
    double amplitude;
};

// Goertzel filters at the ten tones over each window: a window holds a whole number of periods
// of each, so a steady tone shows in its own filter only. A tone is named where it carries most
// of the window's power.
inline std::vector<Window> tonesOf(const std::vector<int16_t> &samples, double firstMs) {
    std::vector<Window> windows;
    for (size_t at = 0; at + kWindow <= samples.size(); at += kWindow) {
        double power = 0;
        for (int i = 0; i < kWindow; ++i) {
            const double x = samples[at + i] / 32768.0;
            power += x * x;
        }
        const double amplitude = std::sqrt(2 * power / kWindow);
        int best = -1;
        double bestAmplitude = 0;
        for (int k = 0; k < kTones; ++k) {
            const double c = 2 * std::cos(2 * kPi * toneHz(k) / kRate);
            double s1 = 0, s2 = 0;
            for (int i = 0; i < kWindow; ++i) {
                const double s = samples[at + i] / 32768.0 + c * s1 - s2;
                s2 = s1;
                s1 = s;
            }
            const double a =
                2 * std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - c * s1 * s2)) / kWindow;
            if (a > bestAmplitude) {
                best = k;
                bestAmplitude = a;
            }
        }
        const bool tone = amplitude > 0.01 && bestAmplitude > 0.8 * amplitude;
        windows.push_back({firstMs + 1000.0 * at / kRate, tone ? best : -1, amplitude});
    }
    return windows;
}

// A stretch of one tone, at least 50 ms long; a window or two of something else inside it (a
// change of second that falls inside a window) does not end it.
struct ToneRun {
    int tone;
    double startMs, endMs, amplitude; // the median amplitude of its windows
};

inline std::vector<ToneRun> runsOf(const std::vector<Window> &windows) {
    std::vector<ToneRun> runs;
    std::vector<std::vector<double>> amplitudes;
    for (const Window &w : windows) {
        if (w.tone < 0) {
            continue;
        }
        if (runs.empty() || runs.back().tone != w.tone || w.ms - runs.back().endMs > 30) {
            runs.push_back({w.tone, w.ms, w.ms, 0});
            amplitudes.emplace_back();
        }
        runs.back().endMs = w.ms + 10;
        amplitudes.back().push_back(w.amplitude);
    }
    std::vector<ToneRun> kept;
    for (size_t i = 0; i < runs.size(); ++i) {
        if (runs[i].endMs - runs[i].startMs >= 50) {
            std::sort(amplitudes[i].begin(), amplitudes[i].end());
            runs[i].amplitude = amplitudes[i][amplitudes[i].size() / 2];
            kept.push_back(runs[i]);
        }
    }
    return kept;
}

// When each second of the clip was first heard, on the test's clock (0 where it was not), from
// the runs heard between fromMs and toMs.
inline std::vector<double> secondsHeard(const std::vector<ToneRun> &runs, double fromMs = 0,
                                        double toMs = 1e300) {
    std::vector<double> at(kTones, 0.0);
    for (const ToneRun &r : runs) {
        if (r.startMs >= fromMs && r.startMs < toMs && at[r.tone] == 0.0) {
            at[r.tone] = r.startMs;
        }
    }
    return at;
}

// The offsets of each second heard from its picture (positive: the sound late), in ms.
// shownAt[k]: when the picture of second k was shown (0: not shown).
inline std::vector<double> offsets(const std::vector<double> &heardAt,
                                   const std::vector<double> &shownAt) {
    std::vector<double> out;
    for (size_t k = 0; k < heardAt.size() && k < shownAt.size(); ++k) {
        if (heardAt[k] > 0 && shownAt[k] > 0) {
            out.push_back(heardAt[k] - shownAt[k]);
        }
    }
    return out;
}

// The runs heard between two moments, for a failure's message: "second@ms+length", the
// moments from `fromMs`.
inline std::string describe(const std::vector<ToneRun> &runs, double fromMs, double toMs) {
    std::string text;
    char run[48];
    for (const ToneRun &r : runs) {
        if (r.endMs > fromMs && r.startMs < toMs) {
            std::snprintf(run, sizeof run, " %d@%.0f+%.0f", r.tone, r.startMs - fromMs,
                          r.endMs - r.startMs);
            text += run;
        }
    }
    return text.empty() ? " nothing" : text;
}

inline double median(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The runner's sink recorded for the life of this object, by parec into a file. The file's
// growth, watched all along, ties the recording to this process's clock: the null sink hands
// each 10 ms to its monitor as it plays it, and parec writes it at once.
class Recording {
  public:
    Recording() {
        const char *sink = std::getenv("KESTRAVA_SOUND_SINK");
        if (!sink || !*sink) {
            why_ = "no sound server of the test runner's to listen to (scripts/wine-session.sh)";
            return;
        }
        char dir[MAX_PATH];
        GetTempPathA(MAX_PATH, dir);
        file_ = std::string(dir) + "kestrava-heard-" + std::to_string(GetCurrentProcessId());
        const std::string unixFile = unixPath(file_), pidFile = unixPath(file_ + ".pid");
        DeleteFileA(file_.c_str());
        if (unixFile.empty()) {
            why_ = "no Unix path for " + file_;
            return;
        }
        // A Unix program, started by Wine as any other; it ends itself should the test not.
        run("/bin/sh -c \"echo $$ >'" + pidFile + "'; exec timeout -s INT 600 parec --raw " +
                "--format=s16le --rate=" + std::to_string(kRate) + " --channels=1 " +
                "--latency-msec=10 --device=" + sink + ".monitor >'" + unixFile +
                "' 2>/dev/null </dev/null\"",
            false);
        watcher_ = CreateThread(nullptr, 0, &Recording::watch, this, 0, nullptr);
        if (!harness::waitFor([&] { return grown_ > 0; }, 5000, 10)) {
            why_ = "parec recorded nothing from the sink " + std::string(sink);
        }
    }
    ~Recording() {
        stop();
        DeleteFileA(file_.c_str());
        DeleteFileA((file_ + ".pid").c_str());
    }
    Recording(const Recording &) = delete;
    Recording &operator=(const Recording &) = delete;

    // Why this cannot listen; empty when it can.
    const std::string &unavailable() const { return why_; }

    // Plays a click through waveOut two seconds into a stream of its own, and notes when
    // waveOutGetPosition passes it (blocks about 2.2 s): positionLeadMs() then says how much
    // earlier that is than the click is heard.
    void click() {
        WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, kRate, kRate * 2, 2, 16, 0};
        HWAVEOUT wave = nullptr;
        if (waveOutOpen(&wave, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
            return;
        }
        std::vector<int16_t> stream(kRate * 5 / 2, 0);
        for (int i = 0; i < kRate / 200; ++i) { // 5 ms of 3 kHz, no tone of the clips
            stream[kClickAt + i] =
                static_cast<int16_t>(16000 * std::sin(2 * kPi * 3000 * i / kRate));
        }
        WAVEHDR header = {};
        header.lpData = reinterpret_cast<char *>(stream.data());
        header.dwBufferLength = static_cast<DWORD>(stream.size() * 2);
        waveOutPrepareHeader(wave, &header, sizeof header);
        waveOutWrite(wave, &header, sizeof header);
        const double start = harness::nowMs();
        MMTIME position = {};
        position.wType = TIME_SAMPLES;
        while (clickMs_ == 0 && harness::nowMs() - start < 10000) {
            waveOutGetPosition(wave, &position, sizeof position);
            const double now = harness::nowMs();
            if (position.wType == TIME_SAMPLES && position.u.sample >= DWORD(kClickAt)) {
                clickMs_ = now - (position.u.sample - kClickAt) * 1000.0 / kRate;
            }
            Sleep(1);
        }
        Sleep(300);
        waveOutReset(wave);
        waveOutUnprepareHeader(wave, &header, sizeof header);
        waveOutClose(wave);
    }

    // Ends the recording and names what was heard; false, with unavailable() saying why, when
    // it did not keep real time (a sink or a recorder that fell behind): its length against
    // this process's clock.
    bool finish() {
        Sleep(200); // what was played last reaches the file
        stop();
        if (!why_.empty()) {
            return false;
        }
        // Where sample 0 lies on the clock, seen from each look at the file: the median of the
        // first and of the last fifth of the looks agree where the sink kept time.
        std::vector<double> zero;
        for (const auto &look : looks_) {
            zero.push_back(look.first - look.second / 2 * 1000.0 / kRate);
        }
        const size_t fifth = zero.size() / 5;
        if (fifth < 10) {
            why_ = "too short a recording";
            return false;
        }
        const double early = median({zero.begin(), zero.begin() + fifth});
        const double late = median({zero.end() - fifth, zero.end()});
        const double span = looks_.back().first - looks_.front().first;
        if (std::abs(late - early) > std::max(50.0, span / 100)) {
            char text[160];
            std::snprintf(text, sizeof text,
                          "the sink did not keep real time: %.0f ms behind in %.0f ms",
                          late - early, span);
            why_ = text;
            return false;
        }
        zeroMs_ = median(zero);
        windows = tonesOf(read(), zeroMs_);
        return true;
    }

    // How much earlier waveOutGetPosition passed the click than the click was heard; 0 when
    // the click was not played or not found.
    double positionLeadMs() const {
        if (clickMs_ == 0 || windows.empty()) {
            return 0;
        }
        const std::vector<int16_t> samples = read();
        const size_t from =
            static_cast<size_t>(std::max(0.0, (clickMs_ - zeroMs_ - 1000) * kRate / 1000));
        for (size_t i = from; i < samples.size(); ++i) {
            if (std::abs(samples[i]) >= 4000) {
                return zeroMs_ + 1000.0 * i / kRate - clickMs_;
            }
        }
        return 0;
    }

    std::vector<Window> windows; // after finish()

  private:
    static constexpr int kClickAt = 2 * kRate;

    static std::string unixPath(const std::string &windowsPath) {
        using ToUnix = char *(CDECL *)(const WCHAR *);
        auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void *>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
        std::wstring wide(windowsPath.begin(), windowsPath.end());
        char *path = toUnix ? toUnix(wide.c_str()) : nullptr;
        std::string out = path ? path : "";
        HeapFree(GetProcessHeap(), 0, path);
        return out;
    }

    static void run(std::string command, bool wait) {
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi = {};
        if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                           &pi)) {
            if (wait) {
                WaitForSingleObject(pi.hProcess, 5000);
            }
            CloseHandle(pi.hThread);
            CloseHandle(pi.hProcess);
        }
    }

    // Notes the file's length and the time, every 2 ms, each time it grew.
    static DWORD WINAPI watch(void *self) {
        auto *r = static_cast<Recording *>(self);
        while (!r->stopping_) {
            WIN32_FILE_ATTRIBUTE_DATA data;
            const double now = harness::nowMs();
            if (GetFileAttributesExA(r->file_.c_str(), GetFileExInfoStandard, &data) &&
                data.nFileSizeLow > r->grown_) {
                r->grown_ = data.nFileSizeLow;
                r->looks_.emplace_back(now, static_cast<double>(data.nFileSizeLow));
            }
            Sleep(2);
        }
        return 0;
    }

    void stop() {
        if (watcher_) {
            stopping_ = true;
            WaitForSingleObject(watcher_, INFINITE);
            CloseHandle(watcher_);
            watcher_ = nullptr;
        }
        if (!stopped_ && !file_.empty()) {
            stopped_ = true;
            run("/bin/sh -c \"kill -INT $(cat '" + unixPath(file_ + ".pid") + "') 2>/dev/null\"",
                true);
        }
    }

    std::vector<int16_t> read() const {
        std::vector<int16_t> samples;
        HANDLE f = CreateFileA(file_.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        if (f == INVALID_HANDLE_VALUE) {
            return samples;
        }
        samples.resize(GetFileSize(f, nullptr) / 2);
        DWORD got = 0;
        ReadFile(f, samples.data(), static_cast<DWORD>(samples.size() * 2), &got, nullptr);
        samples.resize(got / 2);
        CloseHandle(f);
        return samples;
    }

    std::string why_, file_;
    HANDLE watcher_ = nullptr;
    std::atomic<bool> stopping_{false};
    std::atomic<DWORD> grown_{0};
    std::vector<std::pair<double, double>> looks_; // (ms, bytes), by the watcher until stop()
    bool stopped_ = false;
    double clickMs_ = 0, zeroMs_ = 0;
};

} // namespace listening

#endif
