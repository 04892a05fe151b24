#include "video_writer.h"

#include "av_helpers.h"
#include "cli_error.h"
#include "convert/palette.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace pelorin::cli {

namespace {
    struct EncoderChoice;
} // namespace

struct VideoWriter::State {
    std::string name; // for messages
    AVFormatContext* muxer = nullptr;
    AVStream* stream = nullptr;
    CodecPtr encoder;
    FramePtr frame;
    PacketPtr packet;
    SwsPtr sws;
    int width = 0;
    int height = 0;
    int64_t nextPts = 0;
    bool finished = false;
    bool headerWritten = false;
    // GIF: the mode's palette, and the table of the frame being written, as 0x00RRGGBB, in
    // palette order.
    std::vector<uint32_t> modeColours;
    std::vector<uint32_t> gifColours;

    // With an open file of the caller's: the file, and the I/O context that writes to it.
    int fd = -1;
    AVIOContext* fdIo = nullptr;

    ~State()
    {
        if (muxer) {
            if (muxer->pb && fdIo == nullptr)
                avio_closep(&muxer->pb);
            avformat_free_context(muxer);
            // CloseFd below must not reach into the freed context.
            muxer = nullptr;
        }
        CloseFd();
    }

    // Flushes and frees the I/O context on the caller's file, and closes the file. Returns
    // false when a write or the close failed.
    bool CloseFd()
    {
        bool good = true;
        if (fdIo != nullptr) {
            avio_flush(fdIo);
            good = fdIo->error >= 0;
            av_freep(&fdIo->buffer);
            avio_context_free(&fdIo);
            if (muxer)
                muxer->pb = nullptr;
        }
        if (fd >= 0) {
            good = close(fd) == 0 && good;
            fd = -1;
        }
        return good;
    }

    // Opens the encoder for pictures of width x height; returns FFmpeg's code (negative:
    // no slicing fits). Defined below, beside the encoder's choice.
    int OpenFittingEncoder(
        const EncoderChoice& choice, const std::string& extension, Rational frameRate);
    // Opens the muxer's output: the caller's file, or `path`.
    void OpenOutput(const std::string& path);

    CliError Fail(const std::string& what, int code) const
    {
        return Failure("cannot write '" + name + "': " + what + ": " + AvErrorText(code));
    }

    void Drain()
    {
        for (;;) {
            int rc = avcodec_receive_packet(encoder.get(), packet.get());
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
                return;
            if (rc < 0)
                throw Fail("encoding", rc);
            av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
            packet->stream_index = stream->index;
            rc = av_interleaved_write_frame(muxer, packet.get());
            if (rc < 0)
                throw Fail("writing", rc);
        }
    }
};

namespace {

