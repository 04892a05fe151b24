#include "picture_io.h"

#include "av_helpers.h"
#include "cli_error.h"

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <cstring>

namespace pelorin::cli {

std::string AvErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0)
        return "FFmpeg error " + std::to_string(code);
    return text;
}

namespace {

    // Files only: a playlist or a concat list must not make FFmpeg open other files or the
    // network behind the user's back.
    InputPtr OpenFile(const std::string& path, int& error)
    {
        AVDictionary* opts = nullptr;
        av_dict_set(&opts, "protocol_whitelist", "file", 0);
        AVFormatContext* raw = nullptr;
        // "file:" keeps a name with a colon in it from being read as a protocol.
        error = avformat_open_input(&raw, ("file:" + path).c_str(), nullptr, &opts);
        av_dict_free(&opts);
        return InputPtr(error < 0 ? nullptr : raw);
    }

    bool IsImageDemuxer(const AVInputFormat* format)
    {
        const std::string_view name = format->name;
        return name == "image2" || name.ends_with("_pipe");
    }

    platform::Surface ToSurface(const AVFrame& frame, const std::string& path)
    {
        if (frame.width <= 0 || frame.height <= 0 || frame.width > platform::kMaxSurfaceSide
            || frame.height > platform::kMaxSurfaceSide)
            throw Failure("cannot read '" + path + "': the picture is "
                + std::to_string(frame.width) + " x " + std::to_string(frame.height)
                + " pixels; at most " + std::to_string(platform::kMaxSurfaceSide)
                + " a side is taken");
        platform::Surface surface(frame.width, frame.height);
        // Same size, so the scaler only converts the pixel format. Full-precision chroma keeps a
        // JPEG's colours as exact as the conversion allows.
        SwsPtr sws(sws_getContext(frame.width, frame.height, AVPixelFormat(frame.format),
            frame.width, frame.height, AV_PIX_FMT_BGR0,
            SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr));
        if (!sws)
            throw Failure("cannot read '" + path + "': no conversion from its pixel format "
                + (av_get_pix_fmt_name(AVPixelFormat(frame.format))
                        ? av_get_pix_fmt_name(AVPixelFormat(frame.format))
                        : "(unknown)"));
        uint8_t* dst[4] = { reinterpret_cast<uint8_t*>(surface.pixels.data()) };
        int dstStride[4] = { frame.width * 4 };
        sws_scale(sws.get(), frame.data, frame.linesize, 0, frame.height, dst, dstStride);
        // The fourth byte of every pixel stays 0, as the surface layout requires.
        for (uint32_t& p : surface.pixels)
            p &= 0x00FFFFFFu;
        return surface;
    }

} // namespace

bool IsStillPicture(const std::string& path)
{
    int error = 0;
    const InputPtr input = OpenFile(path, error);
    return input && IsImageDemuxer(input->iformat);
}

platform::Surface ReadPicture(const std::string& path)
{
    const std::string what = "cannot read '" + path + "': ";
    int rc = 0;
    InputPtr input = OpenFile(path, rc);
    if (!input)
        throw Failure(what + AvErrorText(rc));
    if ((rc = avformat_find_stream_info(input.get(), nullptr)) < 0)
        throw Failure(what + AvErrorText(rc));
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream < 0 || codec == nullptr)
        throw Failure(what + "no picture in it");
    CodecPtr decoder(avcodec_alloc_context3(codec));
    if (!decoder)
        throw Failure(what + "out of memory");
    if ((rc = avcodec_parameters_to_context(decoder.get(), input->streams[stream]->codecpar)) < 0
        || (rc = avcodec_open2(decoder.get(), codec, nullptr)) < 0)
        throw Failure(what + AvErrorText(rc));

    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame)
        throw Failure(what + "out of memory");
    bool flushing = false;
    for (;;) {
        rc = avcodec_receive_frame(decoder.get(), frame.get());
        if (rc == 0)
            return ToSurface(*frame, path);
        if (rc == AVERROR_EOF)
            break;
        if (rc != AVERROR(EAGAIN))
            throw Failure(what + AvErrorText(rc));
        if (flushing)
            break;
        rc = av_read_frame(input.get(), packet.get());
        if (rc == AVERROR_EOF) {
            flushing = true;
            avcodec_send_packet(decoder.get(), nullptr);
            continue;
        }
        if (rc < 0)
            throw Failure(what + AvErrorText(rc));
        if (packet->stream_index == stream) {
            rc = avcodec_send_packet(decoder.get(), packet.get());
            av_packet_unref(packet.get());
            if (rc < 0 && rc != AVERROR(EAGAIN))
                throw Failure(what + AvErrorText(rc));
        } else {
            av_packet_unref(packet.get());
        }
    }
    throw Failure(what + "no picture could be decoded from it");
}

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
        throw Failure(std::string("this FFmpeg has no ") + avcodec_get_name(id) + " encoder");
    CodecPtr encoder(avcodec_alloc_context3(codec));
    FramePtr frame(av_frame_alloc());
    PacketPtr packet(av_packet_alloc());
    if (!encoder || !frame || !packet)
        throw Failure("out of memory");
    encoder->width = picture.width;
    encoder->height = picture.height;
    encoder->pix_fmt = pixelFormat;
    encoder->time_base = { 1, 25 };
    int rc = avcodec_open2(encoder.get(), codec, nullptr);
    const auto fail = [&](int code) {
        return Failure(std::string("cannot encode the ") + avcodec_get_name(id)
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

} // namespace pelorin::cli
