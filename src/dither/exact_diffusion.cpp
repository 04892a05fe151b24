#include "exact_diffusion.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cmath>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelorin {

namespace {

    // Every kernel reaches at most two pixels sideways and two rows down: the error rows'
    // margins and their count are sized for that.
    constexpr bool ReachWithinTwo()
    {
        for (const DiffusionKernel& k : kDiffusionKernels)
            for (int i = 0; i < k.entryCount; ++i) {
                const KernelEntry& e = k.entries[size_t(i)];
                if (e.dx < -2 || e.dx > 2 || e.dy > 2 || (e.dy == 0 && e.dx < 1))
                    return false;
            }
        return true;
    }
    static_assert(ReachWithinTwo(), "the exact engine's error rows hold two pixels and rows");

    constexpr float kTop = 255.0f; // the working space's channel range is 0 ... kTop

    double DecodeSrgb(double v) // 0 ... 1
    {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    }

    // sRGB bytes to linear light, scaled to 0 ... 255.
    struct LinearTable {
        std::array<float, 256> value {};
        LinearTable()
        {
            for (int i = 0; i < 256; ++i)
                value[size_t(i)] = float(DecodeSrgb(i / 255.0) * kTop);
        }
    };
    const LinearTable& Linear()
    {
        static const LinearTable table;
        return table;
    }

    // sRGB decoding of a working value 0 ... 255 that need not be whole (a pixel with its error),
    // by linear interpolation between 1024 steps: within 1e-4 of the exact curve, far below what
    // moves a nearest-colour choice.
    struct DecodeCurve {
        static constexpr int kSteps = 1024;
        std::array<float, kSteps + 2> value {};
        DecodeCurve()
        {
            for (int i = 0; i <= kSteps + 1; ++i)
                value[size_t(i)] = float(DecodeSrgb(std::min(1.0, double(i) / kSteps)));
        }
        float operator()(float v) const // v in 0 ... 255, result 0 ... 1
        {
            const float at = v * (kSteps / kTop);
            const int i = std::clamp(int(at), 0, kSteps);
            const float t = at - float(i);
            return value[size_t(i)] + t * (value[size_t(i) + 1] - value[size_t(i)]);
        }
    };
    const DecodeCurve& Decode()
    {
        static const DecodeCurve curve;
        return curve;
    }

    // Oklab (Björn Ottosson, 2020) of a linear-light colour 0 ... 1, scaled by 255 so that its
    // squared distances are of the size of the RGB ones.
    void Oklab(float r, float g, float b, float out[3])
    {
        const float l = std::cbrt(0.4122214708f * r + 0.5363325363f * g + 0.0514459929f * b);
        const float m = std::cbrt(0.2119034982f * r + 0.6806995451f * g + 0.1073969566f * b);
        const float s = std::cbrt(0.0883024619f * r + 0.2817188376f * g + 0.6299787005f * b);
        out[0] = kTop * (0.2104542553f * l + 0.7936177850f * m - 0.0040720468f * s);
        out[1] = kTop * (1.9779984951f * l - 2.4285922050f * m + 0.4505937099f * s);
        out[2] = kTop * (0.0259040371f * l + 0.7827717662f * m - 0.8086757660f * s);
    }

    // The colour carrying the error, limited per channel to the screen's range widened by
    // kExactCarryMargin on both sides (exact_diffusion.h says why).
    constexpr float kLeast = -kExactCarryMargin, kMost = kTop + kExactCarryMargin;
    inline void LimitCarried(float c[3])
    {
        for (int i = 0; i < 3; ++i)
            c[i] = std::clamp(c[i], kLeast, kMost);
    }

    constexpr int kMaxEntries = 256;

    // The palette in the working space (for the error) and in the distance's space (for the
    // choice), channels apart so the search runs down three flat arrays.
    struct PreparedPalette {
        int count = 0;
        std::array<float, kMaxEntries> wr, wg, wb; // working space
        std::array<float, kMaxEntries> dx, dy, dz; // distance space
    };

    void Prepare(std::span<const PaletteEntry> palette, const ExactDiffusionSettings& settings,
        PreparedPalette& out)
    {
        assert(!palette.empty() && palette.size() <= size_t(kMaxEntries));
        out.count = int(std::min(palette.size(), size_t(kMaxEntries)));
        const LinearTable& linear = Linear();
        for (int i = 0; i < out.count; ++i) {
            const PaletteEntry& e = palette[size_t(i)];
            const float lr = linear.value[e.Red], lg = linear.value[e.Green],
                        lb = linear.value[e.Blue];
            if (settings.linearLight) {
                out.wr[size_t(i)] = lr;
                out.wg[size_t(i)] = lg;
                out.wb[size_t(i)] = lb;
            } else {
                out.wr[size_t(i)] = e.Red;
                out.wg[size_t(i)] = e.Green;
                out.wb[size_t(i)] = e.Blue;
            }
            if (settings.distance == ColourDistance::Perceptual) {
                float lab[3];
                Oklab(lr / kTop, lg / kTop, lb / kTop, lab);
                out.dx[size_t(i)] = lab[0];
                out.dy[size_t(i)] = lab[1];
                out.dz[size_t(i)] = lab[2];
            } else {
                out.dx[size_t(i)] = out.wr[size_t(i)];
                out.dy[size_t(i)] = out.wg[size_t(i)];
                out.dz[size_t(i)] = out.wb[size_t(i)];
            }
        }
    }

