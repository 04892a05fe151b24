#pragma once
// The frame's shape on the TVC's screen: where in the host picture (which stands for the whole
// 4:3 screen, whatever its pixel size) the video device draws a frame so that it keeps its
// display aspect. Shared by pelorin-convert and the window, so both draw the same rectangle.
#include "frame_painter.h"

#include <string>

namespace pelorin::video {

// How a frame fills the host picture: stretched to fill it whatever its shape; fitted whole
// with black bars, keeping its display aspect; or filling it at its display aspect, the
// overflow cropped equally on both sides.
enum class Aspect { Stretch, Fit, Fill };

// The rectangle of a hostWidth × hostHeight host the frame is drawn into for `aspect`, for a
// frame of width × height pixels of shape `pixelAspect` (width / height of one pixel): the whole
// host for Stretch (and for a frame or pixel of no size); for Fit the largest centred rectangle
// of the frame's display aspect inside it; for Fill the smallest one covering it, overflowing
// equally on both sides (x or y is then negative). Sides are 1 ... kMaxWindowSide.
WindowRect AspectRect(
    Aspect aspect, int hostWidth, int hostHeight, int width, int height, double pixelAspect);

// The shape (width / height) of one pixel of the first video stream of the file at `path` as
// shown upright, a picture `uprightWidth` wide: as its container or codec declares it, turned
// with a picture stored a quarter turn off; 1 when neither declares it or the file cannot be
// read. Opens the file once more, so callers ask only when they need it.
double PixelAspect(const std::string& path, int uprightWidth);

} // namespace pelorin::video
