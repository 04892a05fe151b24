#pragma once
// The pixels of a row of the fast error-diffusion scan (diffusion_scan.cpp) for "Graphics 2" and
// "Graphics 4": the three channels in one SSE2 register, the palette's choice as comparisons
// with thresholds, plain or steady. Internal to the scan.
#include "diffusion_rows.h"
#include "error_diffusion_engine.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>

namespace pelorin::diffusion_rows {

// Internal linkage, as when these lived inside diffusion_scan.cpp, their one includer: the
// compiler lays out the scans' registers differently for templates it cannot see are local.
namespace {

    // ---- The scan for "Graphics 2" and "Graphics 4", three channels in one register ---------
    //
    // Every entry of these palettes has channels of 0 or 255, so a channel either falls to 0 (q =
    // v / D ≥ 0) or rises to 255 (q = −((255 − v) / D) ≤ 0), and the palette decides only which
    // channels rise. Both outcomes of every channel are worked out alongside the choice, in the
    // 16-bit lanes 0 (blue), 1 (green) and 2 (red) of one register, so that the choice is a
    // single blend away from the next pixel's value. Lanes 3 ... 7 stay zero.

    enum class BinaryPalette { BlackWhite, Tvc4 };

    // ⌊x / D⌋ for 0 ≤ x ≤ 255 in every lane.
    template <int D> PELORIN_INLINE __m128i DivideLanes(__m128i x)
    {
        if constexpr ((D & (D - 1)) == 0) {
            constexpr int shift = D == 1 ? 0
                : D == 2                 ? 1
                : D == 4                 ? 2
                : D == 8                 ? 3
                : D == 16                ? 4
                                         : 5;
            static_assert(D <= 32);
            return _mm_srli_epi16(x, shift);
        } else {
            return _mm_mulhi_epu16(x, _mm_set1_epi16(int16_t((65536 + D - 1) / D)));
        }
    }
    // The multiply-high above gives the floor for every byte value: checked here once for all.
    template <int D> constexpr bool DivisionByMultiplyIsExact()
    {
        constexpr unsigned m = (65536 + D - 1) / D;
        for (unsigned x = 0; x < 256; ++x)
            if ((x * m) >> 16 != x / D)
                return false;
        return m < 65536;
    }
    static_assert(DivisionByMultiplyIsExact<42>() && DivisionByMultiplyIsExact<48>());

    template <int W> PELORIN_INLINE __m128i MultiplyLanes(__m128i x)
    {
        if constexpr (W == 0)
            return _mm_setzero_si128();
        else if constexpr (W == 1)
            return x;
        else if constexpr (W == 2)
            return _mm_add_epi16(x, x);
        else if constexpr (W == 4)
            return _mm_slli_epi16(x, 2);
        else if constexpr (W == 8)
            return _mm_slli_epi16(x, 3);
        else
            return _mm_mullo_epi16(x, _mm_set1_epi16(int16_t(W)));
    }

    // Two steps deep once the mask is known (the two halves are worked out side by side).
    PELORIN_INLINE __m128i Blend(__m128i ifClear, __m128i ifSet, __m128i mask)
    {
        return _mm_or_si128(_mm_andnot_si128(mask, ifClear), _mm_and_si128(mask, ifSet));
    }

    // The binary palettes' choice as comparisons of sums of the colour's channels with
    // thresholds, one per pair of entries. With a = 255 − 2v per channel, each entry's squared
    // distance is the same Σv² plus 255·A, A being the sum of a over the channels the entry
    // lights: black 0, white a_b + a_g + a_r, blue a_b, red a_r. Entry e beats entry f where
    // A_e − bonus_e < A_f − bonus_f, a tie going to the lower index; that is where the pair's
    // sum of channels exceeds a threshold. The plain choice gives no bonus; steady dithering
    // gives the previous colour one (see SteadyRising), which moves only the thresholds.
    struct RisingThresholds {
        __m128i sum; // lane 0: white beats black where b + g + r exceeds it
        // lane 0: white beats blue where g + r exceeds it; lane 2: white beats red (g + b)
        __m128i pairs;
        __m128i high; // lane 0: blue beats black (b); lane 2: red beats black (r)
        __m128i ahead; // lane 0: blue beats red (b − r); lane 2: red beats blue (r − b)
    };

