// Many tiles in one process: N ports of one clip playing at 1x, against what the same FFmpeg
// decodes on this machine in the same run.
// Usage: bench_tiles floor CLIP N SECONDS        - N threads, each decoding CLIP over and over
//                                                  on one thread with the planar copy the
//                                                  display callback gets: pictures a second
//        bench_tiles tiles CLIP N SECONDS [FLOOR [FLOOR_CPU]]
//                                                - N ports playing CLIP at 1x, no window:
//                                                  pictures shown a second and a CPU second
//                                                  (and their share of the floor's), the
//                                                  slowest port, how far the pictures trail
//                                                  the clock, memory, threads
#include "BenchClip.h"
#include "BenchSupport.h"
#include "PlayM4.h"

#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
}

namespace {

std::atomic<bool> measuring{false};
std::atomic<long> indexedPorts{0};

// Committed private memory now and at its peak, in MB.
void committedMb(double &now, double &peak) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    now = counters.PagefileUsage / 1048576.0;
    peak = counters.PeakPagefileUsage / 1048576.0;
}

// CPU time of this process so far, user and kernel, in seconds: on a machine shared with other
// work the pictures a CPU second compare better than the pictures a second.
double cpuSeconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](const FILETIME &t) {
        return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

// One clip decoded over and over on the calling thread until `stop`.
void decodeLoop(const char *clip, const std::atomic<bool> &stop, std::atomic<long> &pictures) {
    AVFormatContext *fmt = nullptr;
    if (avformat_open_input(&fmt, clip, nullptr, nullptr) < 0 ||
        avformat_find_stream_info(fmt, nullptr) < 0) {
        std::fprintf(stderr, "floor: cannot open %s\n", clip);
        return;
    }
    const int stream = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec *codec = avcodec_find_decoder(fmt->streams[stream]->codecpar->codec_id);
    AVCodecContext *dec = avcodec_alloc_context3(codec);
    avcodec_parameters_to_context(dec, fmt->streams[stream]->codecpar);
    dec->thread_count = 1;
    avcodec_open2(dec, codec, nullptr);
    AVPacket *packet = av_packet_alloc();
    AVFrame *frame = av_frame_alloc();
    std::vector<uint8_t> planar;
    while (!stop) {
        int rc = avcodec_receive_frame(dec, frame);
        if (rc == 0) {
            const auto format = static_cast<AVPixelFormat>(frame->format);
            planar.resize(av_image_get_buffer_size(format, frame->width, frame->height, 1));
            av_image_copy_to_buffer(planar.data(), static_cast<int>(planar.size()), frame->data,
                                    frame->linesize, format, frame->width, frame->height, 1);
            pictures += measuring ? 1 : 0;
            continue;
        }
        if (rc == AVERROR_EOF) {
            av_seek_frame(fmt, stream, 0, AVSEEK_FLAG_BACKWARD);
            avcodec_flush_buffers(dec);
            continue;
        }
        if (av_read_frame(fmt, packet) < 0) {
            avcodec_send_packet(dec, nullptr);
            continue;
        }
        if (packet->stream_index == stream) {
            avcodec_send_packet(dec, packet);
        }
        av_packet_unref(packet);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&dec);
    avformat_close_input(&fmt);
}

int floorRun(const char *clip, int n, double seconds) {
    std::atomic<bool> stop{false};
    std::atomic<long> pictures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < n; ++i) {
        threads.emplace_back([&] { decodeLoop(clip, stop, pictures); });
    }
    Sleep(1000); // every thread under way
    measuring = true;
    const double start = bench::nowMs(), cpuStart = cpuSeconds();
    Sleep(static_cast<DWORD>(seconds * 1000));
    measuring = false;
    const double wall = (bench::nowMs() - start) / 1000.0, cpu = cpuSeconds() - cpuStart;
    stop = true;
    for (std::thread &t : threads) {
        t.join();
    }
    std::printf("floor: %d threads of the same FFmpeg, one each: %.1f pictures a second, %.1f a "
                "CPU second\n",
                n, pictures / wall, pictures / cpu);
    return 0;
}

