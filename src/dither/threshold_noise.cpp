#include "threshold_noise.h"

#include "convert/nearest_color.h"
#include "convert/working_bitmap.h"
#include "noise_generator.h"

#include <algorithm>

namespace pelorin {

namespace {

    // The uniform source: a 64-bit counter stepped by an odd constant and scrambled into 64
    // well-mixed bits (the "SplitMix" construction), of which the top 32 make one draw. Cheap
    // enough for three draws per pixel, and its sequence is fixed by the starting count.
    class NoiseGenerator {
    public:
        uint32_t Next()
        {
            m_state += 0x9E3779B97F4A7C15ULL;
            uint64_t z = m_state;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
            z ^= z >> 31;
            return uint32_t(z >> 32);
        }
        void Reset() { m_state = kStart; }

    private:
        // Any fixed start will do; what matters is that it never changes within or between runs.
        static constexpr uint64_t kStart = 0x5EEDF00DULL;
        uint64_t m_state = kStart;
    };

    NoiseGenerator& Generator()
    {
        static NoiseGenerator generator;
        return generator;
    }

    constexpr double kTwoToMinus32 = 0x1.0p-32;

    inline uint8_t Noisy(uint8_t channel, uint8_t amplitude, uint32_t bits)
    {
        // v · 2^32 exactly: channel·2^32 + amplitude·bits − amplitude·2^31. Its top half is ⌊v⌋ and
        // its low 32 bits the fraction. No branches: with noise each comparison is a coin toss.
        const int64_t scaled = (int64_t(channel) << 32) + int64_t(amplitude) * int64_t(bits)
            - (int64_t(amplitude) << 31);
        int64_t whole = scaled >> 32; // arithmetic shift: the floor, also below zero
        const uint32_t fraction = uint32_t(scaled);
        whole += int64_t(fraction > 0x80000000u) | (int64_t(fraction == 0x80000000u) & whole & 1);
        return uint8_t(std::clamp<int64_t>(whole, 0, 255));
    }

    inline uint32_t NoisyNearest(const NearestColorTable& table, NoiseGenerator& generator,
        uint8_t red, uint8_t green, uint8_t blue, uint8_t amplitude)
    {
        const uint8_t noisyRed = Noisy(red, amplitude, generator.Next());
        const uint8_t noisyGreen = Noisy(green, amplitude, generator.Next());
        const uint8_t noisyBlue = Noisy(blue, amplitude, generator.Next());
        return table.Lookup(noisyRed, noisyGreen, noisyBlue);
    }

} // namespace

double NextNoiseUniform() { return double(Generator().Next()) * kTwoToMinus32; }

void ResetNoiseGenerator() { Generator().Reset(); }

uint8_t AddNoise(uint8_t channel, uint8_t amplitude, double u)
{
    const double a = amplitude;
    const double v = double(channel) + a * u - a / 2.0;
    // Halves to even, as platform::RoundHalfEven does; v lies within −128 ... 383, where
    // truncation to int and the integer's parity are exact.
    int whole = int(v);
    whole -= int(double(whole) > v); // floor for negative values
    const double fraction = v - double(whole);
    whole += int(fraction > 0.5) | (int(fraction == 0.5) & whole & 1);
    return uint8_t(std::clamp(whole, 0, 255));
}

uint8_t AddNoiseBits(uint8_t channel, uint8_t amplitude, uint32_t bits)
{
    return Noisy(channel, amplitude, bits);
}

uint32_t NearestColorWithNoise(uint8_t red, uint8_t green, uint8_t blue, uint8_t amplitude)
{
    return NoisyNearest(CurrentNearestColorTable(), Generator(), red, green, blue, amplitude);
}

void DitherThresholdNoise(
    platform::PictureBox& destination, platform::PictureBox& source, uint8_t, uint8_t amplitude)
{
    const NearestColorTable& table = CurrentNearestColorTable();
    // A local copy keeps the generator's state in a register through the loop.
    NoiseGenerator generator = Generator();
    WorkingBitmap work(source, 0, false);
    uint8_t* const begin = work.Bytes();
    uint8_t* const end = begin + work.Geometry().SizeBytes();
    for (uint8_t* p = begin; p < end; p += 3) {
        const uint32_t c = NoisyNearest(table, generator, p[2], p[1], p[0], amplitude);
        p[0] = uint8_t(c);
        p[1] = uint8_t(c >> 8);
        p[2] = uint8_t(c >> 16);
    }
    Generator() = generator;
    work.DrawTo(destination);
}

} // namespace pelorin
