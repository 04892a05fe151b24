#pragma once
// "Treshold+Noise": the threshold method with uniform random noise added to each channel before
// the nearest-colour search. The noise comes from the generator of the conversion context, which
// starts from a fixed state and is never reseeded, so every run that performs the same
// conversions from start-up produces the same pictures.
#include "platform/picture_box.h"

#include <cstdint>

namespace pelorin {

// Every buffer pixel of the plain layout (the columns right of the picture included, bottom row
// first) becomes the palette colour nearest to its colour with noise added: for red, then green,
// then blue, u in [0, 1) is drawn and channel + amplitude·u − amplitude/2 rounded halves to even
// and clamped to 0 ... 255. `level` is accepted for the method's calling convention and does not
// change the result. Draws 3 numbers per buffer pixel. Works on the program's context.
void DitherThresholdNoise(platform::PictureBox& destination, platform::PictureBox& source,
    uint8_t level, uint8_t amplitude);

// The noise generator's state after `pictures` conversions of SW × SH pictures by
// "Treshold+Noise", starting from `state`: every such conversion draws the same count of numbers,
// and the generator is a counter, so frame k of a run can start on any thread from its own state.
uint64_t NoiseStateAfter(uint64_t state, int64_t pictures, int SW, int SH);

} // namespace pelorin