struct Tile {
    std::atomic<long> shown{0};
    std::atomic<bool> started{false};
    double firstAt = 0, worstBehind = 0; // written by the port's own worker only
    LONG firstStamp = 0;
};
Tile tiles[64];

// Pictures trail the clock, which starts with the first picture shown and runs with wall time.
void CALLBACK onFrame(LONG port, char *, LONG, LONG, LONG, LONG stamp, LONG, LONG) {
    if (port < 0 || port >= 64) {
        return;
    }
    Tile &t = tiles[port];
    const double at = bench::nowMs();
    if (!t.started) {
        t.firstAt = at;
        t.firstStamp = stamp;
        t.started = true;
    }
    if (measuring) {
        ++t.shown;
        t.worstBehind = std::max(t.worstBehind, at - t.firstAt - (stamp - t.firstStamp));
    }
}

void CALLBACK onIndexed(DWORD, DWORD_PTR) {
    ++indexedPorts;
}

int tilesRun(const char *clip, int n, double seconds, double floor, double floorCpu) {
    const int threadsBefore = harness::processThreads();
    std::vector<LONG> ports;
    for (int i = 0; i < n; ++i) {
        LONG port = bench::openClip(clip, &onIndexed);
        if (port < 0 || port >= 64) {
            return 1;
        }
        PlayM4_SetDisplayCallBack(port, &onFrame);
        ports.push_back(port);
    }
    while (indexedPorts < n) {
        Sleep(10);
    }
    const int threadsOpen = harness::processThreads();
    for (LONG port : ports) {
        PlayM4_Play(port, nullptr);
    }
    Sleep(1000); // every port under way
    measuring = true;
    const double start = bench::nowMs(), cpuStart = cpuSeconds();
    Sleep(static_cast<DWORD>(seconds * 500));
    const int threadsPlaying = harness::processThreads();
    double memNow = 0, memPeak = 0;
    committedMb(memNow, memPeak);
    Sleep(static_cast<DWORD>(seconds * 500));
    measuring = false;
    const double wall = (bench::nowMs() - start) / 1000.0, cpu = cpuSeconds() - cpuStart;
    double memEnd = 0;
    committedMb(memEnd, memPeak);
    for (LONG port : ports) {
        PlayM4_FreePort(port);
    }
    long total = 0, slowest = -1;
    double worst = 0;
    for (LONG port : ports) {
        const long shown = tiles[port].shown;
        total += shown;
        slowest = slowest < 0 ? shown : std::min(slowest, shown);
        worst = std::max(worst, tiles[port].worstBehind);
    }
    const double rate = total / wall, mean = rate / n;
    std::printf("tiles: %d ports at 1x for %.1f s: %.1f pictures shown a second in all", n, wall,
                rate);
    if (floor > 0) {
        std::printf(" (%.2fx the floor's %.1f)", rate / floor, floor);
    }
    std::printf(", %.1f a CPU second", total / cpu);
    if (floorCpu > 0) {
        std::printf(" (%.2fx the floor's %.1f)", total / cpu / floorCpu, floorCpu);
    }
    std::printf("\n  slowest port %.1f a second, %.2fx the mean %.1f; worst picture %.0f ms "
                "behind its clock\n",
                slowest / wall, slowest / wall / mean, mean, worst);
    std::printf("  committed %.0f MB while playing (%.1f MB a port), %.0f MB at the end, peak "
                "%.0f MB\n",
                memNow, memNow / n, memEnd, memPeak);
    std::printf("  threads of the process: %d before, %d with the ports open, %d playing (%.1f "
                "a port more than before)\n",
                threadsBefore, threadsOpen, threadsPlaying,
                static_cast<double>(threadsPlaying - threadsBefore) / n);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 5 && std::strcmp(argv[1], "floor") == 0) {
        return floorRun(argv[2], std::atoi(argv[3]), std::atof(argv[4]));
    }
    if (argc >= 5 && std::strcmp(argv[1], "tiles") == 0) {
        return tilesRun(argv[2], std::atoi(argv[3]), std::atof(argv[4]),
                        argc > 5 ? std::atof(argv[5]) : 0.0, argc > 6 ? std::atof(argv[6]) : 0.0);
    }
    std::printf("bench_tiles: see bench/engine/run.sh\n");
    return 0;
}
