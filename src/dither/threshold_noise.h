#pragma once
// "Treshold+Noise": the threshold method with uniform random noise added to each channel before
// the nearest-colour search. The noise comes from one generator shared by the whole program run
// and never reseeded, so every run that performs the same conversions from start-up produces the
// same pictures.
#include "platform/picture_box.h"

#include <cstdint>

namespace pelorin {

// Every buffer pixel of the plain layout (the columns right of the picture included, bottom row
// first) becomes NearestColorWithNoise of its colour. `level` is accepted for the method's calling
// convention and does not change the result. Draws 3 numbers per buffer pixel.
void DitherThresholdNoise(platform::PictureBox& destination, platform::PictureBox& source,
    uint8_t level, uint8_t amplitude);

// For red, then green, then blue: draws u in [0, 1), forms channel + amplitude·u − amplitude/2
// in double precision, rounds halves to even and clamps to 0 ... 255. Returns the palette colour
// nearest to that noisy colour, exactly as NearestColor would (0x00RRGGBB).
uint32_t NearestColorWithNoise(uint8_t red, uint8_t green, uint8_t blue, uint8_t amplitude);

} // namespace pelorin
