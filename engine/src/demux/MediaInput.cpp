#include "demux/MediaInput.h"

#include <windows.h>

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <cstring>
#include <map>
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
    if (wide <= 0) {
        return path;
    }
    std::vector<wchar_t> w(wide);
    MultiByteToWideChar(CP_ACP, 0, path, -1, w.data(), wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, w.data(), -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return path;
    }
    std::string out(bytes, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), -1, &out[0], bytes, nullptr, nullptr);
    out.resize(bytes - 1);
    return out;
}

namespace {
int interruptRequested(void *opaque) {
    auto *flag = static_cast<const std::atomic<bool> *>(opaque);
    return flag && flag->load() ? 1 : 0;
}
} // namespace

FormatContextPtr openInput(const std::string &utf8Path, const std::atomic<bool> *abort, int flags) {
    AVFormatContext *raw = avformat_alloc_context();
    if (!raw) {
        throw EngineError{kAllocMemory};
    }
    raw->flags |= flags;
    raw->interrupt_callback.callback = interruptRequested;
    raw->interrupt_callback.opaque = const_cast<std::atomic<bool> *>(abort);
    int rc = avformat_open_input(&raw, utf8Path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        // avformat_open_input frees the context on failure.
        bool missing = rc == AVERROR(ENOENT) || rc == AVERROR(EACCES) || rc == AVERROR(EISDIR);
        throw EngineError{missing ? kOpenFile : kUnknownFileHeader};
    }
    FormatContextPtr fmt(raw);
    if (avformat_find_stream_info(fmt.get(), nullptr) < 0) {
        throw EngineError{kUnknownFileHeader};
    }
    return fmt;
}

AVRational frameRateOf(const AVStream *stream) {
    AVRational rate = stream->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) {
        rate = stream->r_frame_rate;
    }
    if (rate.num <= 0 || rate.den <= 0) {
        rate = AVRational{25, 1};
    }
    return rate;
}

namespace {
// The stream types that a program stream map at the start of the file gives its streams,
// by stream id; empty for other files.
std::map<int, int> programStreamTypes(const std::string &utf8Path) {
    std::map<int, int> types;
    AVIOContext *io = nullptr;
    if (avio_open(&io, utf8Path.c_str(), AVIO_FLAG_READ) < 0) {
        return types;
    }
    std::vector<uint8_t> head(256 * 1024);
    int got = avio_read(io, head.data(), static_cast<int>(head.size()));
    avio_closep(&io);
    for (int i = 0; i + 12 < got; ++i) {
        if (head[i] != 0 || head[i + 1] != 0 || head[i + 2] != 1 || head[i + 3] != 0xBC) {
            continue;
        }
        const uint8_t *m = &head[i + 6];
        const int end = std::min(got - i - 6, (head[i + 4] << 8 | head[i + 5]) - 4);
        int at = 4 + (m[2] << 8 | m[3]); // past the program's descriptors
        for (at += 2; at + 4 <= end; at += 4 + (m[at + 2] << 8 | m[at + 3])) {
            types[0x100 | m[at + 1]] = m[at];
        }
        break;
    }
    return types;
}

AVCodecID g711Of(int streamType) {
    return streamType == 0x90   ? AV_CODEC_ID_PCM_ALAW
           : streamType == 0x91 ? AV_CODEC_ID_PCM_MULAW
                                : AV_CODEC_ID_NONE;
}
} // namespace

FormatContextPtr openSoundInput(const std::string &utf8Path, const std::atomic<bool> *abort,
                                int *stream) {
    FormatContextPtr fmt = openInput(utf8Path, abort);
    *stream = bestStream(fmt.get(), AVMEDIA_TYPE_AUDIO);
    if (std::strcmp(fmt->iformat->name, "mpeg") != 0) {
        return fmt;
    }
    const std::map<int, int> types = programStreamTypes(utf8Path);
    auto isG711 = [&](const AVStream *st) {
        auto type = types.find(st->id);
        return st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && type != types.end() &&
               g711Of(type->second) != AV_CODEC_ID_NONE;
    };
    // Without sample rate, the misread track is no "best" stream at all.
    if (*stream >= 0 ? !isG711(fmt->streams[*stream])
                     : std::none_of(fmt->streams, fmt->streams + fmt->nb_streams, isG711)) {
        return fmt;
    }
    // Parsed as MPEG audio, the samples would be cut at false frame headers.
    fmt = openInput(utf8Path, abort, AVFMT_FLAG_NOPARSE);
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        AVStream *st = fmt->streams[i];
        if (!isG711(st)) {
            continue;
        }
        AVCodecParameters *par = st->codecpar;
        par->codec_id = g711Of(types.at(st->id));
        par->sample_rate = 8000;
        par->bits_per_coded_sample = 8;
        AVChannelLayout mono = AV_CHANNEL_LAYOUT_MONO;
        av_channel_layout_uninit(&par->ch_layout);
        par->ch_layout = mono;
        *stream = static_cast<int>(i);
        return fmt;
    }
    *stream = -1;
    return fmt;
}

bool soundDecodable(AVFormatContext *fmt, const std::string &utf8Path, bool *present) {
    *present = true;
    if (std::strcmp(fmt->iformat->name, "mpeg") == 0) {
        for (const auto &type : programStreamTypes(utf8Path)) {
            if (g711Of(type.second) != AV_CODEC_ID_NONE) {
                return true; // what openSoundInput takes as G.711
            }
        }
    }
    const auto first = fmt->streams, end = fmt->streams + fmt->nb_streams;
    if (std::none_of(first, end, [](const AVStream *st) {
            return st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        })) {
        *present = false;
        return true;
    }
    // Whatever the sound thread would pick, its decoder opens on the stream's parameters.
    const int stream = bestStream(fmt, AVMEDIA_TYPE_AUDIO);
    const AVCodec *codec =
        stream < 0 ? nullptr : avcodec_find_decoder(fmt->streams[stream]->codecpar->codec_id);
    if (!codec) {
        return false;
    }
    CodecContextPtr dec(avcodec_alloc_context3(codec));
    if (!dec) {
        throw EngineError{kAllocMemory};
    }
    return avcodec_parameters_to_context(dec.get(), fmt->streams[stream]->codecpar) >= 0 &&
           avcodec_open2(dec.get(), codec, nullptr) >= 0;
}

bool readsStraightThrough(const AVFormatContext *fmt) {
    static const char *const kStraight[] = {"mpegts", "mpeg", "h264", "hevc"};
    for (const char *name : kStraight) {
        if (std::strcmp(fmt->iformat->name, name) == 0) {
            return true;
        }
    }
    return false;
}

int bestStream(AVFormatContext *fmt, AVMediaType type) {
    int i = av_find_best_stream(fmt, type, -1, -1, nullptr, 0);
    return i < 0 ? -1 : i;
}

} // namespace playctrl