    // The nearest entry to (x, y, z) in the distance space; lowest index on a tie.
    inline int Nearest(const PreparedPalette& p, float x, float y, float z, float& distance)
    {
        float best = 3.0e38f;
        int bestIndex = 0;
        for (int i = 0; i < p.count; ++i) {
            const float a = x - p.dx[size_t(i)], b = y - p.dy[size_t(i)], c = z - p.dz[size_t(i)];
            const float d = a * a + b * b + c * c;
            if (d < best) {
                best = d;
                bestIndex = i;
            }
        }
        distance = best;
        return bestIndex;
    }

#if defined(__SSE2__)
    // The palette for the vector search: the distance space four entries to a vector (the
    // entries past the last far away, so they never win) and each entry's working colour as one
    // vector.
    struct VectorPalette {
        int groups = 0;
        alignas(16) std::array<float, kMaxEntries> x, y, z;
        alignas(16) std::array<std::array<float, 4>, kMaxEntries> working;
    };

    void PrepareVectors(const PreparedPalette& p, VectorPalette& out)
    {
        out.groups = (p.count + 3) / 4;
        for (int i = 0; i < 4 * out.groups; ++i) {
            const bool real = i < p.count;
            out.x[size_t(i)] = real ? p.dx[size_t(i)] : 1.0e18f;
            out.y[size_t(i)] = real ? p.dy[size_t(i)] : 1.0e18f;
            out.z[size_t(i)] = real ? p.dz[size_t(i)] : 1.0e18f;
        }
        // At least four, so the first group's colours can all be read.
        for (int i = 0; i < std::max(p.count, 4); ++i)
            out.working[size_t(i)] = i < p.count
                ? std::array<float, 4> { p.wr[size_t(i)], p.wg[size_t(i)], p.wb[size_t(i)], 0.0f }
                : std::array<float, 4> {};
    }

    // Nearest for a colour in lanes 0 ... 2, four entries at a time: each distance by the same
    // operations as Nearest, then the smallest, and the first entry at it (Nearest keeps the
    // first of equals). kGroups > 0 is the number of groups known when compiling.
    template <int kGroups>
    inline int NearestVector(const VectorPalette& p, __m128 colour, float& distance)
    {
        const int groups = kGroups > 0 ? kGroups : p.groups;
        const __m128 x = _mm_shuffle_ps(colour, colour, 0x00);
        const __m128 y = _mm_shuffle_ps(colour, colour, 0x55);
        const __m128 z = _mm_shuffle_ps(colour, colour, 0xAA);
        __m128 d[kGroups > 0 ? kGroups : kMaxEntries / 4];
        __m128 least = _mm_set1_ps(3.0e38f);
        for (int g = 0; g < groups; ++g) {
            const __m128 a = _mm_sub_ps(x, _mm_load_ps(p.x.data() + 4 * g));
            const __m128 b = _mm_sub_ps(y, _mm_load_ps(p.y.data() + 4 * g));
            const __m128 c = _mm_sub_ps(z, _mm_load_ps(p.z.data() + 4 * g));
            d[g] = _mm_add_ps(_mm_add_ps(_mm_mul_ps(a, a), _mm_mul_ps(b, b)), _mm_mul_ps(c, c));
            if constexpr (kGroups != 4)
                least = _mm_min_ps(least, d[g]);
        }
        if constexpr (kGroups == 4) // the same smallest, sooner
            least = _mm_min_ps(_mm_min_ps(d[0], d[1]), _mm_min_ps(d[2], d[3]));
        least = _mm_min_ps(least, _mm_shuffle_ps(least, least, 0x4E));
        least = _mm_min_ps(least, _mm_shuffle_ps(least, least, 0xB1));
        distance = _mm_cvtss_f32(least);
        if constexpr (kGroups == 4) {
            // Every entry at the smallest in one mask, entry i at bit i, without a branch on
            // which group holds it.
            const unsigned mask = unsigned(_mm_movemask_ps(_mm_cmpeq_ps(d[0], least)))
                | unsigned(_mm_movemask_ps(_mm_cmpeq_ps(d[1], least))) << 4
                | unsigned(_mm_movemask_ps(_mm_cmpeq_ps(d[2], least))) << 8
                | unsigned(_mm_movemask_ps(_mm_cmpeq_ps(d[3], least))) << 12;
            return __builtin_ctz(mask);
        }
        for (int g = 0;; ++g) {
            const int mask = _mm_movemask_ps(_mm_cmpeq_ps(d[g], least));
            if (mask != 0)
                return 4 * g + __builtin_ctz(unsigned(mask));
        }
    }
#endif

    // A kernel entry ready for the scan: its share of the error, damping included.
    struct Share {
        int dx, dy;
        float weight;
    };

} // namespace

ExactDiffusion::ExactDiffusion(const ExactDiffusionSettings& settings, int width)
    : m_settings(settings)
    , m_width(width)
    , m_error(size_t(kRows) * size_t(width + 2 * kReach) * kStride + kStride - 1, 0.0f)
{
    assert(width >= 1);
    assert(settings.damping >= 0.0f && settings.damping <= 1.0f);
}

