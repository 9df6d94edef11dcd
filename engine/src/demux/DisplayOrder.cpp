#include "demux/DisplayOrder.h"

#include "base/Errors.h"

#include <algorithm>
#include <deque>

namespace playctrl {

namespace {

class BitReader {
  public:
    BitReader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    unsigned get(int bits) {
        unsigned v = 0;
        for (int i = 0; i < bits; ++i, ++pos_) {
            unsigned bit = pos_ / 8 < size_ ? (data_[pos_ / 8] >> (7 - pos_ % 8)) & 1 : 0;
            v = (v << 1) | bit;
        }
        return v;
    }
    bool exhausted() const { return pos_ > size_ * 8; }

  private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

constexpr uint8_t kVop = 0xB6;
enum VopType { kVopI = 0, kVopP = 1, kVopB = 2, kVopS = 3 };

bool isVol(uint8_t code) {
    return code >= 0x20 && code <= 0x2F;
}

// Calls f(code, payload, size) for each start code 00 00 01 xx of the buffer.
template <class F> void forEachStartCode(const uint8_t *data, size_t size, F &&f) {
    size_t i = 0;
    while (i + 3 < size) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            size_t end = i + 4;
            while (end + 2 < size &&
                   !(data[end] == 0 && data[end + 1] == 0 && data[end + 2] == 1)) {
                ++end;
            }
            if (end + 2 >= size) {
                end = size;
            }
            f(data[i + 3], data + i + 4, end - (i + 4));
            i = end;
        } else {
            ++i;
        }
    }
}

} // namespace

struct DisplayOrder::Mpeg4State {
    int timeBits = 0; // bits of a picture's time increment, from the layer header; 0: unknown
    std::deque<VopType> waiting; // pictures read but not yet decoded ("packed" B-frames)

    void readLayer(const uint8_t *p, size_t size) {
        BitReader b(p, size);
        b.get(1); // random access
        b.get(8); // object type
        unsigned verid = 1;
        if (b.get(1)) {
            verid = b.get(4);
            b.get(3);
        }
        if (b.get(4) == 15) { // extended pixel aspect ratio
            b.get(16);
        }
        if (b.get(1)) { // control parameters
            b.get(3);
            if (b.get(1)) {
                b.get(79); // buffer model
            }
        }
        unsigned shape = b.get(2);
        if (shape == 3 && verid != 1) {
            b.get(4);
        }
        b.get(1);
        unsigned resolution = b.get(16);
        if (b.exhausted() || resolution == 0) {
            return;
        }
        int bits = 0;
        while ((1u << bits) < resolution) {
            ++bits;
        }
        timeBits = std::max(bits, 1);
    }

    // False for a picture sent only to keep the container's frame rate ("not coded").
    bool coded(const uint8_t *p, size_t size) const {
        if (timeBits == 0) {
            return size > 3;
        }
        BitReader b(p, size);
        b.get(2);
        for (int i = 0; i < 64 && b.get(1); ++i) {
        }
        b.get(1);
        b.get(timeBits);
        b.get(1);
        return !b.exhausted() && b.get(1) == 1;
    }
};

namespace {
bool isMpegVideo(AVCodecID codec) {
    return codec == AV_CODEC_ID_MPEG1VIDEO || codec == AV_CODEC_ID_MPEG2VIDEO;
}
} // namespace

bool DisplayOrder::supports(AVCodecID codec) {
    return codec == AV_CODEC_ID_H264 || codec == AV_CODEC_ID_HEVC || codec == AV_CODEC_ID_MPEG4 ||
           isMpegVideo(codec);
}

DisplayOrder::DisplayOrder(const AVCodecParameters *par) : codec_(par->codec_id) {
    if (isMpegVideo(codec_)) {
        return; // the picture header says all
    }
    if (codec_ == AV_CODEC_ID_MPEG4) {
        mpeg4_ = std::make_unique<Mpeg4State>();
        if (par->extradata) {
            forEachStartCode(par->extradata, par->extradata_size,
                             [&](uint8_t code, const uint8_t *p, size_t size) {
                                 if (isVol(code)) {
                                     mpeg4_->readLayer(p, size);
                                 }
                             });
        }
        return;
    }
    context_ = avcodec_alloc_context3(nullptr);
    parser_ = av_parser_init(codec_);
    if (!context_ || !parser_ || avcodec_parameters_to_context(context_, par) < 0) {
        av_parser_close(parser_);
        avcodec_free_context(&context_);
        throw EngineError{kAllocMemory};
    }
    // Each packet is already one whole picture.
    parser_->flags |= PARSER_FLAG_COMPLETE_FRAMES;
}