    bool Supports(const AVCodec* codec, AVPixelFormat format)
    {
        if (codec->pix_fmts == nullptr)
            return false;
        for (const AVPixelFormat* f = codec->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
            if (*f == format)
                return true;
        return false;
    }

    struct EncoderChoice {
        const AVCodec* codec = nullptr;
        AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    };

    EncoderChoice ChooseEncoder(const std::string& extension, bool mp4Subsampled)
    {
        struct Candidate {
            const char* name;
            AVPixelFormat format;
        };
        std::vector<Candidate> candidates;
        if (extension == ".gif")
            candidates = { { "gif", AV_PIX_FMT_PAL8 } };
        else if (extension == ".mp4" && mp4Subsampled)
            candidates = { { "libx264", AV_PIX_FMT_YUV420P }, { "mpeg4", AV_PIX_FMT_YUV420P } };
        else if (extension == ".mp4")
            candidates = { { "libx264rgb", AV_PIX_FMT_BGR0 }, { "libx264", AV_PIX_FMT_YUV444P },
                { "mpeg4", AV_PIX_FMT_YUV420P } };
        else
            candidates = { { "ffv1", AV_PIX_FMT_BGR0 }, { "ffv1", AV_PIX_FMT_GBRP } };
        for (const Candidate& c : candidates) {
            const AVCodec* codec = avcodec_find_encoder_by_name(c.name);
            if (codec != nullptr && Supports(codec, c.format))
                return { codec, c.format };
        }
        return {};
    }

    // The I/O callbacks on an open file: every byte written (a short write continues, a write
    // broken off by a signal continues unless a stop was requested), seeks as lseek does them.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
    using AvioWriteBytes = const uint8_t*;
#else
    using AvioWriteBytes = uint8_t*;
#endif
    int WriteToFd(void* opaque, AvioWriteBytes data, int size)
    {
        const int fd = *static_cast<const int*>(opaque);
        int done = 0;
        while (done < size) {
            const ssize_t n = write(fd, data + done, size_t(size - done));
            if (n < 0) {
                if (errno == EINTR && !av::g_stopRequested.load())
                    continue;
                return errno == EINTR ? AVERROR_EXIT : AVERROR(errno);
            }
            done += int(n);
        }
        return av::g_stopRequested.load() ? AVERROR_EXIT : size;
    }

    int64_t SeekInFd(void* opaque, int64_t offset, int whence)
    {
        const int fd = *static_cast<const int*>(opaque);
        if (whence == AVSEEK_SIZE) {
            struct stat status;
            return fstat(fd, &status) == 0 ? int64_t(status.st_size) : AVERROR(errno);
        }
        const off_t at = lseek(fd, off_t(offset), whence & ~AVSEEK_FORCE);
        return at < 0 ? AVERROR(errno) : int64_t(at);
    }

    std::string EncoderTitle(const std::string& codecName)
    {
        if (codecName == "ffv1")
            return "FFV1";
        if (codecName.starts_with("libx264"))
            return "H.264 (" + codecName + ")";
        if (codecName == "mpeg4")
            return "MPEG-4";
        return codecName == "gif" ? "GIF" : codecName;
    }

    std::string ContainerTitle(const std::string& extension)
    {
        if (extension == ".mkv")
            return "Matroska";
        if (extension == ".avi")
            return "AVI";
        if (extension == ".mp4")
            return "MP4";
        return "a GIF file";
    }

    // Sets up `enc` for the chosen encoder and opens it; FFV1 with `slices` slices. Returns
    // avcodec_open2's result.
    int OpenEncoder(AVCodecContext& enc, const EncoderChoice& choice, int muxerFlags, int width,
        int height, Rational frameRate, int slices)
    {
        enc.width = width;
        enc.height = height;
        enc.pix_fmt = choice.pixelFormat;
        enc.time_base = { frameRate.den, frameRate.num };
        enc.framerate = { frameRate.num, frameRate.den };
        enc.sample_aspect_ratio = { 1, 1 };
        enc.thread_count = 0;
        if (choice.pixelFormat == AV_PIX_FMT_YUV420P || choice.pixelFormat == AV_PIX_FMT_YUV444P) {
            // The scaler converts with the BT.601 matrix into the limited range; the tags let a
            // player convert back with the same.
            enc.colorspace = AVCOL_SPC_SMPTE170M;
            enc.color_range = AVCOL_RANGE_MPEG;
        }
        AVDictionary* options = nullptr;
        const std::string codecName = choice.codec->name;
        if (codecName == "libx264" && choice.pixelFormat == AV_PIX_FMT_YUV420P) {
            // Quantiser 0 would need the High 4:4:4 profile that players refuse; a low constant
            // quality keeps the picture without visible loss in the High profile.
            av_dict_set(&options, "crf", "12", 0);
            av_dict_set(&options, "preset", "fast", 0);
        } else if (codecName == "libx264rgb" || codecName == "libx264") {
            av_dict_set(&options, "qp", "0", 0);
            av_dict_set(&options, "preset", "fast", 0);
        } else if (codecName == "ffv1") {
            // Version 3 cuts each picture into slices that the encoder packs on its own threads.
            // The count is fixed by the size, not taken from the machine, so the file is the
            // same on every machine and with any --threads; still lossless.
            // Slice count 0: version 1, without slices, for the few sizes no count fits (a
            // picture one pixel wide and over 288 rows tall).
            av_dict_set(&options, "level", slices > 0 ? "3" : "1", 0);
            if (slices > 0) {
                av_dict_set(&options, "slices", std::to_string(slices).c_str(), 0);
                enc.thread_type = FF_THREAD_SLICE;
            }
        } else if (codecName == "mpeg4") {
            enc.flags |= AV_CODEC_FLAG_QSCALE;
            enc.global_quality = FF_QP2LAMBDA * 1;
        }
        if (muxerFlags & AVFMT_GLOBALHEADER)
            enc.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        const int rc = avcodec_open2(&enc, choice.codec, &options);
        av_dict_free(&options);
        return rc;
    }

    const char* MuxerFor(const std::string& extension)
    {
        if (extension == ".mkv")
            return "matroska";
        if (extension == ".avi")
            return "avi";
        if (extension == ".mp4")
            return "mp4";
        return "gif";
    }

} // namespace

int VideoWriter::State::OpenFittingEncoder(
    const EncoderChoice& choice, const std::string& extension, Rational frameRate)
{
    State& s = *this;
    int rc = 0;
    const std::string codecName = choice.codec->name;
    // FFV1 packs each picture in slices, each of a limited size and, for pictures of more than
    // 288 rows, in at least two columns: the usual count first, then others, then no slices, so
    // a picture too large or too narrow for the usual count still gets a file. A size nothing
    // fits is refused, naming it.
    std::vector<int> sliceCounts { s.height >= 64 ? 4 : 1 };
    if (codecName == "ffv1")
        for (int side = 1; side <= 32; ++side)
            if (side * side != sliceCounts[0])
                sliceCounts.push_back(side * side);
    if (codecName == "ffv1")
        sliceCounts.push_back(0);
    for (const int slices : sliceCounts) {
        s.encoder.reset(avcodec_alloc_context3(choice.codec));
        if (!s.encoder)
            throw Failure("cannot write '" + s.name + "': out of memory");
        rc = OpenEncoder(
            *s.encoder, choice, s.muxer->oformat->flags, s.width, s.height, frameRate, slices);
        if (rc >= 0 || codecName != "ffv1")
            break;
    }
    if (rc < 0)
        throw UsageError("cannot write '" + s.name + "': " + EncoderTitle(codecName) + " in "
            + ContainerTitle(extension) + " cannot take pictures of " + std::to_string(s.width)
            + " x " + std::to_string(s.height) + " pixels (" + AvErrorText(rc)
            + "); write PNG pictures instead (a name such as frame_%05d.png)");
    return rc;
}

void VideoWriter::State::OpenOutput(const std::string& path)
{
    State& s = *this;
    int rc = 0;
    s.muxer->interrupt_callback = av::StopInterrupt();
    if (s.fd >= 0) {
        // The buffer size FFmpeg's own file output uses, so the muxers see the same writes.
        constexpr int kBufferBytes = 32768;
        auto* buffer = static_cast<unsigned char*>(av_malloc(kBufferBytes));
        if (buffer != nullptr)
            s.fdIo
                = avio_alloc_context(buffer, kBufferBytes, 1, &s.fd, nullptr, WriteToFd, SeekInFd);
        if (s.fdIo == nullptr) {
            av_free(buffer);
            throw Failure("cannot write '" + s.name + "': out of memory");
        }
        s.fdIo->seekable = AVIO_SEEKABLE_NORMAL;
        s.muxer->pb = s.fdIo;
    } else if ((rc = avio_open2(&s.muxer->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE,
                    &s.muxer->interrupt_callback, nullptr))
        < 0)
        throw s.Fail("opening the file", rc);
}

VideoWriter::VideoWriter(const std::string& path, const std::string& extension, int width,
    int height, Rational frameRate, const TvcMode& mode, const VideoWriterOptions& writerOptions)
    : m_state(std::make_unique<State>())
{
    State& s = *m_state;
    s.fd = writerOptions.fd;
    s.name = writerOptions.name.empty() ? path : writerOptions.name;
    s.width = width;
    s.height = height;
    if (frameRate.num <= 0 || frameRate.den <= 0)
        frameRate = {};

    const EncoderChoice choice = ChooseEncoder(extension, writerOptions.mp4Subsampled);
    if (choice.codec == nullptr)
        throw Failure("cannot write '" + s.name + "': this FFmpeg has no encoder for " + extension);
    int rc = avformat_alloc_output_context2(&s.muxer, nullptr, MuxerFor(extension), nullptr);
    if (rc < 0 || s.muxer == nullptr)
        throw s.Fail(
            std::string("container ") + MuxerFor(extension), rc < 0 ? rc : AVERROR(ENOMEM));
    s.stream = avformat_new_stream(s.muxer, nullptr);
    s.frame.reset(av_frame_alloc());
    s.packet.reset(av_packet_alloc());
    if (!s.stream || !s.frame || !s.packet)
        throw Failure("cannot write '" + s.name + "': out of memory");

    rc = s.OpenFittingEncoder(choice, extension, frameRate);
    AVCodecContext& enc = *s.encoder;
    if ((rc = avcodec_parameters_from_context(s.stream->codecpar, &enc)) < 0)
        throw s.Fail("stream parameters", rc);
    s.stream->time_base = enc.time_base;
    s.stream->avg_frame_rate = enc.framerate;

    s.frame->width = width;
    s.frame->height = height;
    s.frame->format = choice.pixelFormat;
    if ((rc = av_frame_get_buffer(s.frame.get(), 0)) < 0)
        throw s.Fail("frame buffer", rc);
    if (choice.pixelFormat != AV_PIX_FMT_BGR0 && choice.pixelFormat != AV_PIX_FMT_PAL8) {
        s.sws.reset(
            sws_getContext(width, height, AV_PIX_FMT_BGR0, width, height, choice.pixelFormat,
                SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INP, nullptr, nullptr, nullptr));
        if (!s.sws)
            throw Failure("cannot write '" + s.name + "': no conversion to "
                + av_get_pix_fmt_name(choice.pixelFormat));
    }
    if (choice.pixelFormat == AV_PIX_FMT_PAL8) {
        for (const PaletteEntry& e : mode.palette)
            s.modeColours.push_back(PackEntry(e));
    }

    s.OpenOutput(path);
    if ((rc = avformat_write_header(s.muxer, nullptr)) < 0)
        throw s.Fail("the " + std::string(MuxerFor(extension)) + " header", rc);
    s.headerWritten = true;
}

VideoWriter::~VideoWriter() = default;

std::string VideoWriter::CodecName() const { return m_state->encoder->codec->name; }

void VideoWriter::Write(const platform::Surface& picture, std::span<const PaletteEntry> palette)
{
    State& s = *m_state;
    if (picture.width != s.width || picture.height != s.height)
        throw Failure("cannot write '" + s.name + "': a frame of " + std::to_string(picture.width)
            + " x " + std::to_string(picture.height) + " pixels in a video of "
            + std::to_string(s.width) + " x " + std::to_string(s.height));
    int rc = av_frame_make_writable(s.frame.get());
    if (rc < 0)
        throw s.Fail("frame buffer", rc);
    AVFrame& f = *s.frame;
    if (f.format == AV_PIX_FMT_BGR0) {
        for (int y = 0; y < s.height; ++y)
            std::memcpy(
                f.data[0] + ptrdiff_t(y) * f.linesize[0], picture.Row(y), size_t(s.width) * 4);
    } else if (f.format == AV_PIX_FMT_PAL8) {
        // FFmpeg's GIF encoder keeps the first frame's table as the file's global one and gives
        // a frame with another table a local one, so every scene's registers reach the file.
        s.gifColours = s.modeColours;
        if (!palette.empty()) {
            s.gifColours.clear();
            for (const PaletteEntry& e : palette)
                s.gifColours.push_back(PackEntry(e));
        }
        auto* colours = reinterpret_cast<uint32_t*>(f.data[1]);
        for (int i = 0; i < 256; ++i)
            colours[i]
                = 0xFF000000u | (size_t(i) < s.gifColours.size() ? s.gifColours[size_t(i)] : 0);
        uint32_t lastColour = s.gifColours[0];
        uint8_t lastIndex = 0;
        for (int y = 0; y < s.height; ++y) {
            const uint32_t* src = picture.Row(y);
            uint8_t* dst = f.data[0] + ptrdiff_t(y) * f.linesize[0];
            for (int x = 0; x < s.width; ++x) {
                const uint32_t c = src[x] & 0x00FFFFFFu;
                if (c != lastColour) {
                    const auto it = std::find(s.gifColours.begin(), s.gifColours.end(), c);
                    if (it == s.gifColours.end()) {
                        char hex[8];
                        std::snprintf(hex, sizeof hex, "%06X", unsigned(c));
                        throw Failure("cannot write '" + s.name + "': frame "
                            + std::to_string(s.nextPts) + " has the colour #" + hex + " at ("
                            + std::to_string(x) + ", " + std::to_string(y)
                            + "), outside the palette a GIF is written with");
                    }
                    lastColour = c;
                    lastIndex = uint8_t(it - s.gifColours.begin());
                }
                dst[x] = lastIndex;
            }
        }
    } else {
        const uint8_t* src[4] = { reinterpret_cast<const uint8_t*>(picture.pixels.data()) };
        const int srcStride[4] = { s.width * 4 };
        sws_scale(s.sws.get(), src, srcStride, 0, s.height, f.data, f.linesize);
    }
    f.pts = s.nextPts++;
    if ((rc = avcodec_send_frame(s.encoder.get(), &f)) < 0)
        throw s.Fail("encoding", rc);
    s.Drain();
}

void VideoWriter::Finish()
{
    State& s = *m_state;
    if (s.finished)
        return;
    int rc = avcodec_send_frame(s.encoder.get(), nullptr);
    if (rc < 0)
        throw s.Fail("encoding", rc);
    s.Drain();
    if ((rc = av_write_trailer(s.muxer)) < 0)
        throw s.Fail("the end of the file", rc);
    // Errors of buffered writes (a full disk) surface here.
    avio_flush(s.muxer->pb);
    if (s.muxer->pb->error < 0)
        throw s.Fail("writing", s.muxer->pb->error);
    if (s.fdIo != nullptr) {
        if (!s.CloseFd())
            throw s.Fail("closing", AVERROR(errno ? errno : EIO));
    } else if ((rc = avio_closep(&s.muxer->pb)) < 0)
        throw s.Fail("closing", rc);
    s.finished = true;
}

} // namespace pelorin::cli
