#include "MediaInput.h"

#include <windows.h>

#include <vector>

namespace playctrl {

namespace {
// FFmpeg's console messages are no business of the host's.
struct QuietLog {
    QuietLog() { av_log_set_level(AV_LOG_QUIET); }
} quietLog;
} // namespace

std::string ansiToUtf8(const char *path) {
    int wide = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    if (wide <= 0)
        return path;
    std::vector<wchar_t> w(wide);
    MultiByteToWideChar(CP_ACP, 0, path, -1, w.data(), wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, w.data(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return path;
    std::string out(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), -1, &out[0], bytes, nullptr, nullptr);
    out.resize(bytes - 1);
    return out;
}

static int interruptRequested(void *opaque) {
    auto *flag = static_cast<const std::atomic<bool> *>(opaque);
    return flag && flag->load() ? 1 : 0;
}

FormatContextPtr openInput(const std::string &utf8Path, const std::atomic<bool> *abort) {
    AVFormatContext *raw = avformat_alloc_context();
    if (!raw)
        throw EngineError{kAllocMemory};
    raw->interrupt_callback.callback = interruptRequested;
    raw->interrupt_callback.opaque = const_cast<std::atomic<bool> *>(abort);
    int rc = avformat_open_input(&raw, utf8Path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        // avformat_open_input frees the context on failure.
        bool missing = rc == AVERROR(ENOENT) || rc == AVERROR(EACCES) || rc == AVERROR(EISDIR);
        throw EngineError{missing ? kOpenFile : kUnknownFileHeader};
    }
    FormatContextPtr fmt(raw);
    if (avformat_find_stream_info(fmt.get(), nullptr) < 0)
        throw EngineError{kUnknownFileHeader};
    return fmt;
}

int bestStream(AVFormatContext *fmt, AVMediaType type) {
    int i = av_find_best_stream(fmt, type, -1, -1, nullptr, 0);
    return i < 0 ? -1 : i;
}

} // namespace playctrl
