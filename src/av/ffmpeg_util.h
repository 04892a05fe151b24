#pragma once
// Owning handles for FFmpeg objects and the one place FFmpeg error codes become text.
// Shared by every module that talks to FFmpeg: the video device, the picture encoders and the
// command-line tool.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <atomic>
#include <memory>
#include <string>

namespace pelorin::av {

struct FormatCloser {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;

// Releases a packet's payload at the end of a scope.
class PacketUnref {
public:
    explicit PacketUnref(AVPacket* p)
        : m_packet(p)
    {
    }
    ~PacketUnref() { av_packet_unref(m_packet); }
    PacketUnref(const PacketUnref&) = delete;
    PacketUnref& operator=(const PacketUnref&) = delete;

private:
    AVPacket* m_packet;
};

// A request to give up, for the whole process. Once it is set (a signal handler may set it: the
// flag is lock-free), every input opened by OpenInputFile and every output opened with
// StopInterrupt() fails its next read or write with AVERROR_EXIT, also one that was blocked
// waiting for data (a stalled pipe) when a signal interrupted it. The window never sets it.
extern std::atomic<bool> g_stopRequested;

// The interrupt callback that reads g_stopRequested.
AVIOInterruptCB StopInterrupt();

// Opens a local file for demuxing, and nothing but a local file: the name always goes through
// the "file" protocol, so a relative name with a colon is not taken for a protocol, and any
// source the container itself names (playlists, references) may only be a local file too.
// The input gives way to g_stopRequested.
int OpenInputFile(AVFormatContext** format, const std::string& path);

// "Invalid data found when processing input" and the like.
std::string AvErrorText(int code);

// Damaged files make the decoders complain on every picture; the device reports failures
// through its own results, so FFmpeg's log is limited to fatal messages (once per process).
void QuietFfmpegLog();

} // namespace pelorin::av
