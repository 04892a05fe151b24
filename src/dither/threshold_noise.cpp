#include "threshold_noise.h"

#include "convert/nearest_color.h"
#include "convert/working_bitmap.h"
#include "noise_generator.h"

#include <random>

namespace pelorin {

namespace {

    // Any fixed seed will do; what matters is that it never changes within or between runs.
    constexpr uint64_t kNoiseSeed = 0x5EEDF00DULL;

    std::mt19937_64& Generator()
    {
        static std::mt19937_64 generator(kNoiseSeed);
        return generator;
    }

    // The top 53 bits of a 64-bit draw, scaled by 2^−53: every value is exact and below 1.
    inline double ToUnit(uint64_t bits) { return double(bits >> 11) * 0x1.0p-53; }

    inline uint32_t NoisyNearest(const NearestColorTable& table, std::mt19937_64& generator,
        uint8_t red, uint8_t green, uint8_t blue, uint8_t amplitude)
    {
        const uint8_t noisyRed = AddNoise(red, amplitude, ToUnit(generator()));
        const uint8_t noisyGreen = AddNoise(green, amplitude, ToUnit(generator()));
        const uint8_t noisyBlue = AddNoise(blue, amplitude, ToUnit(generator()));
        return table.Lookup(noisyRed, noisyGreen, noisyBlue);
    }

} // namespace

double NextNoiseUniform() { return ToUnit(Generator()()); }

void ResetNoiseGenerator() { Generator().seed(kNoiseSeed); }

uint8_t AddNoise(uint8_t channel, uint8_t amplitude, double u)
{
    const double a = amplitude;
    const double v = double(channel) + a * u - a / 2.0;
    // Rounding halves to even, as platform::RoundHalfEven does, without its library calls:
    // v lies within −128 ... 383, where truncation and the integer parity are exact.
    int whole = int(v);
    if (double(whole) > v)
        --whole; // floor for negative values
    const double fraction = v - double(whole);
    if (fraction > 0.5 || (fraction == 0.5 && (whole & 1) != 0))
        ++whole;
    return uint8_t(whole < 0 ? 0 : whole > 255 ? 255 : whole);
}

uint32_t NearestColorWithNoise(uint8_t red, uint8_t green, uint8_t blue, uint8_t amplitude)
{
    return NoisyNearest(CurrentNearestColorTable(), Generator(), red, green, blue, amplitude);
}

void DitherThresholdNoise(platform::PictureBox& destination, platform::PictureBox& source,
    uint8_t, uint8_t amplitude)
{
    const NearestColorTable& table = CurrentNearestColorTable();
    std::mt19937_64& generator = Generator();
    WorkingBitmap work(source, 0, false);
    uint8_t* const begin = work.Bytes();
    uint8_t* const end = begin + work.Geometry().SizeBytes();
    for (uint8_t* p = begin; p < end; p += 3) {
        const uint32_t c = NoisyNearest(table, generator, p[2], p[1], p[0], amplitude);
        p[0] = uint8_t(c);
        p[1] = uint8_t(c >> 8);
        p[2] = uint8_t(c >> 16);
    }
    work.DrawTo(destination);
}

} // namespace pelorin
