#include "test_videos.h"

#include <gtest/gtest.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

extern char** environ;

namespace pelorin::video::test {

namespace fs = std::filesystem;

std::string SampleVideo() { return PELORIN_SAMPLE_VIDEO; }

namespace {

    // Runs a program with arguments (no shell); its exit status.
    int Run(const std::vector<std::string>& argv)
    {
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        pid_t pid;
        if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0)
            return -1;
        int status = 0;
        if (waitpid(pid, &status, 0) != pid)
            return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path Folder()
    {
        fs::path folder = PELORIN_TEST_VIDEO_DIR;
        fs::create_directories(folder);
        return folder;
    }

    // Tests run as separate processes, possibly at once: write aside, then rename into place.
    std::string Unique(const fs::path& path)
    {
        return path.string() + ".part" + std::to_string(getpid()) + path.extension().string();
    }

} // namespace

std::string TestVideoFolder() { return Folder().string(); }

std::string MadeVideo(const std::string& fileName, const std::vector<std::string>& args)
{
    const fs::path path = Folder() / fileName;
    if (fs::exists(path))
        return path.string();
    const std::string part = Unique(path);
    std::vector<std::string> argv { PELORIN_FFMPEG, "-nostdin", "-hide_banner", "-loglevel",
        "error", "-y" };
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(part);
    const int status = Run(argv);
    if (status != 0) {
        ADD_FAILURE() << "ffmpeg failed (" << status << ") making " << fileName;
        fs::remove(part);
        return {};
    }
    fs::rename(part, path);
    return path.string();
}

std::string WrittenFile(const std::string& fileName, const std::vector<uint8_t>& bytes)
{
    const fs::path path = Folder() / fileName;
    const std::string part = Unique(path);
    {
        std::ofstream out(part, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    fs::rename(part, path);
    return path.string();
}

std::vector<uint8_t> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

uint64_t Hash(const platform::Surface& surface)
{
    uint64_t h = 1469598103934665603ull;
    auto mix = [&h](uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            h ^= (v >> (8 * i)) & 0xFF;
            h *= 1099511628211ull;
        }
    };
    mix(uint32_t(surface.width));
    mix(uint32_t(surface.height));
    for (uint32_t p : surface.pixels)
        mix(p);
    return h;
}

std::vector<uint64_t> ReferenceSlotHashes(const std::string& path, SlotRule rule)
{
    std::vector<uint64_t> slots;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "reference cannot open " << path;
        return slots;
    }
    avformat_find_stream_info(format, nullptr);
    const int stream = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVStream* st = format->streams[stream];
    const AVCodec* decoder = avcodec_find_decoder(st->codecpar->codec_id);
    AVCodecContext* codec = avcodec_alloc_context3(decoder);
    avcodec_parameters_to_context(codec, st->codecpar);
    codec->pkt_timebase = st->time_base;
    codec->thread_count = 1;
    avcodec_open2(codec, decoder, nullptr);
    const AVRational rate = st->r_frame_rate;
    SwsContext* sws = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    int64_t firstTs = AV_NOPTS_VALUE;

    auto take = [&] {
        // Same conversion as the device's for a picture shown at its own size: straight colour
        // conversion to blue, green, red bytes, the fourth byte cleared.
        // swscale may store a few pixels past a row's end: convert into roomy rows first. It also
        // picks its code path (and so its rounding) by row alignment: align as the device does.
        const int roomyWidth = (frame->width + 63) / 64 * 64 + 64;
        std::vector<uint32_t> rows(size_t(roomyWidth) * size_t(frame->height + 1));
        sws = sws_getCachedContext(sws, frame->width, frame->height, AVPixelFormat(frame->format),
            frame->width, frame->height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
        uint8_t* dst[4] = { reinterpret_cast<uint8_t*>(rows.data()) };
        int stride[4] = { roomyWidth * 4 };
        sws_scale(sws, frame->data, frame->linesize, 0, frame->height, dst, stride);
        platform::Surface surface(frame->width, frame->height);
        for (int y = 0; y < frame->height; ++y)
            for (int x = 0; x < frame->width; ++x)
                surface.At(x, y) = rows[size_t(y) * size_t(roomyWidth) + size_t(x)] & 0x00FFFFFFu;
        const uint64_t hash = Hash(surface);
        EXPECT_FALSE(frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT))
            << "reference picture " << slots.size() << " of " << path << " is damaged";
        if (rule == SlotRule::InOrder) {
            slots.push_back(hash);
            return;
        }
        const int64_t ts = frame->pts;
        if (firstTs == AV_NOPTS_VALUE)
            firstTs = ts;
        const int64_t slot
            = av_rescale_q_rnd(ts - firstTs, st->time_base, av_inv_q(rate), AV_ROUND_NEAR_INF);
        while (!slots.empty() && int64_t(slots.size()) < slot)
            slots.push_back(slots.back()); // the picture before lasts until this one
        slots.resize(size_t(slot));
        slots.push_back(hash);
    };

    bool ended = false;
    while (!ended) {
        if (av_read_frame(format, packet) < 0) {
            avcodec_send_packet(codec, nullptr);
            ended = true;
        } else {
            if (packet->stream_index == stream)
                avcodec_send_packet(codec, packet);
            av_packet_unref(packet);
        }
        while (avcodec_receive_frame(codec, frame) == 0) {
            take();
            av_frame_unref(frame);
        }
    }
    sws_freeContext(sws);
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    avformat_close_input(&format);
    return slots;
}

} // namespace pelorin::video::test
