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

// The largest window side the painter takes: offsets and ends of such a window still fit an int.
// Sides past kMaxVideoSide are a picture far wider (or taller) than the screen it fills, most of
// it outside the surface: only the part that shows is scaled.
constexpr int kMaxWindowSide = 1 << 30;

// Whether a picture upright uprightWidth × uprightHeight can be drawn into `rect` on a surface
// of surfaceWidth × surfaceHeight: sides 1 ... kMaxWindowSide, and the picture's pixels that show
// (with a few more around them) scaled to no more than kMaxVideoSide a side. Only a picture
// pixel drawn thousands of pixels large fails the second.
bool Drawable(int uprightWidth, int uprightHeight, const WindowRect& rect, int surfaceWidth,
    int surfaceHeight);

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
    // Returns false, writing nothing, when the picture cannot be converted or drawn (Drawable).
    bool Paint(const AVFrame& frame, platform::Surface& surface, const WindowRect& rect,
        const Orientation& turn = {});

private:
    // Paint for a window with a side past kMaxVideoSide: the picture cropped to what shows.
    bool PaintShownPart(const AVFrame& frame, platform::Surface& surface, const WindowRect& rect,
        const Orientation& turn);
    bool Prepare(const AVFrame& frame, int width, int height);

    SwsContext* m_sws = nullptr;
    int m_colorspace = -1;
    int m_range = -1;
    std::vector<uint32_t> m_scratch;
};

} // namespace pelorin::video
