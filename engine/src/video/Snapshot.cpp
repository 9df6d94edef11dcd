#include "video/Snapshot.h"

#include "base/Errors.h"
#include "base/FfmpegPtr.h"
#include "video/FrameConverter.h"

extern "C" {
#include <libavutil/imgutils.h>
}

namespace playctrl {

namespace {
std::vector<uint8_t> encodeWith(const AVFrame *source, AVCodecID id, AVPixelFormat format,
                                Error failure) {
    const AVCodec *codec = avcodec_find_encoder(id);
    if (!codec) {
        throw EngineError{failure};
    }
    CodecContextPtr ctx(avcodec_alloc_context3(codec));
    if (!ctx) {
        throw EngineError{kAllocMemory};
    }
    ctx->width = source->width;
    ctx->height = source->height;
    ctx->pix_fmt = format;
    ctx->time_base = AVRational{1, 25};
    if (id == AV_CODEC_ID_MJPEG) {
        ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ctx->global_quality = FF_QP2LAMBDA * 3;
        ctx->color_range = AVCOL_RANGE_JPEG;
    }
    if (avcodec_open2(ctx.get(), codec, nullptr) < 0) {
        throw EngineError{failure};
    }

    FramePtr picture(av_frame_alloc());
    if (!picture) {
        throw EngineError{kAllocMemory};
    }
    picture->width = source->width;
    picture->height = source->height;
    picture->format = format;
    if (av_frame_get_buffer(picture.get(), 0) < 0) {
        throw EngineError{kAllocMemory};
    }
    FrameConverter converter;
    const std::vector<uint8_t> &pixels = converter.convert(source, format);
    if (pixels.empty()) {
        throw EngineError{failure};
    }
    uint8_t *src[4];
    int srcStride[4];
    av_image_fill_arrays(src, srcStride, pixels.data(), format, source->width, source->height, 1);
    av_image_copy(picture->data, picture->linesize, const_cast<const uint8_t **>(src), srcStride,
                  format, source->width, source->height);
    picture->pts = 0;
    if (id == AV_CODEC_ID_MJPEG) {
        picture->quality = ctx->global_quality;
    }

    PacketPtr packet(av_packet_alloc());
    if (!packet || avcodec_send_frame(ctx.get(), picture.get()) < 0 ||
        avcodec_send_frame(ctx.get(), nullptr) < 0 ||
        avcodec_receive_packet(ctx.get(), packet.get()) < 0) {
        throw EngineError{failure};
    }
    return std::vector<uint8_t>(packet->data, packet->data + packet->size);
}
} // namespace

size_t bmpFileSize(int width, int height) {
    const size_t row = (static_cast<size_t>(width) * 3 + 3) / 4 * 4;
    return 54 + row * static_cast<size_t>(height);
}

std::vector<uint8_t> encodeBmp(const AVFrame *frame) {
    return encodeWith(frame, AV_CODEC_ID_BMP, AV_PIX_FMT_BGR24, kAllocMemory);
}

std::vector<uint8_t> encodeJpeg(const AVFrame *frame) {
    return encodeWith(frame, AV_CODEC_ID_MJPEG, AV_PIX_FMT_YUVJ420P, kJpegCompress);
}

} // namespace playctrl
