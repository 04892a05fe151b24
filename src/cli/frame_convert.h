#pragma once
// One frame's conversion, shared by the window's frame pipeline and pelorin-convert, so both turn
// a frame into exactly the same bytes.
//
// The pictures:
//  - host: the frame as displayed, 512 × 240 (the window's Pic1);
//  - working: the mode's picture at TVC resolution, 512 / 256 / 128 × 240 (TVC2, TVC4, TVC16);
//  - display: the working picture enlarged to 512 × 480 without smoothing (Pic2, Pic3, Pic4).
// The method index is the Option1 index 1 ... 16 of the method table, or kNoMethod: the working
// picture then keeps the smoothed, unreduced copy of the frame.
//
// Not re-entrant: the palette table, the frame stopwatch and the working bitmap are shared
// state of the conversion core.
#include "platform/picture_box.h"

#include <cstdint>

namespace pelorin {

enum class TvcMode { Graphics2 = 2, Graphics4 = 4, Graphics16 = 16 };

constexpr int kHostWidth = 512;
constexpr int kHostHeight = 240;
constexpr int kWorkingHeight = 240;
constexpr int kDisplayWidth = 512;
constexpr int kDisplayHeight = 480;
constexpr int kNoMethod = 0;

// 512, 256 or 128: the width of the mode's working picture.
constexpr int WorkingWidth(TvcMode mode)
{
    return mode == TvcMode::Graphics2 ? 512 : mode == TvcMode::Graphics4 ? 256 : 128;
}

// Fills `Palette` with the mode's colours (SetPalette2 / SetPalette4 / SetPalette16).
void LoadPalette(TvcMode mode);

// What the frame stopwatch measured for one conversion: `elapsedMs` is the whole number of
// milliseconds the window shows; `elapsedSeconds` is the same pair of counter readings without
// the rounding, for statistics finer than a millisecond.
struct FrameTiming {
    int32_t elapsedMs = 0;
    double elapsedSeconds = 0;
};

// Converts one frame the way the window's frame pipeline does, timed by the frame stopwatch:
//   stopwatch start;
//   with a host: the smoothed copy of the whole host into the working picture at the working
//   picture's own size, with the mode's palette loaded (before the copy in "Graphics 16", after
//   it in the other two modes); without a host (null): the palette alone, and the working picture
//   is converted as it stands, at whatever size it has;
//   the method (followed by MapToPalette where the method table says so);
//   stopwatch stop;
// then, when a display picture is given, the working picture enlarged into it without smoothing
// (outside the timing, as in the window). The display picture's stretch mode must be left at its
// default, which takes single pixels; this function never sets it to smoothing.
// Throws std::out_of_range for a method index other than kNoMethod or 1 ... 16, before anything
// is touched; lets the conversion core's run-time errors through.
FrameTiming ConvertFrame(TvcMode mode, int methodIndex, platform::PictureBox* host,
    platform::PictureBox& working, platform::PictureBox* display = nullptr);

// The display copy alone: `working` enlarged without smoothing to fill `display`.
void EnlargeToDisplay(platform::PictureBox& display, platform::PictureBox& working);

} // namespace pelorin
