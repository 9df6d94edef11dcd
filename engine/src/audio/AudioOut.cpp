#include "audio/AudioOut.h"

#include "base/Errors.h"
#include "base/FfmpegPtr.h"
#include "demux/MediaInput.h"

#include <mmsystem.h>

#include <chrono>
#include <condition_variable>
#include <thread>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace playctrl {

namespace {
constexpr int kBuffers = 8;
constexpr int kAheadMs = 120;   // how far ahead of the clock sound is queued
constexpr int kBehindMs = 300;  // later than this, sound is dropped
constexpr int kResyncMs = 1000; // farther than this, the track is sought again
constexpr int kIdleMs = 500;    // the clock stands still this long: the thread ends

void sleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
} // namespace

void AudioOut::start(LONG port, const std::string &utf8Path, WORD volume,
                     std::function<int64_t()> clockMs, std::function<bool()> running) {
    volume_ = volume;
    std::lock_guard<std::mutex> lock(control_);
    if (on_ && thread_.running() && !failed_) {
        return;
    }
    quit_ = true;
    thread_.join();
    on_ = false;
    if (waveOutGetNumDevs() == 0) {
        throw EngineError{kCreateSoundDevice};
    }
    // Probe a device now so that a missing one fails the call rather than the thread.
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
    port_ = port;
    path_ = utf8Path;
    clockMs_ = std::move(clockMs);
    running_ = std::move(running);
    launch();
    on_ = true;
}

void AudioOut::launch() {
    quit_ = false;
    failed_ = false;
    idle_ = false;
    thread_.start(port_, [this, path = path_] { run(path); });
}

void AudioOut::resume() {
    std::lock_guard<std::mutex> lock(control_);
    if (!on_ || !idle_) {
        return;
    }
    thread_.join();
    try {
        launch();
    } catch (...) {
        on_ = false; // out of threads: the port plays on without sound
    }
}

void AudioOut::stop() {
    std::lock_guard<std::mutex> lock(control_);
    on_ = false;
    quit_ = true;
    thread_.join();
}

void AudioOut::setVolume(WORD volume) {
    volume_ = volume;
    std::lock_guard<std::mutex> lock(waveMutex_);
    if (wave_) {
        waveOutSetVolume(wave_, MAKELONG(volume, volume));
    }
}

struct AudioOut::WaveBuffer {
    WAVEHDR header = {};
    std::vector<char> data;
    bool prepared = false;
};

// The audio track and its decoder, converting to 16-bit stereo at the track's own rate.
struct AudioOut::Track {
    FormatContextPtr fmt;
    int stream = -1;
    AVStream *st = nullptr;
    CodecContextPtr dec;
    SwrContextPtr swr;
    int rate = 0;
    int64_t first = 0; // the track's first time stamp
};

// The buffers handed to waveOut and where the sound thread stands.
struct AudioOut::Output {
    std::vector<WaveBuffer> buffers = std::vector<WaveBuffer>(kBuffers);
    PacketPtr pkt{av_packet_alloc()};
    FramePtr frame{av_frame_alloc()};
    bool resync = true;
    bool justSought = false;
    bool outputIdle = true;
    int standingMs = 0;
    int64_t now = 0; // the clock when the frame was taken
};

void AudioOut::run(std::string path) {
    try {
        Track track;
        if (!openTrack(path, track) || !openDevice(track.rate)) {
            return;
        }
        track.first = track.st->start_time != AV_NOPTS_VALUE ? track.st->start_time : 0;
        audible_ = true;
        Output out;
        while (!quit_) {
            if (!running_()) {
                if (standStill(out)) {
                    idle_ = true;
                    break;
                }
                continue;
            }
            out.standingMs = 0;
            if (decodeNext(track, out) && dueNow(track, out)) {
                queue(track, out);
            }
        }
        closeDevice(out);
    } catch (...) {
        failed_ = true;
    }
    audible_ = false;
}

bool AudioOut::openTrack(const std::string &path, Track &track) {
    track.fmt = openSoundInput(path, &quit_, &track.stream);
    if (track.stream < 0) {
        return false;
    }
    AVFormatContext *fmt = track.fmt.get();
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        fmt->streams[i]->discard =
            static_cast<int>(i) == track.stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    track.st = fmt->streams[track.stream];
    const AVCodec *codec = avcodec_find_decoder(track.st->codecpar->codec_id);
    if (!codec) {
        return false;
    }
    track.dec.reset(avcodec_alloc_context3(codec));
    AVCodecContext *dec = track.dec.get();
    if (!dec || avcodec_parameters_to_context(dec, track.st->codecpar) < 0 ||
        avcodec_open2(dec, codec, nullptr) < 0) {
        return false;
    }
    track.rate = dec->sample_rate > 0 ? dec->sample_rate : 44100;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    SwrContext *rawSwr = nullptr;
    if (swr_alloc_set_opts2(&rawSwr, &stereo, AV_SAMPLE_FMT_S16, track.rate, &dec->ch_layout,
                            dec->sample_fmt, track.rate, 0, nullptr) < 0 ||
        swr_init(rawSwr) < 0) {
        swr_free(&rawSwr);
        return false;
    }
    track.swr.reset(rawSwr);
    return true;
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
        failed_ = true;
        return false;
    }
    waveOutSetVolume(wave_, MAKELONG(volume_.load(), volume_.load()));
    return true;
}

