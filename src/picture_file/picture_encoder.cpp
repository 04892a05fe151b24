#include "picture_encoder.h"

#include "file_error.h"
#include "av/ffmpeg_util.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <cstring>

namespace pelorin::picture_file {

using av::AvErrorText;
using av::CodecPtr;
using av::FramePtr;
using av::PacketPtr;

PictureFormat PictureFormatFor(const std::string& extension)
{
    if (extension == ".ppm")
        return PictureFormat::Ppm;
    if (extension == ".bmp")
        return PictureFormat::Bmp;
    return PictureFormat::Png;
}

std::vector<uint8_t> EncodePicture(const platform::Surface& picture, PictureFormat format)
{
    const AVCodecID id = format == PictureFormat::Png ? AV_CODEC_ID_PNG
        : format == PictureFormat::Ppm                ? AV_CODEC_ID_PPM
                                                      : AV_CODEC_ID_BMP;
    // PNG and PPM store red, green, blue; BMP stores blue, green, red.
    const AVPixelFormat pixelFormat
        = format == PictureFormat::Bmp ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_RGB24;
    const AVCodec* codec = avcodec_find_encoder(id);
    if (codec == nullptr)
        throw FileError(std::string("this FFmpeg has no ") + avcodec_get_name(id) + " encoder");
    CodecPtr encoder(avcodec_alloc_context3(codec));
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!encoder || !frame || !packet)
        throw FileError("out of memory");
    encoder->width = picture.width;
    encoder->height = picture.height;
    encoder->pix_fmt = pixelFormat;
    encoder->time_base = { 1, 25 };
    int rc = avcodec_open2(encoder.get(), codec, nullptr);
    const auto fail = [&](int code) {
        return FileError(std::string("cannot encode the ") + avcodec_get_name(id)
            + " picture: " + AvErrorText(code));
    };
    if (rc < 0)
        throw fail(rc);
    frame->width = picture.width;
    frame->height = picture.height;
    frame->format = pixelFormat;
    if ((rc = av_frame_get_buffer(frame.get(), 0)) < 0)
        throw fail(rc);
    const bool bgr = format == PictureFormat::Bmp;
    for (int y = 0; y < picture.height; ++y) {
        const uint32_t* src = picture.Row(y);
        uint8_t* dst = frame->data[0] + ptrdiff_t(y) * frame->linesize[0];
        for (int x = 0; x < picture.width; ++x, dst += 3) {
            const uint32_t p = src[x];
            dst[bgr ? 2 : 0] = platform::RedOf(p);
            dst[1] = platform::GreenOf(p);
            dst[bgr ? 0 : 2] = platform::BlueOf(p);
        }
    }
    if ((rc = avcodec_send_frame(encoder.get(), frame.get())) < 0
        || (rc = avcodec_send_frame(encoder.get(), nullptr)) < 0)
        throw fail(rc);
    std::vector<uint8_t> bytes;
    while ((rc = avcodec_receive_packet(encoder.get(), packet.get())) == 0) {
        bytes.insert(bytes.end(), packet->data, packet->data + packet->size);
        av_packet_unref(packet.get());
    }
    if (rc != AVERROR_EOF)
        throw fail(rc);
    return bytes;
}

} // namespace pelorin::picture_file
