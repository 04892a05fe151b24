#pragma once
// The program-wide noise source of "Treshold+Noise", internal to dither/.
#include <cstdint>

namespace pelorin {

// The next number of the program's uniform sequence, 0 ≤ u < 1. The sequence starts from the
// same fixed state in every run and continues from call to call.
double NextNoiseUniform();

// Puts the generator back in its start state. Tests only: the program never reseeds it.
void ResetNoiseGenerator();

// channel + amplitude·u − amplitude/2 in double precision, rounded halves to even, clamped to
// 0 ... 255.
uint8_t AddNoise(uint8_t channel, uint8_t amplitude, double u);

} // namespace pelorin
