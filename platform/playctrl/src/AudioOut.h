// The sound of one port: its own demuxer and decoder for the audio track, played through
// waveOut while the presentation clock runs at normal speed, kept near that clock.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace playctrl {

class AudioOut {
  public:
    ~AudioOut() { stop(); }

    // Throws EngineError{kCreateSoundDevice} when there is no audio device. A file without
    // sound starts nothing and succeeds.
    void start(const std::string &utf8Path, WORD volume, std::function<int64_t()> clockMs,
               std::function<bool()> running);
    void stop();
    void setVolume(WORD volume);
    bool isRunning() const { return thread_.joinable(); }

  private:
    void run(std::string path);

    std::function<int64_t()> clockMs_;
    std::function<bool()> running_;
    std::atomic<bool> quit_{false};
    std::atomic<bool> failed_{false};
    std::mutex waveMutex_; // guards wave_
    HWAVEOUT wave_ = nullptr;
    std::atomic<WORD> volume_{0xFFFF};
    std::thread thread_;
};

} // namespace playctrl
