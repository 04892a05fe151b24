#include "cli_test_util.h"

#include "av_helpers.h"
#include "cli_error.h"
#include "convert/palette.h"
#include "convert/stretch_picture.h"
#include "dither/method_table.h"
#include "options.h"
#include "output_files.h"
#include "pipeline/frame_pipeline.h"
#include "video_writer.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <stdexcept>
#include <unistd.h>

namespace fs = std::filesystem;

namespace pelorin::cli::test {

ScratchFolder::ScratchFolder()
{
    std::string pattern = (fs::temp_directory_path() / "pelorin-cli-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

std::set<std::string> ScratchFolder::Files() const
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(m_path))
        names.insert(entry.path().filename().string());
    return names;
}

namespace {
    std::string ReadAll(std::FILE* file)
    {
        std::string text;
        std::rewind(file);
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            text.append(buffer, n);
        std::fclose(file);
        return text;
    }
} // namespace

ToolResult RunTool(
    const std::vector<std::string>& args, std::function<void(int64_t framesWritten)> frameWritten)
{
    Console console;
    console.frameWritten = std::move(frameWritten);
    console.out = std::tmpfile();
    console.err = std::tmpfile();
    console.errIsTerminal = false;
    ToolResult result;
    result.exitStatus = RunConvert(args, console);
    result.out = ReadAll(console.out);
    result.err = ReadAll(console.err);
    return result;
}

void WritePng(const std::string& path, const platform::Surface& picture)
{
    const std::vector<uint8_t> bytes = EncodePicture(picture, PictureFormat::Png);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

platform::Surface RandomPicture(
    int width, int height, const std::vector<uint32_t>& colours, uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> pick(0, colours.size() - 1);
    platform::Surface picture(width, height);
    for (uint32_t& p : picture.pixels)
        p = colours[pick(random)];
    return picture;
}

std::vector<uint32_t> PaletteColours(int mode)
{
    std::vector<uint32_t> colours;
    for (const PaletteEntry& e : TvcModeOf(mode).palette)
        colours.push_back(PackEntry(e));
    return colours;
}

std::vector<platform::Surface> DecodeAllFrames(const std::string& path)
{
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        throw std::runtime_error("cannot open " + path);
    InputPtr input(raw);
    avformat_find_stream_info(input.get(), nullptr);
    const AVCodec* codec = nullptr;
    const int stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream < 0)
        throw std::runtime_error("no video stream in " + path);
    CodecPtr decoder(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), input->streams[stream]->codecpar);
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0)
        throw std::runtime_error("cannot decode " + path);
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    std::vector<platform::Surface> frames;
    const auto receive = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            platform::Surface s(frame->width, frame->height);
            SwsPtr sws(sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format),
                frame->width, frame->height, AV_PIX_FMT_BGR0, SWS_POINT, nullptr, nullptr,
                nullptr));
            // Rows with room to spare: the unscaled YUV converters store whole blocks of pixels.
            const int stride = (frame->width + 64) * 4;
            std::vector<uint8_t> rows(size_t(stride) * size_t(frame->height));
            uint8_t* dst[4] = { rows.data() };
            int strides[4] = { stride };
            sws_scale(sws.get(), frame->data, frame->linesize, 0, frame->height, dst, strides);
            for (int y = 0; y < s.height; ++y) {
                std::memcpy(
                    s.Row(y), rows.data() + size_t(y) * size_t(stride), size_t(s.width) * 4);
                for (int x = 0; x < s.width; ++x)
                    s.Row(y)[x] &= 0xFFFFFF;
            }
            frames.push_back(std::move(s));
        }
    };
    while (av_read_frame(input.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream)
            avcodec_send_packet(decoder.get(), packet.get());
        av_packet_unref(packet.get());
        receive();
    }
    avcodec_send_packet(decoder.get(), nullptr);
    receive();
    return frames;
}

std::pair<int, int> StreamFrameRate(const std::string& path)
{
    AVFormatContext* raw = nullptr;
    if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0)
        throw std::runtime_error("cannot open " + path);
    InputPtr input(raw);
    avformat_find_stream_info(input.get(), nullptr);
    const int stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0)
        throw std::runtime_error("no video stream in " + path);
    const AVRational r = input->streams[stream]->r_frame_rate;
    return { r.num, r.den };
}

void MakeTestVideo(const std::string& path, const std::vector<platform::Surface>& frames)
{
    VideoWriter writer(
        path, ".mkv", frames.at(0).width, frames.at(0).height, { 25, 1 }, TvcModeOf(16));
    for (const platform::Surface& frame : frames)
        writer.Write(frame);
    writer.Finish();
}

void MakeYuvTestVideo(const std::string& path, const std::vector<platform::Surface>& frames)
{
    const int w = frames.at(0).width, h = frames.at(0).height;
    AVFormatContext* muxer = nullptr;
    avformat_alloc_output_context2(&muxer, nullptr, "matroska", path.c_str());
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_FFV1);
    CodecPtr enc(avcodec_alloc_context3(codec));
    enc->width = w;
    enc->height = h;
    enc->pix_fmt = AV_PIX_FMT_YUV420P;
    enc->time_base = { 1, 25 };
    enc->framerate = { 25, 1 };
    enc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(enc.get(), codec, nullptr) < 0)
        throw std::runtime_error("cannot open the FFV1 encoder");
    AVStream* stream = avformat_new_stream(muxer, nullptr);
    avcodec_parameters_from_context(stream->codecpar, enc.get());
    stream->time_base = enc->time_base;
    stream->avg_frame_rate = enc->framerate;
    avio_open(&muxer->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (avformat_write_header(muxer, nullptr) < 0)
        throw std::runtime_error("cannot write " + path);
    FramePtr frame(av_frame_alloc());
    frame->width = w;
    frame->height = h;
    frame->format = AV_PIX_FMT_YUV420P;
    av_frame_get_buffer(frame.get(), 0);
    SwsPtr sws(sws_getContext(
        w, h, AV_PIX_FMT_BGR0, w, h, AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr));
    PacketPtr packet(av_packet_alloc());
    const auto drain = [&] {
        while (avcodec_receive_packet(enc.get(), packet.get()) == 0) {
            av_packet_rescale_ts(packet.get(), enc->time_base, stream->time_base);
            packet->stream_index = 0;
            av_interleaved_write_frame(muxer, packet.get());
        }
    };
    for (size_t i = 0; i < frames.size(); ++i) {
        av_frame_make_writable(frame.get());
        const uint8_t* src[4] = { reinterpret_cast<const uint8_t*>(frames[i].pixels.data()) };
        const int stride[4] = { w * 4 };
        sws_scale(sws.get(), src, stride, 0, h, frame->data, frame->linesize);
        frame->pts = int64_t(i);
        avcodec_send_frame(enc.get(), frame.get());
        drain();
    }
    avcodec_send_frame(enc.get(), nullptr);
    drain();
    av_write_trailer(muxer);
    avio_closep(&muxer->pb);
    avformat_free_context(muxer);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::pair<int, std::string> Refusal(std::vector<std::string> args)
{
    try {
        ParseOptions(args);
    } catch (const CliError& e) {
        return { e.ExitStatus(), e.what() };
    }
    return { 0, "" };
}

} // namespace pelorin::cli::test
