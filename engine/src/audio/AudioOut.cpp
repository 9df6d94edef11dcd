#include "audio/AudioOut.h"

#include "base/Errors.h"

namespace playctrl {

namespace {
constexpr int64_t kFreshMs = 150;                // a primed cue this young is heard from its start
constexpr auto kAwait = std::chrono::seconds(2); // the picture waits for a cue this long

// A device opened in this process: the sound system works, and is not asked again (that would
// wait for a sound thread opening its device just now).
std::atomic<bool> deviceOpened{false};
} // namespace

bool AudioOut::start(WORD volume) {
    const auto asked = std::chrono::steady_clock::now();
    volume_ = volume;
    if (!deviceOpened) {
        probeDevice();
    }
    return switchOn(asked);
}

// Probe a device now so that a missing one fails the call rather than the thread.
void AudioOut::probeDevice() {
    if (waveOutGetNumDevs() == 0) {
        throw EngineError{kCreateSoundDevice};
    }
    WAVEFORMATEX probe = {};
    probe.wFormatTag = WAVE_FORMAT_PCM;
    probe.nChannels = 2;
    probe.nSamplesPerSec = 44100;
    probe.wBitsPerSample = 16;
    probe.nBlockAlign = 4;
    probe.nAvgBytesPerSec = 44100 * 4;
    if (waveOutOpen(nullptr, WAVE_MAPPER, &probe, 0, 0, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR) {
        throw EngineError{kCreateSoundDevice};
    }
}

bool AudioOut::switchOn(std::chrono::steady_clock::time_point asked) {
    std::lock_guard<std::mutex> control(control_);
    std::lock_guard<std::mutex> lock(state_);
    const bool wasOn = on_;
    on_ = true;
    if (!playing_) {
        return false; // the next cue starts it
    }
    if (threadEnded_) {
        return true;
    }
    // A thread that primed just now is heard from its cue on; one primed a while ago is cued
    // afresh.
    return !wasOn && asked - cuedAt_ > std::chrono::milliseconds(kFreshMs);
}

bool AudioOut::audible() {
    std::lock_guard<std::mutex> lock(state_);
    return on_ && !threadEnded_; // the thread ends at once on a file without sound
}

void AudioOut::stop() {
    std::lock_guard<std::mutex> control(control_);
    {
        std::lock_guard<std::mutex> lock(state_);
        on_ = false;
        quit_ = true;
    }
    abort_ = true;
    thread_.join();
}

void AudioOut::setVolume(WORD volume) {
    volume_ = volume;
    std::lock_guard<std::mutex> lock(waveMutex_);
    if (wave_) {
        waveOutSetVolume(wave_, MAKELONG(volume, volume));
    }
}

void AudioOut::cue(LONG port, const std::string &utf8Path, int64_t ms, int64_t pos,
                   std::shared_ptr<const SoundPlacement> placement, bool prime) {
    std::lock_guard<std::mutex> control(control_);
    bool launch;
    {
        std::lock_guard<std::mutex> lock(state_);
        cue_ = {cue_.gen + 1, ms, pos, std::move(placement)};
        gen_ = cue_.gen;
        playing_ = true;
        cuedAt_ = std::chrono::steady_clock::now();
        primed_ = prime;
        launch = threadEnded_ && (on_ || prime) && silentPath_ != utf8Path;
        quit_ = quit_ && !launch;
    }
    silence();
    if (!launch) {
        return;
    }
    thread_.join();
    abort_ = false;
    std::lock_guard<std::mutex> lock(state_);
    threadEnded_ = false;
    try {
        thread_.start(port, [this, utf8Path] { run(utf8Path); });
    } catch (...) {
        threadEnded_ = true; // out of threads: the port plays on without sound
    }
}

void AudioOut::place(std::shared_ptr<const SoundPlacement> placement) {
    std::lock_guard<std::mutex> lock(state_);
    cue_.placement = std::move(placement);
    placed_ = true;
}

void AudioOut::halt(bool drain) {
    {
        std::lock_guard<std::mutex> lock(state_);
        playing_ = false;
        if (!drain) {
            cue_.gen += 1;
            gen_ = cue_.gen;
        }
    }
    if (drain) {
        std::lock_guard<std::mutex> lock(waveMutex_);
        heardGen_ = 0;
    } else {
        silence();
    }
}

void AudioOut::silence() {
    std::lock_guard<std::mutex> lock(waveMutex_);
    heardGen_ = 0;
    if (wave_) {
        waveOutReset(wave_);
        waveOutPause(wave_);
    }
}

bool AudioOut::awaited() {
    std::lock_guard<std::mutex> lock(state_);
    const auto age = std::chrono::steady_clock::now() - cuedAt_;
    if (!playing_ || threadEnded_ || age > kAwait ||
        !(on_ || (primed_ && age < std::chrono::milliseconds(kFreshMs)))) {
        return false;
    }
    std::lock_guard<std::mutex> wave(waveMutex_);
    return heardGen_ != gen_;
}

void AudioOut::warmUp() {
    static std::once_flag once;
    std::call_once(once, [] {
        try {
            ModuleThread thread;
            thread.start(-1, [] { waveOutGetNumDevs(); });
            thread.detach();
        } catch (...) {
        }
    });
}

bool AudioOut::heardMs(int64_t *ms) {
    std::lock_guard<std::mutex> lock(waveMutex_);
    if (!wave_ || heardGen_ == 0 || heardGen_ != gen_) {
        return false;
    }
    const int64_t played = playedLocked();
    if (played <= 0) {
        return false; // the device has not started yet
    }
    *ms = heardFromMs_ + played * 1000 / rate_;
    return true;
}

int64_t AudioOut::playedLocked() const {
    if (heardGen_ == 0) {
        return 0;
    }
    MMTIME time = {};
    time.wType = TIME_BYTES;
    if (waveOutGetPosition(wave_, &time, sizeof time) != MMSYSERR_NOERROR ||
        time.wType != TIME_BYTES) {
        return 0;
    }
    // Unsigned: the count wraps after 4 GB.
    return static_cast<int64_t>(static_cast<DWORD>(time.u.cb - heardBase_) / 4);
}

bool AudioOut::openDevice(int rate) {
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = rate * 4;
    std::lock_guard<std::mutex> lock(waveMutex_);
    if (waveOutOpen(&wave_, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        wave_ = nullptr;
        return false;
    }
    deviceOpened = true;
    waveOutPause(wave_); // silent until a cue is heard
    waveOutSetVolume(wave_, MAKELONG(volume_.load(), volume_.load()));
    rate_ = rate;
    return true;
}

} // namespace playctrl