    // The entries' indices in both palettes, and each one's lit channels (bit 0 blue, 1 green,
    // 2 red).
    enum BinaryEntry { kBlack, kWhite, kBlue, kRed };

    // The scalar thresholds: `favoured` (or −1) gets `bonus`, and loses ties, so that it wins
    // only where it is nearer by more than the bonus.
    struct ThresholdValues {
        int sum, whiteBlue, whiteRed, blueBlack, redBlack, blueRed, redBlue;
    };
    constexpr int FloorHalf(int x) { return x >= 0 ? x / 2 : -((1 - x) / 2); }
    constexpr ThresholdValues ThresholdsFor(int favoured, int bonus)
    {
        const auto bonusOf = [&](int e) { return e == favoured && bonus > 0 ? bonus : 0; };
        const auto winsTie = [&](int e, int f) {
            if (bonus > 0 && f == favoured)
                return true;
            if (bonus > 0 && e == favoured)
                return false;
            return e < f;
        };
        // e beats f ⟺ A_f − A_e > X(e, f), in units of the pair's difference of sums.
        const auto X
            = [&](int e, int f) { return bonusOf(f) - bonusOf(e) - (winsTie(e, f) ? 1 : 0); };
        // A_black − A_white = 2(b + g + r) − 765, A_blue − A_white = 2(g + r) − 510,
        // A_red − A_white = 2(g + b) − 510, A_black − A_blue = 2b − 255, A_black − A_red =
        // 2r − 255, A_red − A_blue = 2(b − r); an integer y has 2y > x exactly where y > ⌊x/2⌋.
        return { FloorHalf(765 + X(kWhite, kBlack)), FloorHalf(510 + X(kWhite, kBlue)),
            FloorHalf(510 + X(kWhite, kRed)), FloorHalf(255 + X(kBlue, kBlack)),
            FloorHalf(255 + X(kRed, kBlack)), FloorHalf(X(kBlue, kRed)),
            FloorHalf(X(kRed, kBlue)) };
    }
    constexpr bool PlainThresholdsAreTheClosedForm()
    {
        const ThresholdValues t = ThresholdsFor(-1, 0);
        return t.sum == 382 && t.whiteBlue == 254 && t.whiteRed == 254 && t.blueBlack == 127
            && t.redBlack == 127 && t.blueRed == -1 && t.redBlue == 0;
    }
    static_assert(PlainThresholdsAreTheClosedForm());

    inline RisingThresholds MakeThresholds(const ThresholdValues& t)
    {
        return { _mm_set1_epi16(int16_t(t.sum)),
            _mm_setr_epi16(int16_t(t.whiteBlue), 0, int16_t(t.whiteRed), 0, 0, 0, 0, 0),
            _mm_setr_epi16(int16_t(t.blueBlack), 0, int16_t(t.redBlack), 0, 0, 0, 0, 0),
            _mm_setr_epi16(int16_t(t.blueRed), 0, int16_t(t.redBlue), 0, 0, 0, 0, 0) };
    }

