// StretchBlt's two copies of a rectangle onto one of another size: the exact area average of
// HALFTONE mode and the nearest-pixel sampling of the other modes.
#include "stretch.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform {

namespace {

    // One destination pixel's share of source pixels along an axis: source index and the covered
    // length.
    struct Tap {
        int source;
        uint32_t weight;
    };

    // The taps along one axis: destination i takes taps[begin[i]] ... taps[begin[i + 1] − 1].
    struct AxisTaps {
        std::vector<uint32_t> begin;
        std::vector<Tap> taps;
        uint32_t sum = 0; // what the weights of one destination pixel add up to
    };

    // For each destination index i, the source pixels j whose span [j, j+1) overlaps
    // [i·s/d, (i+1)·s/d), weighted by the overlap. In units of 1/d of a source pixel,
    // destination i spans [i·s, (i+1)·s) and source j spans [j·d, (j+1)·d), so every weight is
    // an integer; all of them are multiples of gcd(s, d), which is divided out. The weights of
    // one destination pixel then sum to s / gcd(s, d).
    AxisTaps BuildTaps(int s, int d)
    {
        const int64_t g = std::gcd(int64_t(s), int64_t(d));
        AxisTaps axis;
        std::vector<uint32_t>& begin = axis.begin;
        std::vector<Tap>& taps = axis.taps;
        begin.assign(size_t(d) + 1, 0);
        for (int i = 0; i < d; ++i) {
            begin[size_t(i)] = uint32_t(taps.size());
            const int64_t lo = int64_t(i) * s, hi = int64_t(i + 1) * s;
            for (int64_t j = lo / d; j * d < hi; ++j) {
                const int64_t a = std::max(lo, j * d), b = std::min(hi, (j + 1) * d);
                if (b > a)
                    taps.push_back({ int(j), uint32_t((b - a) / g) });
            }
        }
        begin[size_t(d)] = uint32_t(taps.size());
        axis.sum = uint32_t(s / g);
        return axis;
    }

    // Rounded division n / total (halves up) by a constant. For the sums of 8-bit values this
    // is a multiply and a shift, exact for every n below 2^31 (the divisor is rounded up to
    // 2^(31+l) / total with l = ceil(log2 total), whose error e = m·total − 2^(31+l) never
    // exceeds 2^l); larger sums fall back to a real division.
    class RoundedDivider {
    public:
        explicit RoundedDivider(uint64_t total)
            : m_total(total)
            , m_half(total / 2)
        {
            int l = 0;
            while ((uint64_t(1) << l) < total)
                ++l;
            m_fast = total * 256 < (uint64_t(1) << 31);
            if (m_fast) {
                m_shift = 31 + l;
                m_magic = ((uint64_t(1) << m_shift) / total) + 1;
            }
        }
        uint8_t operator()(uint64_t n) const
        {
            n += m_half;
            return uint8_t(m_fast ? (n * m_magic) >> m_shift : n / m_total);
        }

    private:
        uint64_t m_total, m_half, m_magic = 0;
        int m_shift = 0;
        bool m_fast = false;
    };
    // Blue and red of a pixel in two 32-bit lanes of one 64-bit word, so one multiply-add
    // weighs both; green goes on its own. Lanes hold weighted sums up to 255 × total.
    inline uint64_t BlueRedLanes(uint32_t v)
    {
        return (v & 0xFFu) | (uint64_t(v & 0xFF0000u) << 16);
    }

