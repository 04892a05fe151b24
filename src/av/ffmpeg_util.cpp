#include "ffmpeg_util.h"

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include <mutex>

namespace pelorin::av {

std::atomic<bool> g_stopRequested { false };

namespace {
    int StopRequested(void*) { return g_stopRequested.load() ? 1 : 0; }
} // namespace

AVIOInterruptCB StopInterrupt() { return { StopRequested, nullptr }; }

int OpenInputFile(AVFormatContext** format, const std::string& path)
{
    if (*format == nullptr) {
        *format = avformat_alloc_context();
        if (*format == nullptr)
            return AVERROR(ENOMEM);
    }
    (*format)->interrupt_callback = StopInterrupt();
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const int result = avformat_open_input(format, ("file:" + path).c_str(), nullptr, &options);
    av_dict_free(&options);
    return result;
}

std::string AvErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0)
        return "FFmpeg error " + std::to_string(code);
    return text;
}

void QuietFfmpegLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

} // namespace pelorin::av