template <bool kWrite>
double ExactDiffusion::Scan(const uint32_t* pixels, std::span<const PaletteEntry> palette,
    uint8_t* indices, float* const* rows, const SteadyRowChoice* steady) const
{
    PreparedPalette prepared;
    Prepare(palette, m_settings, prepared);

    const DiffusionKernel& kernel = KernelOf(m_settings.method);
    const bool forward = (m_row & 1) == 0;
    const int step = forward ? 1 : -1;
    // Inside the row every entry gets weight / divisor of the damped error. Within two pixels
    // of either end some neighbours lie outside the picture; their weight goes to the others in
    // proportion, so the columns along the edges keep all their error instead of leaking it out
    // of the picture, which would leave faint tints there solid.
    std::array<Share, 12> shares {};
    std::array<Share, 12> edgeShares {};
    const int weightSum = kernel_checks::WeightSum(kernel);
    const float scale = m_settings.damping / float(kernel.divisor);
    for (int i = 0; i < kernel.entryCount; ++i) {
        const KernelEntry& e = kernel.entries[size_t(i)];
        shares[size_t(i)] = { e.dx * step, e.dy, float(e.weight) * scale };
    }
    auto sharesAt = [&](int x) -> const std::array<Share, 12>& {
        if (x >= kReach && x < m_width - kReach)
            return shares;
        int inside = 0;
        for (int i = 0; i < kernel.entryCount; ++i) {
            const int nx = x + shares[size_t(i)].dx;
            if (nx >= 0 && nx < m_width)
                inside += kernel.entries[size_t(i)].weight;
        }
        // Every kernel sends a share straight down, so `inside` is never zero.
        const float edgeScale = scale * float(weightSum) / float(inside);
        for (int i = 0; i < kernel.entryCount; ++i) {
            const int nx = x + shares[size_t(i)].dx;
            const bool in = nx >= 0 && nx < m_width;
            edgeShares[size_t(i)] = { shares[size_t(i)].dx, shares[size_t(i)].dy,
                in ? float(kernel.entries[size_t(i)].weight) * edgeScale : 0.0f };
        }
        return edgeShares;
    };

    const bool linearLight = m_settings.linearLight;
    const bool perceptual = m_settings.distance == ColourDistance::Perceptual;
    const LinearTable& linear = Linear();
    const DecodeCurve& decode = Decode();

    // The error sent along the row itself lives in `ahead`, not in the row's error buffer, so a
    // trial leaves the buffer untouched. ahead[0] is the next pixel's colour so far, ahead[1] the
    // one after it: each starts as the pixel's own colour plus what the rows above sent it, and
    // the pixels before it along the row add their shares in scan order. So the last addition
    // before a pixel is chosen is the share of the pixel just chosen, which lets the vector scan
    // work out the next colour for every entry the current pixel might take while it chooses.
    const float* received = rows[0];
    auto start = [&](int x, float* out) {
        if (x < 0 || x >= m_width) {
            out[0] = out[1] = out[2] = 0.0f;
            return;
        }
        const uint32_t v = pixels[x];
        const uint8_t red = uint8_t(v >> 16), green = uint8_t(v >> 8), blue = uint8_t(v);
        const float* r = received + kStride * x;
        if (linearLight) {
            out[0] = linear.value[red] + r[0];
            out[1] = linear.value[green] + r[1];
            out[2] = linear.value[blue] + r[2];
        } else {
            out[0] = float(red) + r[0];
            out[1] = float(green) + r[1];
            out[2] = float(blue) + r[2];
        }
    };
    float ahead[2][3];
    start(forward ? 0 : m_width - 1, ahead[0]);
    start(forward ? 1 : m_width - 2, ahead[1]);
    double cost = 0.0;
    for (int i = 0; i < m_width; ++i) {
        const int x = forward ? i : m_width - 1 - i;
        float c[3] = { ahead[0][0], ahead[0][1], ahead[0][2] };
        LimitCarried(c);

        float distance;
        int chosen;
        float d[3] = { c[0], c[1], c[2] }; // in the distance's space
        if (perceptual) {
            // Measured as the screen would show it: the eye sees no light beyond white, nor
            // less than none. Measuring the colour beyond them by the curve's own continuation
            // chose worse on the test pictures ("Graphics 2" with the chosen palette: blurred
            // difference 42.6 against 37.0).
            float shown[3];
            for (int k = 0; k < 3; ++k)
                shown[k] = std::clamp(c[k], 0.0f, kTop);
            if (linearLight)
                Oklab(shown[0] / kTop, shown[1] / kTop, shown[2] / kTop, d);
            else
                Oklab(decode(shown[0]), decode(shown[1]), decode(shown[2]), d);
        }
        chosen = Nearest(prepared, d[0], d[1], d[2], distance);
        if (steady && steady->tolerance[x] > 0.0f) {
            const int kept = steady->previous[x];
            if (kept < prepared.count) {
                const float a = d[0] - prepared.dx[size_t(kept)],
                            b = d[1] - prepared.dy[size_t(kept)],
                            e = d[2] - prepared.dz[size_t(kept)];
                const float keptDistance = a * a + b * b + e * e;
                if (keptDistance - distance < steady->tolerance[x]) {
                    chosen = kept;
                    distance = keptDistance;
                }
            }
        }
        cost += distance;

        const float e[3] = { c[0] - prepared.wr[size_t(chosen)], c[1] - prepared.wg[size_t(chosen)],
            c[2] - prepared.wb[size_t(chosen)] };
        for (int k = 0; k < 3; ++k)
            ahead[0][k] = ahead[1][k];
        start(x + 2 * step, ahead[1]);
        const std::array<Share, 12>& sharesHere = sharesAt(x);
        for (int s = 0; s < kernel.entryCount; ++s) {
            const Share& share = sharesHere[size_t(s)];
            if (share.dy == 0) {
                // dx is 1 or 2 along the scan; ahead[0] now stands for the next pixel. The
                // share goes in as (a + w·c) − w·colour rather than a + w·(c − colour): the
                // same amount, but the vector scan can work out everything except the chosen
                // colour's part while the pixel is still being chosen.
                float* a = ahead[(share.dx * step) - 1];
                const float p[3] = { prepared.wr[size_t(chosen)], prepared.wg[size_t(chosen)],
                    prepared.wb[size_t(chosen)] };
                for (int k = 0; k < 3; ++k)
                    a[k] = (a[k] + share.weight * c[k]) - share.weight * p[k];
            } else if constexpr (kWrite) {
                float* to = rows[share.dy] + kStride * (x + share.dx);
                for (int k = 0; k < 3; ++k)
                    to[k] += share.weight * e[k];
            }
        }
        if (indices != nullptr)
            indices[x] = uint8_t(chosen);
    }
    return cost;
}