    // out[x] = the average of row[k·x ... k·x + k − 1], rounded half up, for x in [x0, x1).
    template <int K> void AverageRuns(const uint32_t* row, uint32_t* out, int x0, int x1)
    {
        for (int x = x0; x < x1; ++x) {
            const uint32_t* p = row + size_t(x) * K;
            uint64_t br = 0;
            uint32_t g = 0;
            for (int i = 0; i < K; ++i) {
                br += BlueRedLanes(p[i]);
                g += (p[i] >> 8) & 0xFFu;
            }
            br += (uint64_t(K / 2) << 32) | (K / 2);
            out[x] = Rgb(
                uint8_t((br >> 32) / K), uint8_t((g + K / 2) / K), uint8_t((br & 0xFFFFFFFFu) / K));
        }
    }

#if defined(__SSE2__)
    // The same for runs of 2 and 4, four output pixels at a time. The average of two bytes
    // rounded half up is exactly what the byte average instruction gives; four are summed in
    // 16-bit lanes. The unused byte is cleared as Rgb clears it.
    template <> void AverageRuns<2>(const uint32_t* row, uint32_t* out, int x0, int x1)
    {
        const __m128i colourBytes = _mm_set1_epi32(0x00FFFFFF);
        int x = x0;
        for (; x + 4 <= x1; x += 4) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 2 * x + 4));
            const __m128i even = _mm_castps_si128(
                _mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(2, 0, 2, 0)));
            const __m128i odd = _mm_castps_si128(
                _mm_shuffle_ps(_mm_castsi128_ps(a), _mm_castsi128_ps(b), _MM_SHUFFLE(3, 1, 3, 1)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                _mm_and_si128(_mm_avg_epu8(even, odd), colourBytes));
        }
        for (; x < x1; ++x) {
            const uint32_t p = row[2 * x], q = row[2 * x + 1];
            out[x] = Rgb(uint8_t((RedOf(p) + RedOf(q) + 1) / 2),
                uint8_t((GreenOf(p) + GreenOf(q) + 1) / 2),
                uint8_t((BlueOf(p) + BlueOf(q) + 1) / 2));
        }
    }

    template <> void AverageRuns<4>(const uint32_t* row, uint32_t* out, int x0, int x1)
    {
        const __m128i zero = _mm_setzero_si128();
        const __m128i two = _mm_set1_epi16(2);
        const __m128i colourBytes = _mm_set1_epi32(0x00FFFFFF);
        int x = x0;
        // Four pixels' sums in 16-bit lanes: pixels 0 + 2 and 1 + 3 of each run, then the halves.
        auto runSums = [&](const uint32_t* p) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i s = _mm_add_epi16(_mm_unpacklo_epi8(v, zero), _mm_unpackhi_epi8(v, zero));
            return s; // lanes 0-3: pixel 0 + 2, lanes 4-7: pixel 1 + 3
        };
        for (; x + 2 <= x1; x += 2) {
            const __m128i s0 = runSums(row + 4 * x), s1 = runSums(row + 4 * x + 4);
            // Lanes 0-3: run 0's halves, lanes 4-7: run 1's; added pairwise.
            const __m128i lo = _mm_unpacklo_epi64(s0, s1), hi = _mm_unpackhi_epi64(s0, s1);
            const __m128i sums = _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(lo, hi), two), 2);
            const __m128i packed = _mm_and_si128(_mm_packus_epi16(sums, sums), colourBytes);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), packed);
        }
        for (; x < x1; ++x) {
            const uint32_t* p = row + 4 * x;
            int sum[3] = { 0, 0, 0 };
            for (int i = 0; i < 4; ++i) {
                sum[0] += RedOf(p[i]);
                sum[1] += GreenOf(p[i]);
                sum[2] += BlueOf(p[i]);
            }
            out[x] = Rgb(
                uint8_t((sum[0] + 2) / 4), uint8_t((sum[1] + 2) / 4), uint8_t((sum[2] + 2) / 4));
        }
    }
