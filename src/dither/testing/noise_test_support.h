#pragma once
// Test hooks of the "Treshold+Noise" generator and the double-precision formula its integer form
// must agree with. For tests only (library dither_test_support).
#include "convert/conversion_context.h"

#include <cstdint>

namespace pelorin {

// The next number of `context`'s sequence, 0 ≤ u < 1, a whole multiple of 2^−32.
double NextNoiseUniform(ConversionContext& context = ProgramContext());

// Puts `context`'s generator back in its start state. The program never reseeds it.
void ResetNoiseGenerator(ConversionContext& context = ProgramContext());

// channel + amplitude·u − amplitude/2 in double precision, rounded halves to even, clamped to
// 0 ... 255: the formula the method is defined by.
uint8_t AddNoise(uint8_t channel, uint8_t amplitude, double u);

// For red, then green, then blue: draws u from `context`, applies AddNoise and returns the
// palette colour nearest to the noisy colour (0x00RRGGBB).
uint32_t NearestColorWithNoise(uint8_t red, uint8_t green, uint8_t blue, uint8_t amplitude,
    ConversionContext& context = ProgramContext());

} // namespace pelorin
