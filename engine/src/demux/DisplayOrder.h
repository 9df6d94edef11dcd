// The display order of a video stream whose container gives no presentation time for every
// picture (bare H.264 and HEVC, AVI with B-frames), worked out from the bitstream alone: the
// pictures' order counts for H.264 and HEVC, and the picture types for MPEG-1/2 video and for
// MPEG-4 Part 2, where a packet may also carry two pictures ("packed" B-frames) or none.
#ifndef KESTRAVA_PLAYCTRL_DISPLAYORDER_H
#define KESTRAVA_PLAYCTRL_DISPLAYORDER_H

#include <cstdint>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace playctrl {

class DisplayOrder {
  public:
    // False for codecs whose order cannot be read from the packets.
    static bool supports(AVCodecID codec);

    explicit DisplayOrder(const AVCodecParameters *par);
    ~DisplayOrder();
    DisplayOrder(const DisplayOrder &) = delete;
    DisplayOrder &operator=(const DisplayOrder &) = delete;

    // The next packet of the stream, in the order it is decoded.
    void add(const AVPacket *pkt);

    struct Picture {
        int packet;   // index among the packets added: the one whose decoding yields it
        int position; // its place in display order, from 0
        bool key;     // decoding may start at its packet
    };
    // Every picture the packets yield, in display order.
    std::vector<Picture> finish();

  private:
    struct Mpeg4State;
    struct Coded {
        int packet;
        int64_t order; // picture order count, or the reference flag for MPEG-4
        bool key;
        bool reference;
    };
    void addAvc(const AVPacket *pkt, int packet);
    void addMpeg4(const AVPacket *pkt, int packet);
    void addMpegVideo(const AVPacket *pkt, int packet);

    AVCodecID codec_;
    AVCodecContext *context_ = nullptr;
    AVCodecParserContext *parser_ = nullptr;
    std::unique_ptr<Mpeg4State> mpeg4_;
    int packets_ = 0;
    std::vector<Coded> coded_; // in decode order
};

} // namespace playctrl

#endif