    // All ones in the lanes of the channels that rise to 255 in the entry chosen for the colour
    // in lanes 0 ... 2.
    template <BinaryPalette P>
    PELORIN_INLINE __m128i RisingChannels(__m128i v, const RisingThresholds& th)
    {
        // b + g + r in lane 0.
        const __m128i sum = _mm_sad_epu8(v, _mm_setzero_si128());
        if constexpr (P == BinaryPalette::BlackWhite) {
            const __m128i white = _mm_cmpgt_epi16(sum, th.sum);
            return _mm_shufflelo_epi16(white, 0);
        } else {
            // Black, white, blue, red: white beats the other three, or blue (red) beats black,
            // red (blue) and is not beaten by white.
            const __m128i greens = _mm_shufflelo_epi16(v, _MM_SHUFFLE(1, 1, 1, 1));
            const __m128i swapped = _mm_shufflelo_epi16(v, _MM_SHUFFLE(3, 0, 1, 2)); // r, g, b
            const __m128i pairs = _mm_cmpgt_epi16(_mm_add_epi16(greens, swapped), th.pairs);
            const __m128i high = _mm_cmpgt_epi16(v, th.high);
            const __m128i ahead = _mm_cmpgt_epi16(_mm_sub_epi16(v, swapped), th.ahead);
            const __m128i single
                = _mm_and_si128(_mm_andnot_si128(pairs, _mm_and_si128(high, ahead)),
                    _mm_setr_epi16(-1, 0, -1, 0, 0, 0, 0, 0));
            const __m128i bothPairs
                = _mm_and_si128(pairs, _mm_shufflelo_epi16(pairs, _MM_SHUFFLE(3, 0, 1, 2)));
            const __m128i white = _mm_and_si128(_mm_cmpgt_epi16(sum, th.sum), bothPairs);
            return _mm_or_si128(_mm_and_si128(_mm_shufflelo_epi16(white, 0),
                                    _mm_setr_epi16(-1, -1, -1, 0, 0, 0, 0, 0)),
                single);
        }
    }

    // The nearest entry (lower index on a tie, as NearestColorTable decides): in closed form,
    //   white ⟺ b + g + r ≥ 383, g + r ≥ 255 and g + b ≥ 255;
    //   blue  ⟺ b ≥ 128, g + r < 255 and b ≥ r;
    //   red   ⟺ r ≥ 128, g + b < 255 and r > b
    // (the a are odd, so black never ties).
    template <BinaryPalette P> PELORIN_INLINE __m128i RisingChannels(__m128i v)
    {
        return RisingChannels<P>(v, MakeThresholds(ThresholdsFor(-1, 0)));
    }

    PELORIN_INLINE __m128i LoadPixel(const uint8_t* p)
    {
        // Three bytes of the pixel, and the next byte, which is masked off.
        int32_t word;
        std::memcpy(&word, p, 4);
        return _mm_and_si128(_mm_unpacklo_epi8(_mm_cvtsi32_si128(word), _mm_setzero_si128()),
            _mm_setr_epi16(-1, -1, -1, 0, 0, 0, 0, 0));
    }

    PELORIN_INLINE __m128i PixelFromInts(int blue, int green, int red)
    {
        return _mm_setr_epi16(int16_t(blue), int16_t(green), int16_t(red), 0, 0, 0, 0, 0);
    }

    // The choice of the binary scan: the lanes that rise to 255, given the colour in lanes 0 ... 2
    // and the pixel's place in the buffer.
    template <BinaryPalette P> struct NearestRising {
        PELORIN_INLINE __m128i operator()(__m128i v, const uint8_t*) const
        {
            return RisingChannels<P>(v);
        }
    };

    // Steady dithering's choice (SteadyTolerance): the previous colour p, an entry of the palette
    // too, gets the pixel's tolerance as its bonus, which only moves the thresholds. They are
    // worked out beforehand for each previous colour (its lit channels, the bytes above 127) and
    // whether the pixel's input moved, so the choice takes no longer than the plain one.
    template <BinaryPalette P> struct SteadyRising {
        const uint8_t* buffer;
        SteadyPrevious previous;
        RisingThresholds thresholds[16]; // [lit channels · 2 + moved]

        SteadyRising(const uint8_t* b, const SteadyPrevious& p, SteadyTolerance tolerance)
            : buffer(b)
            , previous(p)
        {
            constexpr int entryOf[8] = { kBlack, kBlue, -1, -1, kRed, -1, -1, kWhite };
            for (int lit = 0; lit < 8; ++lit)
                for (int moved = 0; moved < 2; ++moved)
                    thresholds[lit * 2 + moved] = MakeThresholds(ThresholdsFor(entryOf[lit],
                        entryOf[lit] < 0 ? 0
                            : moved      ? tolerance.moved
                                         : tolerance.still));
        }

        PELORIN_INLINE __m128i operator()(__m128i v, const uint8_t* pixel) const
        {
            const size_t at = size_t(pixel - buffer);
            // The previous colour's top bits (7, 15, 23) gathered into bits 32 ... 34.
            uint32_t colour;
            std::memcpy(&colour, previous.result + at, 4);
            const size_t lit = size_t((uint64_t(colour & 0x808080u) * 0x2040800u) >> 32) & 7;
            const size_t moved = previous.moved ? size_t(MovedAt(previous.moved, at)) : 0;
            return RisingChannels<P>(v, thresholds[lit * 2 + moved]);
        }
    };

