#pragma once
// The program-wide noise source of "Treshold+Noise", internal to dither/.
#include <cstdint>

namespace pelorin {

// The next number of the program's uniform sequence, 0 ≤ u < 1, a whole multiple of 2^−32. The
// sequence starts from the same fixed state in every run and continues from call to call.
double NextNoiseUniform();

// Puts the generator back in its start state. Tests only: the program never reseeds it.
void ResetNoiseGenerator();

// channel + amplitude·u − amplitude/2 in double precision, rounded halves to even, clamped to
// 0 ... 255.
uint8_t AddNoise(uint8_t channel, uint8_t amplitude, double u);

// The same for u = bits · 2^−32, in integer arithmetic: with a 32-bit u every step of the double
// computation is exact, so the two agree for every input.
uint8_t AddNoiseBits(uint8_t channel, uint8_t amplitude, uint32_t bits);

} // namespace pelorin
