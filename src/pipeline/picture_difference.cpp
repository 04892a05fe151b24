#include "picture_difference.h"

#include "dither/exact_diffusion.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelorin {

double BlurredDifference(const platform::Surface& converted, const platform::Surface& unreduced)
{
    if (converted.width != unreduced.width || converted.height != unreduced.height)
        throw std::invalid_argument("pictures of different sizes have no difference");
    const int w = converted.width, h = converted.height;
    if (w <= 0 || h <= 0)
        return 0;
    // The blur is linear, so the difference of the blurred pictures is the blurred difference:
    // one blur of per-channel differences, row sums first, then three rows of them. A pixel is
    // four 16-bit lanes (blue, green and red differences, and a zero); a row of differences is
    // padded with a copy of its first and last pixel, as the blur's edges repeat them, and the
    // row sums of three rows are kept in turn. Every sum fits 16 bits (at most 9 · 255).
    const size_t lanes = 4 * size_t(w);
    std::vector<int16_t> padded(lanes + 8);
    std::vector<int16_t> sums(3 * lanes);
    const auto rowSums = [&](int y) {
        const uint32_t* a = converted.Row(y);
        const uint32_t* b = unreduced.Row(y);
        int16_t* d = padded.data() + 4;
        int x = 0;
#if defined(__SSE2__)
        const __m128i colour = _mm_set1_epi32(0x00FFFFFF), zero = _mm_setzero_si128();
        for (; x + 2 <= w; x += 2) {
            const __m128i pa
                = _mm_and_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a + x)), colour);
            const __m128i pb
                = _mm_and_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + x)), colour);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 4 * size_t(x)),
                _mm_sub_epi16(_mm_unpacklo_epi8(pa, zero), _mm_unpacklo_epi8(pb, zero)));
        }
#endif
        for (; x < w; ++x)
            for (int ch = 0; ch < 4; ++ch)
                d[4 * size_t(x) + size_t(ch)] = int16_t(
                    ch == 3 ? 0 : int((a[x] >> (8 * ch)) & 0xFF) - int((b[x] >> (8 * ch)) & 0xFF));
        std::copy(d, d + 4, padded.data());
        std::copy(d + lanes - 4, d + lanes, d + lanes);
        int16_t* out = sums.data() + size_t(y % 3) * lanes;
        const int16_t* p = padded.data();
        size_t i = 0;
#if defined(__SSE2__)
        for (; i + 8 <= lanes; i += 8) {
            const auto at = [&](size_t k) {
                return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + k));
            };
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i),
                _mm_add_epi16(_mm_add_epi16(at(i), at(i + 4)), at(i + 8)));
        }
#endif
        for (; i < lanes; ++i)
            out[i] = int16_t(p[i] + p[i + 4] + p[i + 8]);
    };
    rowSums(0);
    int64_t total = 0;
    for (int y = 0; y < h; ++y) {
        if (y + 1 < h)
            rowSums(y + 1);
        const int16_t* up = sums.data() + size_t((y > 0 ? y - 1 : 0) % 3) * lanes;
        const int16_t* mid = sums.data() + size_t(y % 3) * lanes;
        const int16_t* down = sums.data() + size_t((y + 1 < h ? y + 1 : y) % 3) * lanes;
        size_t i = 0;
#if defined(__SSE2__)
        __m128i acc = _mm_setzero_si128();
        for (; i + 8 <= lanes; i += 8) {
            const auto at = [&](const int16_t* r) {
                return _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i));
            };
            const __m128i v = _mm_add_epi16(_mm_add_epi16(at(up), at(mid)), at(down));
            const __m128i magnitude = _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(magnitude, _mm_set1_epi16(1)));
        }
        int32_t parts[4];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(parts), acc);
        total += int64_t(parts[0]) + parts[1] + parts[2] + parts[3];
#endif
        for (; i < lanes; ++i)
            total += std::abs(up[i] + mid[i] + down[i]);
    }
    return double(total) / 9.0 / double(3 * size_t(w) * size_t(h));
}

namespace {

    // A picture in linear light blurred with a 3 × 3 box, edge pixels repeated outward, then in
    // Oklab: three floats a pixel.
    std::vector<float> BlurredOklab(const platform::Surface& picture)
    {
        const int w = picture.width, h = picture.height;
        std::vector<float> linear(size_t(w) * size_t(h) * 3);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint32_t c = picture.At(x, y);
                float* p = &linear[(size_t(y) * size_t(w) + size_t(x)) * 3];
                p[0] = LinearOfSrgb(uint8_t(c >> 16));
                p[1] = LinearOfSrgb(uint8_t(c >> 8));
                p[2] = LinearOfSrgb(uint8_t(c));
            }
        std::vector<float> out(linear.size());
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                float sum[3] = { 0, 0, 0 };
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx) {
                        const int sx = std::clamp(x + dx, 0, w - 1),
                                  sy = std::clamp(y + dy, 0, h - 1);
                        const float* p = &linear[(size_t(sy) * size_t(w) + size_t(sx)) * 3];
                        for (int ch = 0; ch < 3; ++ch)
                            sum[ch] += p[ch];
                    }
                OklabOfLinear(sum[0] / 9, sum[1] / 9, sum[2] / 9,
                    &out[(size_t(y) * size_t(w) + size_t(x)) * 3]);
            }
        return out;
    }

} // namespace

double BlurredPerceptualDifference(
    const platform::Surface& converted, const platform::Surface& unreduced)
{
    if (converted.width != unreduced.width || converted.height != unreduced.height)
        throw std::invalid_argument("pictures of different sizes have no difference");
    if (converted.width <= 0 || converted.height <= 0)
        return 0;
    const std::vector<float> a = BlurredOklab(converted), b = BlurredOklab(unreduced);
    double sum = 0;
    for (size_t i = 0; i < a.size(); i += 3) {
        const float dl = a[i] - b[i], da = a[i + 1] - b[i + 1], db = a[i + 2] - b[i + 2];
        sum += std::sqrt(double(dl * dl + da * da + db * db));
    }
    return sum / double(a.size() / 3);
}

} // namespace pelorin
