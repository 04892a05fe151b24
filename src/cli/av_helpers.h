#pragma once
// Small owners for FFmpeg objects and the one place FFmpeg error codes become text.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <string>

namespace pelorin::cli {

// "Invalid data found when processing input" and the like (av_strerror).
std::string AvErrorText(int code);

struct AvFormatInputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
struct AvCodecContextFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct AvFrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct AvPacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct SwsFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};

using InputPtr = std::unique_ptr<AVFormatContext, AvFormatInputCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, AvCodecContextFreer>;
using FramePtr = std::unique_ptr<AVFrame, AvFrameFreer>;
using PacketPtr = std::unique_ptr<AVPacket, AvPacketFreer>;
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;

} // namespace pelorin::cli
