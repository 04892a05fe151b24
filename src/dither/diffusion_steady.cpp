#include "error_diffusion_engine.h"
#include "steady_history.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelorin {

int SmallestStep(const NearestColorTable& table)
{
    const auto& entries = table.Entries();
    int64_t step = 0;
    for (size_t i = 0; i < entries.size(); ++i)
        for (size_t j = i + 1; j < entries.size(); ++j) {
            const PaletteEntry &a = entries[i], &b = entries[j];
            const int64_t db = int(a.Blue) - b.Blue, dg = int(a.Green) - b.Green,
                          dr = int(a.Red) - b.Red;
            const int64_t d = db * db + dg * dg + dr * dr;
            if (d > 0 && (step == 0 || d < step))
                step = d;
        }
    return int(step / 255);
}

SteadyTolerance SteadyToleranceFor(const NearestColorTable& table, DiffusionMethod method)
{
    bool binary = true;
    for (const PaletteEntry& e : table.Entries())
        for (uint8_t c : { e.Blue, e.Green, e.Red })
            binary = binary && (c == 0 || c == 255);
    const int step = SmallestStep(table);
    const auto share = [&](int hundredths) { return step * hundredths / 100; };
    if (binary) {
        const SteadyDiffusionRule& rule = kSteadyBinaryDiffusion;
        return { share(rule.stillShare), share(rule.movedShare), rule.reach };
    }
    return { share(kSteadyFineStillShare[size_t(method)]), share(kSteadyFineMovedShare),
        kSteadyFineReach };
}

void MarkMovedBits(const uint8_t* input, uint8_t* before, uint8_t* moved, size_t count, int reach)
{
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i limit = _mm_set1_epi8(char(std::clamp(reach, 0, 255)));
    for (; i + 16 <= count; i += 16) {
        const __m128i now = _mm_loadu_si128(reinterpret_cast<const __m128i*>(input + i));
        const __m128i was = _mm_loadu_si128(reinterpret_cast<const __m128i*>(before + i));
        const __m128i apart = _mm_or_si128(_mm_subs_epu8(now, was), _mm_subs_epu8(was, now));
        // All ones where the distance is within reach, zero beyond it.
        const __m128i within = _mm_cmpeq_epi8(_mm_subs_epu8(apart, limit), _mm_setzero_si128());
        const auto bits = uint16_t(~_mm_movemask_epi8(within));
        std::memcpy(moved + i / 8, &bits, 2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(before + i), now);
    }
#endif
    std::memset(moved + i / 8, 0, MovedBitsBytes(count) - i / 8);
    for (; i < count; ++i) {
        if (std::abs(int(input[i]) - int(before[i])) > reach)
            moved[i / 8] = uint8_t(moved[i / 8] | 1u << (i % 8));
        before[i] = input[i];
    }
}

} // namespace pelorin