#if defined(__SSE2__)
template <bool kWrite, bool kLinear, int kCount>
__attribute__((always_inline)) inline double ExactDiffusion::PlainScan(const uint32_t* pixels,
    std::span<const PaletteEntry> palette, uint8_t* indices, float* const* rows) const
{
    PreparedPalette prepared;
    Prepare(palette, m_settings, prepared);

    const DiffusionKernel& kernel = KernelOf(m_settings.method);
    const bool forward = (m_row & 1) == 0;
    const int step = forward ? 1 : -1;
    const int weightSum = kernel_checks::WeightSum(kernel);
    const float scale = m_settings.damping / float(kernel.divisor);

    // A pixel's shares split into those along the row (into `ahead`) and those below, each list
    // in the kernel's order. Every share lands on a different neighbour, so splitting them
    // leaves each neighbour's sums in the order the general scan adds them.
    struct Split {
        int alongCount = 0, belowCount = 0;
        int alongTo[12] {};
        __m128 alongWeight[12] {};
        float* belowRow[12] {};
        int belowDx[12] {};
        __m128 belowWeight[12] {};
    };
    auto split = [&](int x, bool edge) {
        Split out;
        int inside = 0;
        for (int i = 0; i < kernel.entryCount; ++i) {
            const int nx = x + kernel.entries[size_t(i)].dx * step;
            if (nx >= 0 && nx < m_width)
                inside += kernel.entries[size_t(i)].weight;
        }
        const float edgeScale = edge ? scale * float(weightSum) / float(inside) : 0.0f;
        for (int i = 0; i < kernel.entryCount; ++i) {
            const KernelEntry& e = kernel.entries[size_t(i)];
            const int nx = x + e.dx * step;
            const bool in = nx >= 0 && nx < m_width;
            const float weight = !edge ? float(e.weight) * scale
                : in                   ? float(e.weight) * edgeScale
                                       : 0.0f;
            if (e.dy == 0) {
                out.alongTo[out.alongCount] = e.dx - 1;
                out.alongWeight[out.alongCount++] = _mm_set1_ps(weight);
            } else if constexpr (kWrite) {
                out.belowRow[out.belowCount] = rows[e.dy];
                out.belowDx[out.belowCount] = kStride * e.dx * step;
                out.belowWeight[out.belowCount++] = _mm_set1_ps(weight);
            }
        }
        return out;
    };
    const Split interior = split(kReach, false);

    const LinearTable& linear = Linear();
    const float* received = rows[0];
    double cost = 0.0;
    VectorPalette vectors;
    PrepareVectors(prepared, vectors);
    constexpr int kGroups = (kCount + 3) / 4;
    const __m128 zero = _mm_setzero_ps();
    // The first four entries, for the search of a palette of two or four.
    const __m128 groupX = _mm_load_ps(vectors.x.data()), groupY = _mm_load_ps(vectors.y.data()),
                 groupZ = _mm_load_ps(vectors.z.data());
    const __m128 working0 = _mm_load_ps(vectors.working[0].data()),
                 working1 = _mm_load_ps(vectors.working[1].data()),
                 working2 = _mm_load_ps(vectors.working[2].data()),
                 working3 = _mm_load_ps(vectors.working[3].data());

    // A pixel's colour plus what the rows above sent it, as the general scan starts it; 0
    // beyond the row. A row that is kept (kWrite) has these worked out beforehand for the whole
    // row, four pixels at a time, into its own error buffer, which nothing reads after this
    // scan; a trial works them out as it goes and leaves the buffer alone.
    float* const base = rows[0];
    // A pixel's own colour in the working space, one vector.
    auto colourOf = [&](int x) __attribute__((always_inline))
    {
        const uint32_t v = pixels[x];
        const uint8_t red = uint8_t(v >> 16), green = uint8_t(v >> 8), blue = uint8_t(v);
        if constexpr (kLinear)
            return _mm_setr_ps(linear.value[red], linear.value[green], linear.value[blue], 0.0f);
        return _mm_setr_ps(red, green, blue, 0.0f);
    };
    if constexpr (kWrite) {
        int x = 0;
        if constexpr (!kLinear)
            for (; x + 4 <= m_width; x += 4) {
                // Four pixels' bytes as whole numbers, then as floats, one pixel a vector.
                const __m128i bytes
                    = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(pixels + x)),
                        _mm_set1_epi32(0x00FFFFFF));
                const __m128i words = _mm_unpacklo_epi8(bytes, _mm_setzero_si128());
                const __m128i high = _mm_unpackhi_epi8(bytes, _mm_setzero_si128());
                const __m128i each[4] = { _mm_unpacklo_epi16(words, _mm_setzero_si128()),
                    _mm_unpackhi_epi16(words, _mm_setzero_si128()),
                    _mm_unpacklo_epi16(high, _mm_setzero_si128()),
                    _mm_unpackhi_epi16(high, _mm_setzero_si128()) };
                for (int k = 0; k < 4; ++k) {
                    // Lanes blue, green, red, 0: turned to red, green, blue, 0.
                    __m128 c = _mm_cvtepi32_ps(each[k]);
                    c = _mm_shuffle_ps(c, c, _MM_SHUFFLE(3, 0, 1, 2));
                    float* to = base + kStride * (x + k);
                    _mm_store_ps(to, _mm_add_ps(c, _mm_load_ps(to)));
                }
            }
        for (; x < m_width; ++x) {
            float* to = base + kStride * x;
            _mm_store_ps(to, _mm_add_ps(colourOf(x), _mm_load_ps(to)));
        }
    }
    auto start = [&](int x) __attribute__((always_inline))
    {
        if (x < 0 || x >= m_width)
            return _mm_setzero_ps();
        if constexpr (kWrite)
            return _mm_load_ps(base + kStride * x);
        return _mm_add_ps(colourOf(x), _mm_load_ps(received + kStride * x));
    };
    // As LimitCarried: below kLeast gives kLeast, above kMost gives kMost, anything else stays
    // itself.
    const __m128 least = _mm_set1_ps(kLeast), most = _mm_set1_ps(kMost);
    auto limit = [&](__m128 c) __attribute__((always_inline))
    {
        return _mm_min_ps(most, _mm_max_ps(least, c));
    };
    auto pick = [](__m128 mask, __m128 second, __m128 first) __attribute__((always_inline))
    {
        return _mm_or_ps(_mm_and_ps(mask, second), _mm_andnot_ps(mask, first));
    };

    // The choice for a palette of two or four: pairs decided by "strictly nearer", anything
    // of the winner's (its colour, its colour times a weight) picked by masks, every lane alike,
    // rather than loaded by index, which keeps the next pixel's wait short. The earlier entry
    // wins every tie, as in Nearest.
    struct Choice {
        __m128 later01, later23, later, nearest;
        int Index() const // without a branch, which would guess wrong half the time
        {
            if constexpr (kCount == 4) {
                const __m128 low
                    = _mm_or_ps(_mm_and_ps(later, later23), _mm_andnot_ps(later, later01));
                return (_mm_movemask_ps(later) & 1) * 2 + (_mm_movemask_ps(low) & 1);
            }
            return _mm_movemask_ps(later01) & 1;
        }
    };
    auto pickEntry = [&](const Choice& choice, const __m128* of) __attribute__((always_inline))
    {
        const __m128 first = pick(choice.later01, of[1], of[0]);
        if constexpr (kCount == 4)
            return pick(choice.later, pick(choice.later23, of[3], of[2]), first);
        return first;
    };
    auto choose = [&](__m128 c) __attribute__((always_inline))
    {
        const __m128 a = _mm_sub_ps(_mm_shuffle_ps(c, c, 0x00), groupX);
        const __m128 b = _mm_sub_ps(_mm_shuffle_ps(c, c, 0x55), groupY);
        const __m128 z = _mm_sub_ps(_mm_shuffle_ps(c, c, 0xAA), groupZ);
        const __m128 d
            = _mm_add_ps(_mm_add_ps(_mm_mul_ps(a, a), _mm_mul_ps(b, b)), _mm_mul_ps(z, z));
        const __m128 d0 = _mm_shuffle_ps(d, d, 0x00), d1 = _mm_shuffle_ps(d, d, 0x55);
        Choice out;
        out.later01 = _mm_cmplt_ps(d1, d0);
        out.nearest = _mm_min_ps(d1, d0);
        out.later23 = out.later = zero;
        if constexpr (kCount == 4) {
            const __m128 d2 = _mm_shuffle_ps(d, d, 0xAA), d3 = _mm_shuffle_ps(d, d, 0xFF);
            out.later23 = _mm_cmplt_ps(d3, d2);
            const __m128 nearest23 = _mm_min_ps(d3, d2);
            out.later = _mm_cmplt_ps(nearest23, out.nearest);
            out.nearest = _mm_min_ps(nearest23, out.nearest);
        }
        return out;
    };
    const __m128 workings[4] = { working0, working1, working2, working3 };

    // Where each share below lands for pixel 0 in this scan's direction, and its weight.
    auto below = [&](const Split& shares, float** to) __attribute__((always_inline))
    {
        for (int s = 0; s < shares.belowCount; ++s)
            to[s] = shares.belowRow[s] + shares.belowDx[s];
    };
    auto pushBelow
        = [&](int x, __m128 e, const Split& shares, float* const* to) __attribute__((always_inline))
    {
        if constexpr (kWrite)
            for (int s = 0; s < shares.belowCount; ++s) {
                float* at = to[s] + kStride * x;
                _mm_store_ps(at, _mm_add_ps(_mm_load_ps(at), _mm_mul_ps(shares.belowWeight[s], e)));
            }
    };

    __m128 ahead0 = start(forward ? 0 : m_width - 1), ahead1 = start(forward ? 1 : m_width - 2);
    // Each entry's colour times the weight of the share to the next pixel inside the row, so
    // that part of the share needs no multiplication once the pixel is chosen.
    __m128 nextTimes[kCount == 0 ? kMaxEntries : std::max(kCount, 4)];
    for (int i = 0; i < std::max(prepared.count, 4); ++i)
        nextTimes[i]
            = _mm_mul_ps(interior.alongWeight[0], _mm_load_ps(vectors.working[size_t(i)].data()));
    const bool firstShareIsNext = interior.alongCount >= 1 && interior.alongTo[0] == 0;

    // One pixel, chosen when its colour is known: the general scan's steps. `nextTimes` is
    // given inside the row.
    // `along`: how many shares go along the row inside it, known when compiling (the first to
    // the next pixel, with `weighted` its part of each entry's colour, and the second, if any,
    // to the pixel after), or -1 at the edges, where the shares say.
    auto pixel = [&](int x, const Split& shares, double& sum, const __m128* weighted, auto&& push,
        auto along) __attribute__((always_inline))
    {
        const __m128 c = limit(ahead0);
        float distance;
        int chosen;
        __m128 colour, weightedColour = zero;
        if constexpr (kCount == 2 || kCount == 4) {
            const Choice choice = choose(c);
            colour = pickEntry(choice, workings);
            if (weighted != nullptr)
                weightedColour = pickEntry(choice, weighted);
            distance = _mm_cvtss_f32(choice.nearest);
            chosen = choice.Index();
        } else {
            chosen = NearestVector<kGroups>(vectors, c, distance);
            colour = _mm_load_ps(vectors.working[size_t(chosen)].data());
            if (weighted != nullptr)
                weightedColour = weighted[chosen];
        }
        const __m128 e = _mm_sub_ps(c, colour);
        sum += distance;
        ahead0 = ahead1;
        ahead1 = start(x + 2 * step);
        if constexpr (std::is_same_v<decltype(along), int>) {
            for (int s = 0; s < shares.alongCount; ++s) {
                const __m128 w = shares.alongWeight[s];
                const __m128 part
                    = s == 0 && weighted != nullptr ? weightedColour : _mm_mul_ps(w, colour);
                if (shares.alongTo[s] == 0)
                    ahead0 = _mm_sub_ps(_mm_add_ps(ahead0, _mm_mul_ps(w, c)), part);
                else
                    ahead1 = _mm_sub_ps(_mm_add_ps(ahead1, _mm_mul_ps(w, c)), part);
            }
        } else {
            const __m128 w = shares.alongWeight[0];
            ahead0 = _mm_sub_ps(_mm_add_ps(ahead0, _mm_mul_ps(w, c)), weightedColour);
            if constexpr (decltype(along)::value == 2) {
                const __m128 after = shares.alongWeight[1];
                ahead1 = _mm_sub_ps(
                    _mm_add_ps(ahead1, _mm_mul_ps(after, c)), _mm_mul_ps(after, colour));
            }
        }
        push(x, e);
        if (indices != nullptr)
            indices[x] = uint8_t(chosen);
    };

    // A palette of two: while a pixel is chosen, the next pixel's colour is worked out for both
    // entries this one might take, and so is each of those colours' own choice, so the next
    // pixel waits only on picking one of two, not on the arithmetic. Both candidates are
    // measured against both entries in one go, a lane each: (first to entry 0, first to entry 1,
    // second to entry 0, second to entry 1). The same operations in the same order as `pixel`,
    // so the same bits. In every kernel the first share along the row goes to the next pixel and
    // the second, where there is one, to the pixel after.
    auto twoAhead = [&](int from, int to, double& sum, auto&& push) __attribute__((always_inline))
    {
        const __m128 next = interior.alongWeight[0];
        const __m128 after = interior.alongWeight[interior.alongCount - 1];
        const bool hasAfter = interior.alongCount == 2;
        const __m128 pairX = _mm_shuffle_ps(groupX, groupX, 0x44),
                     pairY = _mm_shuffle_ps(groupY, groupY, 0x44),
                     pairZ = _mm_shuffle_ps(groupZ, groupZ, 0x44);
        __m128 a0 = ahead0, a1 = ahead1;
        __m128 c = limit(a0);
        // The pixel's choice: `later` all ones where entry 1 is strictly nearer, `nearest` its
        // distance in lane 0.
        __m128 later, nearest;
        {
            const Choice choice = choose(c);
            later = choice.later01;
            nearest = choice.nearest;
        }
        for (int i = from; i < to; ++i) {
            const int x = forward ? i : m_width - 1 - i;
            const __m128 colour = pick(later, working1, working0);
            const __m128 e = _mm_sub_ps(c, colour);
            const __m128 nextC = _mm_add_ps(a1, _mm_mul_ps(next, c));
            const __m128 sum0 = _mm_sub_ps(nextC, nextTimes[0]);
            const __m128 sum1 = _mm_sub_ps(nextC, nextTimes[1]);
            const __m128 c0 = limit(sum0), c1 = limit(sum1);
            const __m128 a = _mm_sub_ps(_mm_shuffle_ps(c0, c1, 0x00), pairX);
            const __m128 b = _mm_sub_ps(_mm_shuffle_ps(c0, c1, 0x55), pairY);
            const __m128 z = _mm_sub_ps(_mm_shuffle_ps(c0, c1, 0xAA), pairZ);
            const __m128 d
                = _mm_add_ps(_mm_add_ps(_mm_mul_ps(a, a), _mm_mul_ps(b, b)), _mm_mul_ps(z, z));
            const __m128 toEntry0 = _mm_shuffle_ps(d, d, 0xA0),
                         toEntry1 = _mm_shuffle_ps(d, d, 0xF5);
            // Lanes 0 and 1: the first candidate's; lanes 2 and 3: the second's.
            const __m128 laterBoth = _mm_cmplt_ps(toEntry1, toEntry0);
            const __m128 nearestBoth = _mm_min_ps(toEntry1, toEntry0);
            sum += _mm_cvtss_f32(nearest);
            if (indices != nullptr)
                indices[x] = uint8_t(_mm_movemask_ps(later) & 1);
            a0 = pick(later, sum1, sum0);
            a1 = start(x + 2 * step);
            if (hasAfter)
                a1 = _mm_sub_ps(_mm_add_ps(a1, _mm_mul_ps(after, c)), _mm_mul_ps(after, colour));
            push(x, e);
            c = pick(later, c1, c0);
            nearest = pick(later, _mm_movehl_ps(nearestBoth, nearestBoth), nearestBoth);
            later = pick(later, _mm_shuffle_ps(laterBoth, laterBoth, 0xAA),
                _mm_shuffle_ps(laterBoth, laterBoth, 0x00));
        }
        ahead0 = a0;
        ahead1 = a1;
    };
    const bool shareOrderKnown = interior.alongCount >= 1 && interior.alongCount <= 2
        && interior.alongTo[0] == 0 && (interior.alongCount == 1 || interior.alongTo[1] == 1);

    // Scan positions 0 ... kReach − 1 and width − kReach ... width − 1 are the edge columns in
    // either direction.
    const int headEnd = std::min(kReach, m_width);
    const int tailStart = std::max(headEnd, m_width - kReach);
    auto edgePixel = [&](int i) __attribute__((always_inline))
    {
        const int x = forward ? i : m_width - 1 - i;
        const Split shares = split(x, x < kReach || x >= m_width - kReach);
        float* to[12];
        below(shares, to);
        pixel(
            x, shares, cost, nullptr, [&](int at, __m128 e) { pushBelow(at, e, shares, to); }, -1);
    };
    for (int i = 0; i < headEnd; ++i)
        edgePixel(i);
    // Inside the row. The costs are added in scan order, as the general scan adds them.
    auto inside = [&](auto&& push, auto along) __attribute__((always_inline))
    {
        double sum = cost;
        const __m128* weighted = firstShareIsNext ? nextTimes : nullptr;
        if (kCount == 2 && shareOrderKnown && tailStart > headEnd)
            twoAhead(headEnd, tailStart, sum, push);
        else if (forward)
            for (int x = headEnd; x < tailStart; ++x)
                pixel(x, interior, sum, weighted, push, along);
        else
            for (int x = m_width - 1 - headEnd; x >= m_width - tailStart; --x)
                pixel(x, interior, sum, weighted, push, along);
        cost = sum;
    };
    float* targets[12];
    below(interior, targets);
    // With the numbers of shares below and along known when compiling, the targets and weights
    // stay in registers and the loops over them unroll.
    auto unrolled = [&]<int kBelow, int kAlong>() __attribute__((always_inline))
    {
        float* to[std::max(kBelow, 1)];
        __m128 weight[std::max(kBelow, 1)];
#pragma GCC unroll 16
        for (int s = 0; s < kBelow; ++s) {
            to[s] = targets[s];
            weight[s] = interior.belowWeight[s];
        }
        inside(
            [&](int x, __m128 e) __attribute__((always_inline)) {
#pragma GCC unroll 16
                for (int s = 0; s < kBelow; ++s) {
                    float* at = to[s] + kStride * x;
                    _mm_store_ps(at, _mm_add_ps(_mm_load_ps(at), _mm_mul_ps(weight[s], e)));
                }
            },
            std::integral_constant<int, kAlong> {});
    };
    // The kernels' counts of shares below and along the row (a trial writes none below), each
    // with its unrolled scan; any other count takes the loops.
    struct Shape {
        int below, along;
    };
    static constexpr Shape kShapes[]
        = { { 0, 1 }, { 0, 2 }, { 2, 1 }, { 3, 1 }, { 4, 2 }, { 5, 2 }, { 8, 2 }, { 10, 2 } };
    const int belowCount = kWrite ? interior.belowCount : 0;
    const int alongCount = shareOrderKnown ? interior.alongCount : 0;
    const bool ran = [&]<size_t... kIndex>(std::index_sequence<kIndex...>)
    {
        return (
            (belowCount == kShapes[kIndex].below && alongCount == kShapes[kIndex].along
                && (unrolled.template operator()<kShapes[kIndex].below, kShapes[kIndex].along>(),
                    true))
            || ...);
    }
    (std::make_index_sequence<std::size(kShapes)> {});
    if (!ran)
        inside([&](int x, __m128 e) { pushBelow(x, e, interior, targets); }, -1);
    for (int i = tailStart; i < m_width; ++i)
        edgePixel(i);
    return cost;
}
#endif