DisplayOrder::~DisplayOrder() {
    av_parser_close(parser_);
    avcodec_free_context(&context_);
}

void DisplayOrder::add(const AVPacket *pkt) {
    int packet = packets_++;
    if (isMpegVideo(codec_)) {
        addMpegVideo(pkt, packet);
    } else if (mpeg4_) {
        addMpeg4(pkt, packet);
    } else {
        addAvc(pkt, packet);
    }
}

void DisplayOrder::addAvc(const AVPacket *pkt, int packet) {
    uint8_t *out = nullptr;
    int outSize = 0;
    av_parser_parse2(parser_, context_, &out, &outSize, pkt->data, pkt->size, AV_NOPTS_VALUE,
                     AV_NOPTS_VALUE, pkt->pos);
    if (outSize <= 0) {
        return;
    }
    coded_.push_back({packet, parser_->output_picture_number, parser_->key_frame == 1, true});
}

// The decoder takes one picture per packet: a packet with two queues the second for the next
// packet, whose own picture waits in turn, and a "not coded" placeholder brings none.
void DisplayOrder::addMpeg4(const AVPacket *pkt, int packet) {
    forEachStartCode(pkt->data, pkt->size, [&](uint8_t code, const uint8_t *p, size_t size) {
        if (isVol(code)) {
            mpeg4_->readLayer(p, size);
        } else if (code == kVop && size > 0 && mpeg4_->coded(p, size)) {
            mpeg4_->waiting.push_back(static_cast<VopType>(p[0] >> 6));
        }
    });
    if (mpeg4_->waiting.empty()) {
        return;
    }
    VopType type = mpeg4_->waiting.front();
    mpeg4_->waiting.pop_front();
    coded_.push_back({packet, 0, type == kVopI, type != kVopB});
}

// MPEG-1 and MPEG-2 video, one picture a packet (the parser frames them): its type follows the
// ten bits of its temporal reference.
void DisplayOrder::addMpegVideo(const AVPacket *pkt, int packet) {
    forEachStartCode(pkt->data, pkt->size, [&](uint8_t code, const uint8_t *p, size_t size) {
        if (code == 0x00 && size >= 2) {
            const int type = (p[1] >> 3) & 7; // 1 I, 2 P, 3 B
            coded_.push_back({packet, 0, type == 1, type != 3});
        }
    });
}

std::vector<DisplayOrder::Picture> DisplayOrder::finish() {
    std::vector<Picture> out;
    out.reserve(coded_.size());
    auto emit = [&](const Coded &c) {
        out.push_back({c.packet, static_cast<int>(out.size()), c.key});
    };
    if (mpeg4_ || isMpegVideo(codec_)) {
        // B-frames are shown as decoded; every other picture once the next one is decoded.
        const Coded *held = nullptr;
        for (const Coded &c : coded_) {
            if (!c.reference) {
                emit(c);
                continue;
            }
            if (held) {
                emit(*held);
            }
            held = &c;
        }
        if (held) {
            emit(*held);
        }
        return out;
    }
    // Order counts restart at instantaneous refreshes: a key picture that does not come after
    // every picture so far begins a new run, and each run is shown in its own order.
    size_t runStart = 0;
    int64_t runMax = INT64_MIN;
    auto flush = [&](size_t end) {
        std::vector<Coded> run(coded_.begin() + runStart, coded_.begin() + end);
        std::stable_sort(run.begin(), run.end(),
                         [](const Coded &a, const Coded &b) { return a.order < b.order; });
        for (const Coded &c : run) {
            emit(c);
        }
        runStart = end;
    };
    for (size_t i = 0; i < coded_.size(); ++i) {
        if (i > runStart && coded_[i].key && coded_[i].order <= runMax) {
            flush(i);
            runMax = INT64_MIN;
        }
        runMax = std::max(runMax, coded_[i].order);
    }
    flush(coded_.size());
    return out;
}

} // namespace playctrl
