// The sound of one port: its own demuxer and decoder for the audio track, played through
// waveOut while the presentation clock runs at normal speed, kept near that clock.
#ifndef KESTRAVA_PLAYCTRL_AUDIOOUT_H
#define KESTRAVA_PLAYCTRL_AUDIOOUT_H

#include <windows.h>
#include <mmsystem.h>

#include "base/ModuleThread.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace playctrl {

class AudioOut {
  public:
    ~AudioOut() { stop(); }

    // Throws EngineError{kCreateSoundDevice} when there is no audio device. A file without
    // sound starts nothing and succeeds.
    void start(LONG port, const std::string &utf8Path, WORD volume,
               std::function<int64_t()> clockMs, std::function<bool()> running);
    // Sound off; waits for the sound thread's work to end.
    void stop();
    void setVolume(WORD volume);
    // The sound thread ends while the clock stands still, so that an idle port runs no thread;
    // this starts it again once the clock runs, if sound is on.
    void resume();
    // Sound is playing from the file's track.
    bool audible() const { return audible_; }

  private:
    struct WaveBuffer;
    struct Track;
    struct Output;

    void launch();
    // The sound thread.
    void run(std::string path);
    // False when the file has no sound this engine can play.
    bool openTrack(const std::string &path, Track &track);
    bool openDevice(int rate);
    // True once the thread is to end.
    bool standStill(Output &out);
    bool decodeNext(Track &track, Output &out);
    bool dueNow(const Track &track, Output &out);
    WaveBuffer *freeBuffer(Output &out);
    void queue(Track &track, Output &out);
    void closeDevice(Output &out);

    std::mutex control_; // guards the fields up to thread_, and starting and stopping
    LONG port_ = -1;
    std::string path_;
    bool on_ = false; // started and not stopped
    std::function<int64_t()> clockMs_;
    std::function<bool()> running_;
    ModuleThread thread_;

    std::atomic<bool> quit_{false};
    std::atomic<bool> failed_{false};
    std::atomic<bool> idle_{false}; // the thread ended because the clock stood still
    std::atomic<bool> audible_{false};
    std::mutex waveMutex_; // guards wave_
    HWAVEOUT wave_ = nullptr;
    std::atomic<WORD> volume_{0xFFFF};
};

} // namespace playctrl

#endif