template <bool kWrite>
__attribute__((always_inline)) inline double ExactDiffusion::SizedScan(const uint32_t* pixels,
    std::span<const PaletteEntry> palette, uint8_t* indices, float* const* rows) const
{
#if defined(__SSE2__)
    // The modes' palette sizes get a search unrolled for them.
    const bool linear = m_settings.linearLight;
    switch (palette.size()) {
    case 2:
        return linear ? PlainScan<kWrite, true, 2>(pixels, palette, indices, rows)
                      : PlainScan<kWrite, false, 2>(pixels, palette, indices, rows);
    case 4:
        return linear ? PlainScan<kWrite, true, 4>(pixels, palette, indices, rows)
                      : PlainScan<kWrite, false, 4>(pixels, palette, indices, rows);
    case 16:
        return linear ? PlainScan<kWrite, true, 16>(pixels, palette, indices, rows)
                      : PlainScan<kWrite, false, 16>(pixels, palette, indices, rows);
    default:
        return linear ? PlainScan<kWrite, true, 0>(pixels, palette, indices, rows)
                      : PlainScan<kWrite, false, 0>(pixels, palette, indices, rows);
    }
#else
    return Scan<kWrite>(pixels, palette, indices, rows, nullptr);
#endif
}

template <bool kWrite>
double ExactDiffusion::FastScanSse(const uint32_t* pixels, std::span<const PaletteEntry> palette,
    uint8_t* indices, float* const* rows) const
{
    return SizedScan<kWrite>(pixels, palette, indices, rows);
}

