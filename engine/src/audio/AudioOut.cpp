#include "audio/AudioOut.h"

#include "base/Errors.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace playctrl {

namespace {
constexpr int kBuffers = 64;
constexpr int64_t kAheadMs = 300;    // queued beyond what is heard
constexpr int64_t kStartMs = 100;    // queued before a cue is heard
constexpr int64_t kLowMs = 80;       // less than this queued and no sound to hand: silence
constexpr int64_t kSilenceMs = 20;   // silence is written in pieces this long
constexpr int64_t kToleranceMs = 10; // a piece this near its place is written as it comes
constexpr int64_t kFreshMs = 150;    // a primed cue this young is heard from its start
constexpr int64_t kPollMs = 5;
constexpr auto kIdleOn = std::chrono::seconds(5);     // halted this long, the thread ends
constexpr auto kIdlePrimed = std::chrono::seconds(2); // primed and never switched on
constexpr auto kAwait = std::chrono::seconds(2);      // the picture waits for a cue this long
constexpr int64_t kMaxPiece = 8192;                   // samples in one wave buffer

void sleepMs(int64_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
} // namespace

struct AudioOut::Output {
    struct WaveBuffer {
        WAVEHDR header = {};
        std::vector<int16_t> data;
        bool prepared = false;
    };
    std::vector<WaveBuffer> buffers = std::vector<WaveBuffer>(kBuffers);
    SoundTrack::Piece piece;
    bool havePiece = false;
    int64_t next = 0;    // media time of the next sample written, in samples
    int64_t written = 0; // samples written since the cue
    int64_t cueMs = 0;
    bool hearing = false; // the device plays this cue
    std::chrono::steady_clock::time_point idleSince = std::chrono::steady_clock::now();
};

namespace {
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

void AudioOut::run(std::string path) {
    Output out;
    try {
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST);
        SoundTrack track;
        if (!track.open(path, &abort_) || !openDevice(track.rate())) {
            std::lock_guard<std::mutex> lock(state_);
            silentPath_ = path; // no sound, or no device for it
            threadEnded_ = true;
            return;
        }
        {
            uint64_t gen = 0;
            Cue cue;
            bool playing = false, on = false;
            while (!takeWork(track, cue, playing, on, out)) {
                if (cue.gen != gen) {
                    gen = cue.gen;
                    restartAt(track, out, cue);
                }
                if (playing) {
                    fill(track, out, gen);
                    if (on) {
                        startHearing(out, gen);
                    }
                }
                sleepMs(kPollMs);
            }
        }
    } catch (...) {
    }
    closeDevice(out);
    std::lock_guard<std::mutex> lock(state_);
    threadEnded_ = true;
}

bool AudioOut::takeWork(SoundTrack &track, Cue &cue, bool &playing, bool &on, Output &out) {
    std::lock_guard<std::mutex> lock(state_);
    const auto now = std::chrono::steady_clock::now();
    if (playing_ && on_) {
        out.idleSince = now;
    }
    if (quit_ || now - out.idleSince > (on_ ? kIdleOn : kIdlePrimed)) {
        return true;
    }
    cue = cue_;
    if (placed_) {
        placed_ = false;
        track.place(cue_.placement);
    }
    playing = playing_;
    on = on_;
    return false;
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

void AudioOut::restartAt(SoundTrack &track, Output &out, const Cue &cue) {
    silence();
    if (cue.placement) {
        track.place(cue.placement);
    }
    track.seek(cue.ms, cue.pos);
    out.havePiece = false;
    out.next = cue.ms * rate_ / 1000;
    out.written = 0;
    out.cueMs = cue.ms;
    out.hearing = false;
}

// Queues sound up to kAheadMs beyond what is heard, each piece at its place on the timeline:
// silence where there is no sound, and sound that comes too early is left out, never moved.
void AudioOut::fill(SoundTrack &track, Output &out, uint64_t gen) {
    const int64_t tolerance = rate_ * kToleranceMs / 1000;
    for (;;) {
        int64_t queued;
        {
            std::lock_guard<std::mutex> lock(waveMutex_);
            queued = out.written - (out.hearing ? playedLocked() : 0);
        }
        if (gen_ != gen || queued >= rate_ * kAheadMs / 1000) {
            return;
        }
        if (!out.havePiece) {
            if (!track.next(out.piece)) {
                // Nothing more now (the track ended or the file is still being written):
                // silence keeps the clock going.
                if (queued < rate_ * kLowMs / 1000) {
                    write(out, nullptr, rate_ * kSilenceMs / 1000, gen);
                }
                return;
            }
            out.havePiece = true;
        }
        SoundTrack::Piece &p = out.piece;
        const int64_t count = static_cast<int64_t>(p.samples.size() / 2);
        const int64_t gap = p.timed ? p.at - out.next : 0;
        if (gap > tolerance) {
            write(out, nullptr, std::min(gap, rate_ * kSilenceMs / 1000), gen);
            continue;
        }
        const int64_t skip = gap < -tolerance ? -gap : 0;
        out.havePiece = false;
        if (skip < count) {
            write(out, p.samples.data() + skip * 2, count - skip, gen);
        }
    }
}

void AudioOut::write(Output &out, const int16_t *samples, int64_t count, uint64_t gen) {
    while (count > 0) {
        Output::WaveBuffer *buffer = nullptr;
        while (!buffer) {
            for (auto &b : out.buffers) {
                if (!b.prepared || (b.header.dwFlags & WHDR_DONE)) {
                    buffer = &b;
                    break;
                }
            }
            if (gen_ != gen || abort_) {
                return;
            }
            if (!buffer) {
                sleepMs(kPollMs);
            }
        }
        const int64_t n = std::min(count, kMaxPiece);
        std::lock_guard<std::mutex> lock(waveMutex_);
        if (gen_ != gen) {
            return;
        }
        if (buffer->prepared) {
            waveOutUnprepareHeader(wave_, &buffer->header, sizeof(WAVEHDR));
            buffer->prepared = false;
        }
        if (samples) {
            buffer->data.assign(samples, samples + n * 2);
            samples += n * 2;
        } else {
            buffer->data.assign(static_cast<size_t>(n) * 2, 0);
        }
        buffer->header = {};
        buffer->header.lpData = reinterpret_cast<char *>(buffer->data.data());
        buffer->header.dwBufferLength = static_cast<DWORD>(n * 4);
        waveOutPrepareHeader(wave_, &buffer->header, sizeof(WAVEHDR));
        buffer->prepared = true;
        waveOutWrite(wave_, &buffer->header, sizeof(WAVEHDR));
        out.written += n;
        out.next += n;
        count -= n;
    }
}

// Once enough is queued, the cue is heard: the device runs from here, and its position counts
// from here.
void AudioOut::startHearing(Output &out, uint64_t gen) {
    if (out.hearing || out.written < rate_ * kStartMs / 1000) {
        return;
    }
    std::lock_guard<std::mutex> lock(waveMutex_);
    if (gen_ != gen) {
        return;
    }
    MMTIME time = {};
    time.wType = TIME_BYTES;
    waveOutGetPosition(wave_, &time, sizeof time);
    heardBase_ = time.u.cb;
    heardFromMs_ = out.cueMs;
    heardGen_ = gen;
    out.hearing = true;
    waveOutRestart(wave_);
}

void AudioOut::closeDevice(Output &out) {
    std::lock_guard<std::mutex> lock(waveMutex_);
    heardGen_ = 0;
    if (!wave_) {
        return;
    }
    waveOutReset(wave_);
    for (auto &b : out.buffers) {
        if (b.prepared) {
            waveOutUnprepareHeader(wave_, &b.header, sizeof(WAVEHDR));
        }
    }
    waveOutClose(wave_);
    wave_ = nullptr;
}

} // namespace playctrl
