#include "picture_shape.h"

#include "av/ffmpeg_util.h"

#include <algorithm>
#include <cmath>

namespace pelorin::video {

WindowRect AspectRect(
    Aspect aspect, int hostWidth, int hostHeight, int width, int height, double pixelAspect)
{
    if (aspect == Aspect::Stretch || width <= 0 || height <= 0 || !(pixelAspect > 0))
        return { 0, 0, hostWidth, hostHeight };
    // The host shows the whole 4:3 screen, so a host pixel is 4/3 · hostHeight / hostWidth as
    // wide as it is high.
    const double screen = 4.0 / 3.0;
    const double frame = double(width) * pixelAspect / double(height);
    const bool wider = frame > screen;
    // Fit matches the frame's longer side to the screen's, fill its shorter one.
    // A side past kMaxWindowSide is cut to it: the sides still fit an int, and the device says
    // why it cannot draw that.
    const auto side = [](double length) {
        return int(std::lround(std::clamp(length, 1.0, double(kMaxWindowSide))));
    };
    if (wider == (aspect == Aspect::Fit)) {
        const int h = side(hostHeight * screen / frame);
        return { 0, (hostHeight - h) / 2, hostWidth, h };
    }
    const int w = side(hostWidth * frame / screen);
    return { (hostWidth - w) / 2, 0, w, hostHeight };
}

double PixelAspect(const std::string& path, int uprightWidth)
{
    AVFormatContext* raw = nullptr;
    if (av::OpenInputFile(&raw, path) < 0)
        return 1.0;
    const av::FormatPtr format(raw);
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        return 1.0;
    const int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return 1.0;
    const AVRational sar
        = av_guess_sample_aspect_ratio(format.get(), format->streams[index], nullptr);
    if (sar.num <= 0 || sar.den <= 0)
        return 1.0;
    const double aspect = double(sar.num) / double(sar.den);
    return format->streams[index]->codecpar->width == uprightWidth ? aspect : 1.0 / aspect;
}

} // namespace pelorin::video