#if defined(__x86_64__) && defined(__GNUC__)
// No fused multiply-add: the target adds only the encoding, not new arithmetic.
template <bool kWrite>
__attribute__((target("avx"))) double ExactDiffusion::FastScanAvx(const uint32_t* pixels,
    std::span<const PaletteEntry> palette, uint8_t* indices, float* const* rows) const
{
    return SizedScan<kWrite>(pixels, palette, indices, rows);
}
#endif

template <bool kWrite>
double ExactDiffusion::FastScan(const uint32_t* pixels, std::span<const PaletteEntry> palette,
    uint8_t* indices, float* const* rows) const
{
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx && m_path == ScanPath::Best)
        return FastScanAvx<kWrite>(pixels, palette, indices, rows);
#endif
    return FastScanSse<kWrite>(pixels, palette, indices, rows);
}

float* ExactDiffusion::ErrorRows() const
{
    const uintptr_t at = reinterpret_cast<uintptr_t>(m_error.data());
    const uintptr_t align = kStride * sizeof(float);
    return reinterpret_cast<float*>((at + align - 1) & ~(align - 1));
}

double ExactDiffusion::Row(const uint32_t* pixels, std::span<const PaletteEntry> palette,
    uint8_t* indices, const SteadyRowChoice* steady)
{
    const size_t rowFloats = size_t(m_width + 2 * kReach) * kStride;
    float* rows[kRows];
    for (int k = 0; k < kRows; ++k)
        rows[k] = ErrorRows() + size_t((m_row + k) % kRows) * rowFloats + kStride * kReach;
    const bool fast = m_path != ScanPath::General && steady == nullptr
        && m_settings.distance == ColourDistance::Rgb;
    const double cost = fast ? FastScan<true>(pixels, palette, indices, rows)
                             : Scan<true>(pixels, palette, indices, rows, steady);
    // This row's buffer becomes the one kRows − 1 rows down, which nothing has reached yet.
    std::fill_n(rows[0] - kStride * kReach, rowFloats, 0.0f);
    ++m_row;
    return cost;
}