    // The pixels of a row for "Graphics 2" and "Graphics 4": the three channels in one register,
    // both outcomes of each worked out beside the choice `Choose` makes.
    template <size_t I, BinaryPalette P, class Choose> struct BinaryRow {
        static constexpr int D = Shape<I>::divisor, right1 = Shape<I>::right1,
                             right2 = Shape<I>::right2;
        // A copy of its own, which the buffer's byte stores cannot reach, so that what it holds
        // stays in registers.
        const Choose choose;
        const __m128i channels = _mm_setr_epi16(255, 255, 255, 0, 0, 0, 0, 0);
        uint8_t* row = nullptr;
        int16_t* rowQuotients = nullptr;
        __m128i v = _mm_setzero_si128(), next = _mm_setzero_si128();

        explicit BinaryRow(const Choose& c)
            : choose(c)
        {
        }

        PELORIN_INLINE void Start(
            uint8_t* rowBytes, int16_t* quotients, const int* first, const int* second)
        {
            row = rowBytes;
            rowQuotients = quotients;
            v = PixelFromInts(first[0], first[1], first[2]);
            next = PixelFromInts(second[0], second[1], second[2]);
        }

        // One pixel: its rising channels, q for the rows below, its palette colour, and the
        // next pixel's value for both outcomes of each channel, blended by the choice.
        PELORIN_INLINE void Step(size_t x, bool after)
        {
            uint8_t* pixel = row + 3 * x;
            const __m128i fall = DivideLanes<D>(v); // q where the channel falls
            const __m128i rise = DivideLanes<D>(_mm_xor_si128(v, channels)); // −q where it rises
            // Every lane's high byte is zero and weight·q ≤ 127, so the byte-saturating add and
            // subtract are the add and subtract clamped to 0 ... 255, in one step each.
            const __m128i nextFall = _mm_adds_epu8(next, MultiplyLanes<right1>(fall));
            const __m128i nextRise = _mm_subs_epu8(next, MultiplyLanes<right1>(rise));
            const __m128i rising = choose(v, pixel);
            const __m128i q = Blend(fall, _mm_sub_epi16(_mm_setzero_si128(), rise), rising);
            v = Blend(nextFall, nextRise, rising);
            if (after) {
                const __m128i later = LoadPixel(pixel + 6);
                if constexpr (right2 != 0) {
                    const __m128i laterFall = _mm_adds_epu8(later, MultiplyLanes<right2>(fall));
                    const __m128i laterRise = _mm_subs_epu8(later, MultiplyLanes<right2>(rise));
                    next = Blend(laterFall, laterRise, rising);
                } else {
                    next = later;
                }
            }
            // Four lanes: the last pixel's spills one into the next row's first quotient, which
            // that row clears before its batch reads it.
            _mm_storel_epi64(reinterpret_cast<__m128i*>(rowQuotients + 3 * x), q);
            const uint32_t colour = uint32_t(_mm_cvtsi128_si32(_mm_packs_epi16(rising, rising)));
            std::memcpy(pixel, &colour, 2);
            pixel[2] = uint8_t(colour >> 16);
        }
    };

} // namespace

} // namespace pelorin::diffusion_rows

#endif
