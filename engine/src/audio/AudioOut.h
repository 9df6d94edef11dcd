// The sound of one port, on its own thread through waveOut. While it is heard at normal speed it
// is the port's master clock: heardMs() is the media time the device plays now, which the
// picture follows. The port cues it wherever playback (re)starts at normal speed and halts it
// wherever playback stands or leaves normal speed. A cue before the sound is on primes the
// device, silent, so that the sound is heard from the cue's first moment once it is switched on.
#ifndef KESTRAVA_PLAYCTRL_AUDIOOUT_H
#define KESTRAVA_PLAYCTRL_AUDIOOUT_H

#include <windows.h>
#include <mmsystem.h>

#include "audio/SoundTrack.h"
#include "base/ModuleThread.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace playctrl {

class AudioOut {
  public:
    ~AudioOut() { stop(); }

    // Sound on. Throws EngineError{kCreateSoundDevice} when there is no audio device. True when
    // playback has to cue the sound afresh: nothing primed it just now.
    bool start(WORD volume);
    // Sound off; waits for the sound thread's work to end.
    void stop();
    void setVolume(WORD volume);

    // Playback runs at normal speed from media time `ms` on; the sound is sought to it, from
    // byte `pos` of the file when that is known (-1: by time).
    // With `prime`, the sound thread starts even while the sound is off, silent.
    void cue(LONG port, const std::string &utf8Path, int64_t ms, int64_t pos,
             std::shared_ptr<const SoundPlacement> placement, bool prime);
    // The timeline grew (a file still being written): the sound goes on, placed on it.
    void place(std::shared_ptr<const SoundPlacement> placement);
    // Playback stands or leaves normal speed: silent at once. With `drain`, what is queued
    // plays out (the end of the file).
    void halt(bool drain = false);
    // The media time heard now, once the latest cue is heard.
    bool heardMs(int64_t *ms);
    // The latest cue is to be heard soon: the picture waits for it rather than run ahead.
    bool awaited();
    // The first use of the sound system in a process takes a second or more (under Wine): it is
    // made on a thread of its own while a file opens, before anything waits for it.
    static void warmUp();
    // Sound is switched on for a file that has a track to hear: the picture keeps to it.
    bool audible();

  private:
    struct Cue {
        uint64_t gen = 0;
        int64_t ms = 0;
        int64_t pos = -1;
        std::shared_ptr<const SoundPlacement> placement;
    };
    struct Output;

    static void probeDevice();
    bool switchOn(std::chrono::steady_clock::time_point asked);
    void run(std::string path);
    // True once the thread is to end.
    bool takeWork(SoundTrack &track, Cue &cue, bool &playing, bool &on, Output &out);
    bool openDevice(int rate);
    void restartAt(SoundTrack &track, Output &out, const Cue &cue);
    void fill(SoundTrack &track, Output &out, uint64_t gen);
    void write(Output &out, const int16_t *samples, int64_t count, uint64_t gen);
    void startHearing(Output &out, uint64_t gen);
    // Drops what is queued and pauses the device.
    void silence();
    int64_t playedLocked() const;
    void closeDevice(Output &out);

    // Serialises starting and joining the sound thread; taken before state_, never by it.
    std::mutex control_;
    std::mutex state_;     // guards the fields up to threadEnded_; taken before waveMutex_
    bool on_ = false;      // sound switched on
    bool playing_ = false; // cued and not halted
    Cue cue_;
    std::chrono::steady_clock::time_point cuedAt_;
    bool primed_ = false; // the latest cue came from Play
    bool placed_ = false; // the cue's placement changed since the thread took it
    std::string path_;
    std::string silentPath_; // a file found to have no sound
    bool quit_ = false;
    bool threadEnded_ = true;
    ModuleThread thread_;

    std::atomic<uint64_t> gen_{0}; // cue_.gen, for the sound thread's writes
    std::atomic<bool> abort_{false};
    std::atomic<WORD> volume_{0xFFFF};

    std::mutex waveMutex_; // guards the fields below; a leaf
    HWAVEOUT wave_ = nullptr;
    int rate_ = 0;
    uint64_t heardGen_ = 0; // the cue being heard; 0: none
    int64_t heardFromMs_ = 0;
    DWORD heardBase_ = 0; // the device's position where that cue starts, in bytes
};

} // namespace playctrl

#endif