double ExactDiffusion::TrialRow(
    const uint32_t* pixels, std::span<const PaletteEntry> palette, uint8_t* indices) const
{
    const size_t rowFloats = size_t(m_width + 2 * kReach) * kStride;
    float* const current = ErrorRows() + size_t(m_row % kRows) * rowFloats + kStride * kReach;
    float* const rows[kRows] = { current, nullptr, nullptr };
    if (m_path != ScanPath::General && m_settings.distance == ColourDistance::Rgb)
        return FastScan<false>(pixels, palette, indices, rows);
    return Scan<false>(pixels, palette, indices, rows, nullptr);
}

void ExactDiffusion::Received(const uint32_t* pixels, float* colours) const
{
    const size_t rowFloats = size_t(m_width + 2 * kReach) * kStride;
    const float* received = ErrorRows() + size_t(m_row % kRows) * rowFloats + kStride * kReach;
    for (int x = 0; x < m_width; ++x) {
        WorkingColour(PaletteEntry { uint8_t(pixels[x]), uint8_t(pixels[x] >> 8),
                          uint8_t(pixels[x] >> 16), 0 },
            colours + 3 * x);
        for (int k = 0; k < 3; ++k)
            colours[3 * x + k] += received[kStride * x + k];
    }
}

void ExactDiffusion::WorkingColour(const PaletteEntry& entry, float* colour) const
{
    if (m_settings.linearLight) {
        const LinearTable& linear = Linear();
        colour[0] = linear.value[entry.Red];
        colour[1] = linear.value[entry.Green];
        colour[2] = linear.value[entry.Blue];
    } else {
        colour[0] = entry.Red;
        colour[1] = entry.Green;
        colour[2] = entry.Blue;
    }
}

