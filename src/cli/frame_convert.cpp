#include "frame_convert.h"

#include "convert/palette.h"
#include "convert/stretch_picture.h"
#include "convert/working_bitmap.h"
#include "dither/method_table.h"
#include "timer/stopwatch.h"

#include <stdexcept>
#include <string>

namespace pelorin {

void LoadPalette(TvcMode mode)
{
    switch (mode) {
    case TvcMode::Graphics2:
        SetPalette2();
        return;
    case TvcMode::Graphics4:
        SetPalette4();
        return;
    case TvcMode::Graphics16:
        SetPalette16();
        return;
    }
    throw std::out_of_range("TVC mode " + std::to_string(int(mode)) + " is not 2, 4 or 16");
}

FrameTiming ConvertFrame(TvcMode mode, int methodIndex, platform::PictureBox* host,
    platform::PictureBox& working, platform::PictureBox* display)
{
    if (methodIndex != kNoMethod && FindMethod(methodIndex) == nullptr)
        throw std::out_of_range("method " + std::to_string(methodIndex) + " is not 1 ... 16");
    if (mode != TvcMode::Graphics2 && mode != TvcMode::Graphics4 && mode != TvcMode::Graphics16)
        throw std::out_of_range("TVC mode " + std::to_string(int(mode)) + " is not 2, 4 or 16");

    StopwatchStart();
    if (host != nullptr) {
        // "Graphics 16" loads its palette before the copy, the other two after it. The copy does
        // not read the palette, so the order changes no pixel; it is kept so that a trace of the
        // calls reads the same as the window's.
        if (mode == TvcMode::Graphics16)
            LoadPalette(mode);
        StretchPicture(working, *host, PictureWidth(working), PictureHeight(working), 1);
        if (mode != TvcMode::Graphics16)
            LoadPalette(mode);
    } else {
        LoadPalette(mode);
    }
    if (methodIndex != kNoMethod)
        RunMethod(methodIndex, working);
    FrameTiming timing;
    timing.elapsedMs = StopwatchElapsedMs();
    const StopwatchReadings readings = StopwatchState();
    timing.elapsedSeconds
        = double(readings.stopCount - readings.startCount) / double(readings.counterFrequency);

    if (display != nullptr)
        EnlargeToDisplay(*display, working);
    return timing;
}

void EnlargeToDisplay(platform::PictureBox& display, platform::PictureBox& working)
{
    StretchPicture(display, working, PictureWidth(display), PictureHeight(display), 0);
}

} // namespace pelorin
