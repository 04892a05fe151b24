#pragma once
// Adjustments of the picture before the capture to the working picture: brightness, contrast,
// saturation and gamma, as a user turns them to help a dark or washed-out video before the
// dither. Neutral settings change nothing, and a caller skips the step altogether then.
#include "platform/surface.h"

#include <string>

namespace pelorin {

struct PictureAdjustments {
    int brightness = 0; // −100 ... 100: adds up to ±128 to every channel
    int contrast = 0; // −100 ... 100: scales about mid-grey, −100 flat grey, 100 nearly a threshold
    int saturation = 0; // −100 ... 100: −100 grey, 100 twice the colour's distance from its grey
    double gamma = 1.0; // 0.2 ... 5: channel v becomes 255 · (v / 255)^(1 / gamma); above 1 lighter

    bool IsNeutral() const
    {
        return brightness == 0 && contrast == 0 && saturation == 0 && gamma == 1.0;
    }
    bool operator==(const PictureAdjustments&) const = default;
};

// The ranges above; an empty text when `adjustments` lies within them, else a message naming
// the first setting outside ("--contrast takes -100 ... 100, got 140" with `prefix` "--").
std::string AdjustmentProblem(const PictureAdjustments& adjustments, const std::string& prefix);

// Applies `adjustments` to every pixel of `picture`: gamma, then contrast, then brightness per
// channel (one table of 256 values), then saturation about the pixel's grey (0.299 R + 0.587 G
// + 0.114 B); every result rounded to the nearest channel value and clamped to 0 ... 255. The
// unused byte stays 0. Neutral adjustments leave every byte as it is. Ranges as checked by
// AdjustmentProblem (outside them the result is unspecified but stays a valid picture).
void AdjustPicture(platform::Surface& picture, const PictureAdjustments& adjustments);
// The same for the pixels of the rectangle left, top, width × height alone (clipped to the
// picture). Everything outside it is not the frame's picture (the black bars around a fitted
// frame) and keeps its bytes: black stays black, whatever the adjustments.
void AdjustPicture(platform::Surface& picture, const PictureAdjustments& adjustments, int left,
    int top, int width, int height);

} // namespace pelorin