uint32_t ExactKey(const ExactDiffusionSettings& settings)
{
    const uint32_t damping = uint32_t(std::lround(settings.damping * 10000.0f));
    return 1u | uint32_t(settings.linearLight) << 1
        | uint32_t(settings.distance == ColourDistance::Perceptual) << 2
        | uint32_t(settings.method) << 3 | damping << 8;
}

float SmallestStep(const ExactDiffusionSettings& settings, std::span<const PaletteEntry> palette)
{
    PreparedPalette prepared;
    Prepare(palette, settings, prepared);
    float step = 0.0f;
    for (int i = 0; i < prepared.count; ++i)
        for (int j = i + 1; j < prepared.count; ++j) {
            const float a = prepared.dx[size_t(i)] - prepared.dx[size_t(j)],
                        b = prepared.dy[size_t(i)] - prepared.dy[size_t(j)],
                        c = prepared.dz[size_t(i)] - prepared.dz[size_t(j)];
            const float d = a * a + b * b + c * c;
            if (d > 0.0f && (step == 0.0f || d < step))
                step = d;
        }
    return step;
}

float LinearOfSrgb(uint8_t value) { return Linear().value[value] / kTop; }

void OklabOfLinear(float red, float green, float blue, float out[3])
{
    Oklab(red, green, blue, out);
}

void DitherExact(const ExactDiffusionSettings& settings, platform::Surface& picture,
    std::span<const PaletteEntry> palette)
{
    if (picture.width <= 0 || picture.height <= 0)
        return;
    ExactDiffusion scan(settings, picture.width);
    std::vector<uint8_t> indices(size_t(picture.width));
    std::array<uint32_t, kMaxEntries> packed {};
    for (size_t i = 0; i < palette.size() && i < packed.size(); ++i)
        packed[i] = PackEntry(palette[i]);
    for (int y = 0; y < picture.height; ++y) {
        uint32_t* row = picture.Row(y);
        scan.Row(row, palette, indices.data());
        for (int x = 0; x < picture.width; ++x)
            row[x] = packed[indices[size_t(x)]];
    }
}

} // namespace pelorin
