#pragma once
// The noise source of "Treshold+Noise", internal to dither/. Its state lives in the conversion
// context, so each context continues its own sequence from frame to frame.
#include "convert/conversion_context.h"

#include <algorithm>
#include <cstdint>

namespace pelorin {

// SplitMix's finaliser, in place: the counter's value scrambled into 64 well-mixed bits. A
// template so that the noise lanes (noise_lanes.cpp) apply the very same steps to eight counters
// at once in a vector of them (passed by reference: see noise_lanes.h).
template <class U64> inline __attribute__((always_inline)) void SplitMixFinish(U64& z)
{
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
}

// A 64-bit counter stepped by an odd constant and scrambled into 64 well-mixed bits (the
// "SplitMix" construction), of which the top 32 make one draw: u = draw · 2^−32. Cheap enough
// for three draws per pixel, and its sequence is fixed by the starting count. Because the state
// is a plain counter, skipping n draws is one multiplication (Skip).
class NoiseGenerator {
public:
    static constexpr uint64_t kStep = 0x9E3779B97F4A7C15ULL;

    explicit NoiseGenerator(uint64_t state)
        : m_state(state)
    {
    }
    uint32_t Next()
    {
        m_state += kStep;
        uint64_t z = m_state;
        SplitMixFinish(z);
        return uint32_t(z >> 32);
    }
    uint64_t State() const { return m_state; }
    // The state after `draws` more numbers from `state`.
    static constexpr uint64_t Skip(uint64_t state, uint64_t draws) { return state + draws * kStep; }

private:
    uint64_t m_state;
};

// channel + amplitude·u − amplitude/2 for u = bits · 2^−32, rounded halves to even and clamped
// to 0 ... 255, in integer arithmetic: with a 32-bit u every step of the double-precision
// formula is exact, so the two agree for every input.
inline uint8_t AddNoiseBits(uint8_t channel, uint8_t amplitude, uint32_t bits)
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

// Numbers one "Treshold+Noise" conversion of a SW × SH picture draws: three per pixel of the
// plain-layout working buffer, the columns right of the picture included.
uint64_t NoiseDrawsPerPicture(int SW, int SH);

} // namespace pelorin
