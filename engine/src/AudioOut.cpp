#include "AudioOut.h"

#include "Errors.h"
#include "FfmpegPtr.h"
#include "MediaInput.h"

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

struct SwrDeleter {
    void operator()(SwrContext *s) const { swr_free(&s); }
};

struct WaveBuffer {
    WAVEHDR header = {};
    std::vector<char> data;
    bool prepared = false;
};

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

void AudioOut::run(std::string path) {
    try {
        int stream = -1;
        FormatContextPtr fmt = openSoundInput(path, &quit_, &stream);
        if (stream < 0) {
            return;
        }
        for (unsigned i = 0; i < fmt->nb_streams; ++i) {
            fmt->streams[i]->discard =
                static_cast<int>(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
        }
        AVStream *st = fmt->streams[stream];
        const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
        if (!codec) {
            return;
        }
        CodecContextPtr dec(avcodec_alloc_context3(codec));
        if (!dec || avcodec_parameters_to_context(dec.get(), st->codecpar) < 0 ||
            avcodec_open2(dec.get(), codec, nullptr) < 0) {
            return;
        }
        const int rate = dec->sample_rate > 0 ? dec->sample_rate : 44100;
        AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        SwrContext *rawSwr = nullptr;
        if (swr_alloc_set_opts2(&rawSwr, &stereo, AV_SAMPLE_FMT_S16, rate, &dec->ch_layout,
                                dec->sample_fmt, rate, 0, nullptr) < 0 ||
            swr_init(rawSwr) < 0) {
            swr_free(&rawSwr);
            return;
        }
        std::unique_ptr<SwrContext, SwrDeleter> swr(rawSwr);

        WAVEFORMATEX format = {};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = 2;
        format.nSamplesPerSec = rate;
        format.wBitsPerSample = 16;
        format.nBlockAlign = 4;
        format.nAvgBytesPerSec = rate * 4;
        {
            std::lock_guard<std::mutex> lock(waveMutex_);
            if (waveOutOpen(&wave_, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) !=
                MMSYSERR_NOERROR) {
                wave_ = nullptr;
                failed_ = true;
                return;
            }
            waveOutSetVolume(wave_, MAKELONG(volume_.load(), volume_.load()));
        }
        std::vector<WaveBuffer> buffers(kBuffers);
        PacketPtr pkt(av_packet_alloc());
        FramePtr frame(av_frame_alloc());
        bool resync = true;
        bool justSought = false;
        bool outputIdle = true;
        int64_t first = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;

        auto freeBuffer = [&]() -> WaveBuffer * {
            for (;;) {
                for (auto &b : buffers) {
                    if (!b.prepared || (b.header.dwFlags & WHDR_DONE)) {
                        return &b;
                    }
                }
                if (quit_ || !running_()) {
                    return nullptr;
                }
                sleepMs(5);
            }
        };

        int standingMs = 0;
        while (!quit_) {
            if (!running_()) {
                if (!outputIdle) {
                    std::lock_guard<std::mutex> lock(waveMutex_);
                    waveOutReset(wave_);
                    outputIdle = true;
                }
                resync = true;
                if (standingMs >= kIdleMs) {
                    idle_ = true;
                    break;
                }
                sleepMs(20);
                standingMs += 20;
                continue;
            }
            standingMs = 0;
            int64_t now = clockMs_();
            if (resync) {
                int64_t ts = first + av_rescale_q(now, AVRational{1, 1000}, st->time_base);
                av_seek_frame(fmt.get(), stream, ts, AVSEEK_FLAG_BACKWARD);
                avcodec_flush_buffers(dec.get());
                resync = false;
                justSought = true;
            }
            int rc = avcodec_receive_frame(dec.get(), frame.get());
            if (rc == AVERROR(EAGAIN)) {
                if (av_read_frame(fmt.get(), pkt.get()) < 0) {
                    sleepMs(20); // end of the track: wait for a seek or the end
                    continue;
                }
                if (pkt->stream_index == stream) {
                    avcodec_send_packet(dec.get(), pkt.get());
                }
                av_packet_unref(pkt.get());
                continue;
            }
            if (rc < 0) {
                sleepMs(20);
                continue;
            }
            int64_t pts = frame->best_effort_timestamp;
            int64_t startOfFrame = pts == AV_NOPTS_VALUE ? now
                                                         : av_rescale_q(pts - first, st->time_base,
                                                                        AVRational{1, 1000});
            int64_t lengthMs = frame->nb_samples * 1000LL / rate;
            // A jump of the clock (a seek) re-seeks the track instead of decoding across it;
            // until sound is queued again after a seek, it is caught up or waited for.
            bool jumped = !justSought && (startOfFrame > now + kResyncMs ||
                                          startOfFrame + lengthMs < now - kResyncMs);
            if (jumped) {
                resync = true;
                continue;
            }
            if (startOfFrame + lengthMs < now - kBehindMs) {
                continue; // late: skip forward to the clock
            }
            while (!quit_ && running_() && startOfFrame > clockMs_() + kAheadMs) {
                sleepMs(10);
            }
            WaveBuffer *buffer = freeBuffer();
            if (!buffer) {
                continue;
            }
            int outSamples = swr_get_out_samples(swr.get(), frame->nb_samples);
            if (outSamples <= 0) {
                continue;
            }
            std::lock_guard<std::mutex> lock(waveMutex_);
            if (buffer->prepared) {
                waveOutUnprepareHeader(wave_, &buffer->header, sizeof(WAVEHDR));
            }
            buffer->data.resize(static_cast<size_t>(outSamples) * 4);
            uint8_t *out = reinterpret_cast<uint8_t *>(buffer->data.data());
            int got =
                swr_convert(swr.get(), &out, outSamples,
                            const_cast<const uint8_t **>(frame->extended_data), frame->nb_samples);
            av_frame_unref(frame.get());
            if (got <= 0) {
                buffer->prepared = false;
                continue;
            }
            buffer->header = {};
            buffer->header.lpData = buffer->data.data();
            buffer->header.dwBufferLength = static_cast<DWORD>(got) * 4;
            waveOutPrepareHeader(wave_, &buffer->header, sizeof(WAVEHDR));
            buffer->prepared = true;
            waveOutWrite(wave_, &buffer->header, sizeof(WAVEHDR));
            justSought = false;
            outputIdle = false;
        }
        std::lock_guard<std::mutex> lock(waveMutex_);
        waveOutReset(wave_);
        for (auto &b : buffers) {
            if (b.prepared) {
                waveOutUnprepareHeader(wave_, &b.header, sizeof(WAVEHDR));
            }
        }
        waveOutClose(wave_);
        wave_ = nullptr;
    } catch (...) {
        failed_ = true;
    }
}

} // namespace playctrl