#endif

    void AverageRuns(
        const uint32_t* row, uint32_t* out, int x0, int x1, int k, const RoundedDivider& divide)
    {
        for (int x = x0; x < x1; ++x) {
            const uint32_t* p = row + size_t(x) * size_t(k);
            uint64_t br = 0, g = 0;
            for (int i = 0; i < k; ++i) {
                br += BlueRedLanes(p[i]);
                g += (p[i] >> 8) & 0xFFu;
            }
            out[x] = Rgb(divide(br >> 32), divide(g), divide(br & 0xFFFFFFFFu));
        }
    }
    // One HALFTONE stretch as StretchAverage lays it out: the rectangles, the taps along each
    // axis, the divider of their weighted sums, and the destination columns [x0, x1) that lie
    // inside the destination.
    struct AreaStretch {
        Surface& dst;
        int xDst, yDst, wDst, hDst;
        const Surface& src;
        int xSrc, ySrc, wSrc, hSrc;
        AxisTaps xs, ys;
        RoundedDivider divide;
        int x0, x1;
    };

    // One destination row from one source row of full weight.
    void AverageRow(const uint32_t* row, uint32_t* out, const AreaStretch& a)
    {
        const int x0 = a.x0, x1 = a.x1, wSrc = a.wSrc, wDst = a.wDst;
        const RoundedDivider& divide = a.divide;
        if (wSrc % wDst == 0) {
            // A whole number of source pixels per destination pixel, all of weight 1.
            // The capture's own ratios (1, 2, 4) get the divisor as a constant.
            switch (wSrc / wDst) {
            case 2:
                AverageRuns<2>(row, out, x0, x1);
                break;
            case 4:
                AverageRuns<4>(row, out, x0, x1);
                break;
            default:
                AverageRuns(row, out, x0, x1, wSrc / wDst, divide);
                break;
            }
            return;
        }
        const std::vector<uint32_t>& xBegin = a.xs.begin;
        const std::vector<Tap>& xTaps = a.xs.taps;
        for (int x = x0; x < x1; ++x) {
            uint64_t br = 0, g = 0;
            for (uint32_t t = xBegin[size_t(x)]; t < xBegin[size_t(x) + 1]; ++t) {
                const uint32_t v = row[xTaps[t].source];
                const uint64_t wx = xTaps[t].weight;
                br += wx * BlueRedLanes(v);
                g += wx * ((v >> 8) & 0xFFu);
            }
            out[x] = Rgb(divide(br >> 32), divide(g), divide(br & 0xFFFFFFFFu));
        }
    }

    // Each destination row comes from one source row with full weight (the usual case: heights
    // equal, only the width shrinks) and every source column lies inside the source: taps
    // straight off the source row.
    void AverageSingleRows(const AreaStretch& a)
    {
        const int xDst = a.xDst, yDst = a.yDst, x0 = a.x0, x1 = a.x1;
        for (int y = 0; y < a.hDst; ++y) {
            const int dy = yDst + y, sy = a.ySrc + a.ys.taps[a.ys.begin[size_t(y)]].source;
            if (dy < 0 || dy >= a.dst.height)
                continue;
            uint32_t* out = a.dst.Row(dy);
            if (sy < 0 || sy >= a.src.height) {
                std::fill(out + xDst + std::max(x0, 0), out + xDst + std::max(x1, x0), 0u);
                continue;
            }
            AverageRow(a.src.Row(sy) + a.xSrc, out + xDst, a);
        }
    }

    // Any stretch: per destination row, the weighted sum of its source rows per source column
    // (source columns [inside0, inside1) lie inside the source), then the horizontal taps over
    // those sums.
    void AverageWeightedRows(const AreaStretch& a, int inside0, int inside1)
    {
        const int xDst = a.xDst, yDst = a.yDst, x0 = a.x0, x1 = a.x1;
        const std::vector<uint32_t>& xBegin = a.xs.begin;
        const std::vector<Tap>& xTaps = a.xs.taps;
        const RoundedDivider& divide = a.divide;
        std::vector<uint64_t> blueRed(static_cast<size_t>(a.wSrc)),
            green(static_cast<size_t>(a.wSrc));
        for (int y = 0; y < a.hDst; ++y) {
            const int dy = yDst + y;
            if (dy < 0 || dy >= a.dst.height)
                continue;
            std::fill(blueRed.begin(), blueRed.end(), 0);
            std::fill(green.begin(), green.end(), 0);
            for (uint32_t t = a.ys.begin[size_t(y)]; t < a.ys.begin[size_t(y) + 1]; ++t) {
                const int sy = a.ySrc + a.ys.taps[t].source;
                const uint64_t wy = a.ys.taps[t].weight;
                if (sy < 0 || sy >= a.src.height)
                    continue;
                const uint32_t* row = a.src.Row(sy) + a.xSrc;
                for (int x = inside0; x < inside1; ++x) {
                    const uint32_t v = row[x];
                    blueRed[size_t(x)] += wy * BlueRedLanes(v);
                    green[size_t(x)] += wy * ((v >> 8) & 0xFFu);
                }
            }
            uint32_t* out = a.dst.Row(dy);
            for (int x = x0; x < x1; ++x) {
                uint64_t br = 0, g = 0;
                for (uint32_t t = xBegin[size_t(x)]; t < xBegin[size_t(x) + 1]; ++t) {
                    const size_t k = size_t(xTaps[t].source);
                    const uint64_t wx = xTaps[t].weight;
                    br += wx * blueRed[k];
                    g += wx * green[k];
                }
                out[xDst + x] = Rgb(divide(br >> 32), divide(g), divide(br & 0xFFFFFFFFu));
            }
        }
    }

    // out[x] = in[x / k] for x in [0, count · k), in runs the compiler can keep in registers.
    void RepeatPixels(const uint32_t* in, uint32_t* out, int count, int k)
    {
        switch (k) {
        case 1:
            std::memcpy(out, in, size_t(count) * 4);
            return;
        case 2:
            for (int x = 0; x < count; ++x)
                out[2 * x] = out[2 * x + 1] = in[x];
            return;
        case 4:
            for (int x = 0; x < count; ++x)
                out[4 * x] = out[4 * x + 1] = out[4 * x + 2] = out[4 * x + 3] = in[x];
            return;
        default:
            for (int x = 0; x < count; ++x)
                std::fill(out + size_t(x) * size_t(k), out + size_t(x + 1) * size_t(k), in[x]);
        }
    }

} // namespace

