#pragma once
// FramePainter: draws a decoded picture into a surface, scaled to fill a rectangle. Internal to
// the video module.
#include "frame_decoder.h"
#include "platform/surface.h"

#include <cstdint>
#include <vector>

struct AVFrame;
struct SwsContext;

namespace pelorin::video {

// A window rectangle in surface pixels; x and y may lie outside the surface.
struct WindowRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool operator==(const WindowRect&) const = default;
};

class FramePainter {
public:
    FramePainter() = default;
    ~FramePainter();
    FramePainter(const FramePainter&) = delete;
    FramePainter& operator=(const FramePainter&) = delete;

    // Scales `frame`, turned upright by `turn`, to rect.width × rect.height and writes the part
    // that falls inside `surface` as 0x00RRGGBB pixels (unused byte 0), touching no pixel
    // outside the rectangle. A picture of the rectangle's own size is converted without
    // resampling. A picture with transparency is shown over black, the TVC's background.
    // Returns false, writing nothing, when the picture cannot be converted.
    bool Paint(const AVFrame& frame, platform::Surface& surface, const WindowRect& rect,
        const Orientation& turn = {});

private:
    bool Prepare(const AVFrame& frame, int width, int height);

    SwsContext* m_sws = nullptr;
    int m_colorspace = -1;
    int m_range = -1;
    std::vector<uint32_t> m_scratch;
};

} // namespace pelorin::video
