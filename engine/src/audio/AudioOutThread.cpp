// The sound thread: the track into the device, each piece at its place (the class: AudioOut.h).
#include "audio/AudioOut.h"

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
constexpr int64_t kPollMs = 5;
constexpr auto kIdleOn = std::chrono::seconds(5);     // halted this long, the thread ends
constexpr auto kIdlePrimed = std::chrono::seconds(2); // primed and never switched on
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