void StretchAverage(Surface& dst, int xDst, int yDst, int wDst, int hDst, const Surface& src,
    int xSrc, int ySrc, int wSrc, int hSrc)
{
    AxisTaps xs = BuildTaps(wSrc, wDst), ys = BuildTaps(hSrc, hDst);
    const uint64_t total = uint64_t(xs.sum) * ys.sum;
    // Wider than the lanes allow: one lane per channel would be needed. Such pictures
    // (over 16 million source pixels per destination pixel) do not occur; sample instead.
    if (total * 255 >= (uint64_t(1) << 32)) {
        StretchSample(dst, xDst, yDst, wDst, hDst, src, xSrc, ySrc, wSrc, hSrc);
        return;
    }
    // Both steps, down the rows and along them, are exact integer sums, so the result is the
    // exact area average rounded half up. Source pixels outside the source are black and add
    // nothing.
    const int inside0 = std::clamp(-xSrc, 0, wSrc),
              inside1 = std::clamp(src.width - xSrc, inside0, wSrc);
    const bool singleRows = ys.sum == 1 && inside0 == 0 && inside1 == wSrc;
    const AreaStretch a { dst, xDst, yDst, wDst, hDst, src, xSrc, ySrc, wSrc, hSrc, std::move(xs),
        std::move(ys), RoundedDivider(total), std::max(0, -xDst),
        std::min(wDst, dst.width - xDst) };
    if (singleRows)
        AverageSingleRows(a);
    else
        AverageWeightedRows(a, inside0, inside1);
}

void StretchSample(Surface& dst, int xDst, int yDst, int wDst, int hDst, const Surface& src,
    int xSrc, int ySrc, int wSrc, int hSrc)
{
    // Destination columns inside the destination, and the source column each one takes
    // (−1: outside the source, black).
    const int x0 = std::max(0, -xDst), x1 = std::min(wDst, dst.width - xDst);
    if (x1 <= x0)
        return;
    std::vector<int> columns(static_cast<size_t>(x1 - x0));
    for (int x = x0; x < x1; ++x) {
        const int sx = xSrc + int((int64_t(2 * x + 1) * wSrc) / (2 * int64_t(wDst)));
        columns[size_t(x - x0)] = (sx >= 0 && sx < src.width) ? sx : -1;
    }
    // The display enlargements: a whole source row, each pixel repeated a whole number of
    // times across the whole destination row (column x takes source pixel x / k exactly).
    const bool whole = xSrc >= 0 && int64_t(xSrc) + wSrc <= src.width && x0 == 0 && x1 == wDst
        && wDst % wSrc == 0;
    int previousSy = -1;
    const uint32_t* previousOut = nullptr;
    for (int y = 0; y < hDst; ++y) {
        const int dy = yDst + y;
        if (dy < 0 || dy >= dst.height)
            continue;
        const int sy = ySrc + int((int64_t(2 * y + 1) * hSrc) / (2 * int64_t(hDst)));
        uint32_t* out = dst.Row(dy) + xDst;
        if (sy == previousSy && previousOut) {
            // An enlargement repeats rows: copy the one just made.
            std::memcpy(out + x0, previousOut + x0, size_t(x1 - x0) * 4);
            continue;
        }
        if (sy < 0 || sy >= src.height) {
            std::fill(out + x0, out + x1, 0u);
        } else if (whole) {
            RepeatPixels(src.Row(sy) + xSrc, out, wSrc, wDst / wSrc);
        } else {
            const uint32_t* in = src.Row(sy);
            for (int x = x0; x < x1; ++x) {
                const int sx = columns[size_t(x - x0)];
                out[x] = sx >= 0 ? in[sx] : 0u;
            }
        }
        previousSy = sy;
        previousOut = out;
    }
}
} // namespace platform
