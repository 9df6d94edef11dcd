// Following a recording while it is written: a one-hour TS appended to TARGET in one-second
// pieces, one every PIECE_MS (faster than real time), while a host thread seeks to its end again
// and again (each seek takes in what was appended) and another asks GetPlayedTimeEx on and on.
// Reports the longest GetPlayedTimeEx during the extensions, against a frame interval, and how
// many took longer than one (a loaded machine's scheduler alone makes a few); the
// process's memory per hour of recording followed; and CloseFile's time while a large
// extension (five minutes appended at once) is read, against that extension's own time.
// Usage: bench_following SOURCE TARGET PIECE_MS
#include "BenchSupport.h"
#include "PlayM4.h"

#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr double kFrameMs = 40.0;

class Writer {
  public:
    Writer(const char *source, const char *target) {
        std::ifstream in(source, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), {});
        second_ = bytes_.size() / 3600 / 188 * 188;
        file_ = CreateFileA(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    ~Writer() { CloseHandle(file_); }
    bool ready() const { return file_ != INVALID_HANDLE_VALUE && second_ > 0; }
    // The next `seconds` of the recording; the last piece takes the rest.
    void append(size_t seconds) {
        size_t size = std::min(bytes_.size() - written_, second_ * seconds);
        if (bytes_.size() - written_ - size < second_) {
            size = bytes_.size() - written_;
        }
        DWORD done = 0;
        WriteFile(file_, bytes_.data() + written_, static_cast<DWORD>(size), &done, nullptr);
        written_ += done;
    }
    size_t secondsWritten() const { return written_ / second_; }

  private:
    std::vector<char> bytes_;
    size_t second_ = 0, written_ = 0;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

double privateMb() {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(),
                         reinterpret_cast<PROCESS_MEMORY_COUNTERS *>(&counters), sizeof counters);
    return static_cast<double>(counters.PagefileUsage) / (1024.0 * 1024.0);
}

// Seeks to the end once: the engine takes in what was appended first.
void catchUp(LONG port) {
    PlayM4_SetCurrentFrameNum(port, PlayM4_GetFileTotalFrames(port));
}

std::atomic<bool> indexed{false};
void CALLBACK onIndexed(DWORD, DWORD_PTR) {
    indexed = true;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: bench_following SOURCE TARGET PIECE_MS\n");
        return 2;
    }
    const DWORD pieceMs = static_cast<DWORD>(std::atoi(argv[3]));
    Writer writer(argv[1], argv[2]);
    if (!writer.ready()) {
        std::fprintf(stderr, "cannot read %s or write %s\n", argv[1], argv[2]);
        return 1;
    }
    writer.append(10);
    const double memoryBefore = privateMb();
    LONG port = -1;
    std::string path = argv[2];
    if (!PlayM4_GetPort(&port) || !PlayM4_SetFileRefCallBack(port, onIndexed, 0) ||
        !PlayM4_OpenFile(port, &path[0])) {
        std::fprintf(stderr, "open failed: code %lu\n", PlayM4_GetLastError(port));
        return 1;
    }
    while (!indexed) {
        Sleep(1);
    }

    // 55 minutes in one-second pieces, followed as they come, with a host asking the time.
    std::atomic<bool> done{false};
    std::atomic<double> longestMs{0.0};
    std::atomic<long> queries{0}, slow{0};
    std::thread asking([&] {
        while (!done) {
            const double start = bench::nowMs();
            PlayM4_GetPlayedTimeEx(port);
            const double took = bench::nowMs() - start;
            if (took > longestMs) {
                longestMs = took;
            }
            slow += took > kFrameMs;
            ++queries;
        }
    });
    std::atomic<bool> written{false};
    std::thread writing([&] {
        while (writer.secondsWritten() < 55 * 60) {
            Sleep(pieceMs);
            writer.append(1);
        }
        written = true;
    });
    const double followStart = bench::nowMs();
    long extensions = 0;
    for (bool grew = true; !written || grew;) {
        const DWORD before = PlayM4_GetFileTotalFrames(port);
        catchUp(port);
        grew = PlayM4_GetFileTotalFrames(port) != before;
        extensions += grew;
    }
    const double followMs = bench::nowMs() - followStart;
    writing.join();
    done = true;
    asking.join();
    const DWORD frames = PlayM4_GetFileTotalFrames(port);
    const double hours = frames / 25.0 / 3600.0;
    const double memory = privateMb() - memoryBefore;

    // A large extension alone, then CloseFile while the next one is read.
    writer.append(150);
    const double extendStart = bench::nowMs();
    catchUp(port);
    const double extendMs = bench::nowMs() - extendStart;
    writer.append(150);
    std::thread extending([&] { catchUp(port); });
    Sleep(static_cast<DWORD>(std::max(1.0, extendMs / 4)));
    const double closeStart = bench::nowMs();
    PlayM4_CloseFile(port);
    const double closeMs = bench::nowMs() - closeStart;
    extending.join();
    PlayM4_FreePort(port);

    std::printf("followed %.2f h (%lu frames) in %.1f s with %ld extensions, %ld time queries\n",
                hours, frames, followMs / 1000, extensions, queries.load());
    std::printf("longest GetPlayedTimeEx during extensions: %.2f ms (%.2f frame intervals); "
                "%ld calls took longer than a frame interval\n",
                longestMs.load(), longestMs.load() / kFrameMs, slow.load());
    std::printf("memory: %.1f MB for %.2f h followed, %.1f MB per hour of recording\n", memory,
                hours, memory / hours);
    std::printf("CloseFile during a five-minute extension: %.1f ms (%.2f of the %.1f ms the "
                "extension takes alone)\n",
                closeMs, closeMs / extendMs, extendMs);
    return 0;
}