// The clock stands still: sound stops, and the thread ends once it has stood long enough.
bool AudioOut::standStill(Output &out) {
    if (!out.outputIdle) {
        std::lock_guard<std::mutex> lock(waveMutex_);
        waveOutReset(wave_);
        out.outputIdle = true;
    }
    out.resync = true;
    if (out.standingMs >= kIdleMs) {
        return true;
    }
    sleepMs(20);
    out.standingMs += 20;
    return false;
}

// Takes the next decoded frame into out.frame, seeking to the clock first when asked to.
bool AudioOut::decodeNext(Track &track, Output &out) {
    out.now = clockMs_();
    if (out.resync) {
        int64_t ts = track.first + av_rescale_q(out.now, AVRational{1, 1000}, track.st->time_base);
        av_seek_frame(track.fmt.get(), track.stream, ts, AVSEEK_FLAG_BACKWARD);
        avcodec_flush_buffers(track.dec.get());
        out.resync = false;
        out.justSought = true;
    }
    int rc = avcodec_receive_frame(track.dec.get(), out.frame.get());
    if (rc == AVERROR(EAGAIN)) {
        if (av_read_frame(track.fmt.get(), out.pkt.get()) < 0) {
            sleepMs(20); // end of the track: wait for a seek or the end
            return false;
        }
        if (out.pkt->stream_index == track.stream) {
            avcodec_send_packet(track.dec.get(), out.pkt.get());
        }
        av_packet_unref(out.pkt.get());
        return false;
    }
    if (rc < 0) {
        sleepMs(20);
        return false;
    }
    return true;
}

// Whether out.frame is to be queued, once it is near enough the clock.
bool AudioOut::dueNow(const Track &track, Output &out) {
    const int64_t now = out.now;
    int64_t pts = out.frame->best_effort_timestamp;
    int64_t startOfFrame =
        pts == AV_NOPTS_VALUE
            ? now
            : av_rescale_q(pts - track.first, track.st->time_base, AVRational{1, 1000});
    int64_t lengthMs = out.frame->nb_samples * 1000LL / track.rate;
    // A jump of the clock (a seek) re-seeks the track instead of decoding across it;
    // until sound is queued again after a seek, it is caught up or waited for.
    bool jumped = !out.justSought &&
                  (startOfFrame > now + kResyncMs || startOfFrame + lengthMs < now - kResyncMs);
    if (jumped) {
        out.resync = true;
        return false;
    }
    if (startOfFrame + lengthMs < now - kBehindMs) {
        return false; // late: skip forward to the clock
    }
    while (!quit_ && running_() && startOfFrame > clockMs_() + kAheadMs) {
        sleepMs(10);
    }
    return true;
}

AudioOut::WaveBuffer *AudioOut::freeBuffer(Output &out) {
    for (;;) {
        for (auto &b : out.buffers) {
            if (!b.prepared || (b.header.dwFlags & WHDR_DONE)) {
                return &b;
            }
        }
        if (quit_ || !running_()) {
            return nullptr;
        }
        sleepMs(5);
    }
}

void AudioOut::queue(Track &track, Output &out) {
    WaveBuffer *buffer = freeBuffer(out);
    if (!buffer) {
        return;
    }
    AVFrame *frame = out.frame.get();
    int outSamples = swr_get_out_samples(track.swr.get(), frame->nb_samples);
    if (outSamples <= 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(waveMutex_);
    if (buffer->prepared) {
        waveOutUnprepareHeader(wave_, &buffer->header, sizeof(WAVEHDR));
    }
    buffer->data.resize(static_cast<size_t>(outSamples) * 4);
    uint8_t *data = reinterpret_cast<uint8_t *>(buffer->data.data());
    int got = swr_convert(track.swr.get(), &data, outSamples,
                          const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
    av_frame_unref(frame);
    if (got <= 0) {
        buffer->prepared = false;
        return;
    }
    buffer->header = {};
    buffer->header.lpData = buffer->data.data();
    buffer->header.dwBufferLength = static_cast<DWORD>(got) * 4;
    waveOutPrepareHeader(wave_, &buffer->header, sizeof(WAVEHDR));
    buffer->prepared = true;
    waveOutWrite(wave_, &buffer->header, sizeof(WAVEHDR));
    out.justSought = false;
    out.outputIdle = false;
}

void AudioOut::closeDevice(Output &out) {
    std::lock_guard<std::mutex> lock(waveMutex_);
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
