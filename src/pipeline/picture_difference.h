#pragma once
// The faithfulness figure: how far a converted picture lies from the unreduced one. The
// command-line tool's summary prints it, and the palette search chooses registers by it.
#include "platform/surface.h"

namespace pelorin {

// How far a converted picture lies from the unreduced one, as an eye at a little distance sees
// it: both pictures blurred with a 3 × 3 box (edge pixels repeated outward), then the mean
// absolute difference over every pixel and channel, in steps of 0 ... 255. Zero for two empty
// pictures; the pictures must have the same size (std::invalid_argument otherwise).
double BlurredDifference(const platform::Surface& converted, const platform::Surface& unreduced);

// The same in the perceptual distance's terms (dither/exact_diffusion.h): both pictures blurred
// with the same box in linear light, as light mixes in the eye, then the mean distance between
// their Oklab colours (L scaled to 0 ... 255). Same preconditions.
double BlurredPerceptualDifference(
    const platform::Surface& converted, const platform::Surface& unreduced);

} // namespace pelorin
