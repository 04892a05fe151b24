#include "dither/testing/noise_test_support.h"

#include "convert/nearest_color.h"
#include "noise_generator.h"

#include <algorithm>

namespace pelorin {

double NextNoiseUniform(ConversionContext& context)
{
    NoiseGenerator generator(context.noiseState);
    const uint32_t bits = generator.Next();
    context.noiseState = generator.State();
    return double(bits) * 0x1.0p-32;
}

void ResetNoiseGenerator(ConversionContext& context) { context.noiseState = kNoiseStartState; }

uint8_t AddNoise(uint8_t channel, uint8_t amplitude, double u)
{
    const double a = amplitude;
    const double v = double(channel) + a * u - a / 2.0;
    // Halves to even; v lies within −128 ... 383, where truncation to int and the integer's
    // parity are exact.
    int whole = int(v);
    whole -= int(double(whole) > v); // floor for negative values
    const double fraction = v - double(whole);
    whole += int(fraction > 0.5) | (int(fraction == 0.5) & whole & 1);
    return uint8_t(std::clamp(whole, 0, 255));
}

uint32_t NearestColorWithNoise(uint8_t red, uint8_t green, uint8_t blue, uint8_t amplitude,
    ConversionContext& context)
{
    const uint8_t r = AddNoise(red, amplitude, NextNoiseUniform(context));
    const uint8_t g = AddNoise(green, amplitude, NextNoiseUniform(context));
    const uint8_t b = AddNoise(blue, amplitude, NextNoiseUniform(context));
    return context.NearestTable().Lookup(r, g, b);
}

} // namespace pelorin
