#include "gdi.h"

#include <algorithm>
#include <cstring>
#include <numeric>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace platform {

namespace {

    // Holds the surface locks of one or two DCs for the length of an operation.
    class DcLock {
    public:
        DcLock(HDC a, HDC b = nullptr)
        {
            std::mutex* first = a ? a->Lock() : nullptr;
            std::mutex* second = b ? b->Lock() : nullptr;
            if (first == second)
                second = nullptr;
            if (first && second) {
                std::lock(*first, *second);
                m_a = std::unique_lock(*first, std::adopt_lock);
                m_b = std::unique_lock(*second, std::adopt_lock);
            } else if (first) {
                m_a = std::unique_lock(*first);
            } else if (second) {
                m_b = std::unique_lock(*second);
            }
        }

    private:
        std::unique_lock<std::mutex> m_a;
        std::unique_lock<std::mutex> m_b;
    };

    bool ValidDib(const BITMAPINFO* info)
    {
        if (!info)
            return false;
        const auto& h = info->bmiHeader;
        return h.biSize >= 40 && h.biPlanes == 1 && h.biBitCount == 24 && h.biCompression == BI_RGB
            && h.biWidth > 0 && h.biWidth <= kMaxSurfaceSide && h.biHeight != 0
            && h.biHeight >= -kMaxSurfaceSide && h.biHeight <= kMaxSurfaceSide;
    }

    // 3-byte blue, green, red pixels back to 32-bit ones (PackRow24 is the other way).
    void UnpackRow(const uint8_t* in, uint32_t* out, int count)
    {
        // Eight pixels from three 64-bit words, in registers (see PackRow24).
        int x = 0;
        for (; x + 8 <= count; x += 8, in += 24, out += 8) {
            uint64_t w[3];
            std::memcpy(&w[0], in, 8);
            std::memcpy(&w[1], in + 8, 8);
            std::memcpy(&w[2], in + 16, 8);
            out[0] = uint32_t(w[0]) & 0xFFFFFFu;
            out[1] = uint32_t(w[0] >> 24) & 0xFFFFFFu;
            out[2] = uint32_t(w[0] >> 48 | w[1] << 16) & 0xFFFFFFu;
            out[3] = uint32_t(w[1] >> 8) & 0xFFFFFFu;
            out[4] = uint32_t(w[1] >> 32) & 0xFFFFFFu;
            out[5] = uint32_t(w[1] >> 56 | w[2] << 8) & 0xFFFFFFu;
            out[6] = uint32_t(w[2] >> 16) & 0xFFFFFFu;
            out[7] = uint32_t(w[2] >> 40);
        }
        for (; x < count; ++x, in += 3, ++out)
            *out = Rgb(in[2], in[1], in[0]);
    }

    // Source pixel, black outside the surface.
    inline uint32_t Fetch(const Surface& s, int x, int y)
    {
        return s.Contains(x, y) ? s.At(x, y) : 0u;
    }

    // One destination pixel's share of source pixels along an axis: source index and the covered
    // length.
    struct Tap {
        int source;
        uint32_t weight;
    };

    // For each destination index i, the source pixels j whose span [j, j+1) overlaps
    // [i·s/d, (i+1)·s/d), weighted by the overlap. In units of 1/d of a source pixel,
    // destination i spans [i·s, (i+1)·s) and source j spans [j·d, (j+1)·d), so every weight is
    // an integer; all of them are multiples of gcd(s, d), which is divided out. The weights of
    // one destination pixel then sum to s / gcd(s, d), returned.
    uint32_t BuildTaps(int s, int d, std::vector<uint32_t>& begin, std::vector<Tap>& taps)
    {
        const int64_t g = std::gcd(int64_t(s), int64_t(d));
        begin.assign(size_t(d) + 1, 0);
        taps.clear();
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
        return uint32_t(s / g);
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

    void StretchSample(Surface& dst, int xDst, int yDst, int wDst, int hDst, const Surface& src,
        int xSrc, int ySrc, int wSrc, int hSrc);

    // Blue and red of a pixel in two 32-bit lanes of one 64-bit word, so one multiply-add
    // weighs both; green goes on its own. Lanes hold weighted sums up to 255 × total.
    inline uint64_t BlueRedLanes(uint32_t v) { return (v & 0xFFu) | (uint64_t(v & 0xFF0000u) << 16); }

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
            out[x] = Rgb(uint8_t((br >> 32) / K), uint8_t((g + K / 2) / K), uint8_t((br & 0xFFFFFFFFu) / K));
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

    void AverageRuns(const uint32_t* row, uint32_t* out, int x0, int x1, int k,
        const RoundedDivider& divide)
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

    void StretchAverage(Surface& dst, int xDst, int yDst, int wDst, int hDst, const Surface& src,
        int xSrc, int ySrc, int wSrc, int hSrc)
    {
        std::vector<uint32_t> xBegin, yBegin;
        std::vector<Tap> xTaps, yTaps;
        const uint32_t xSum = BuildTaps(wSrc, wDst, xBegin, xTaps);
        const uint32_t ySum = BuildTaps(hSrc, hDst, yBegin, yTaps);
        const uint64_t total = uint64_t(xSum) * ySum;
        const RoundedDivider divide(total);
        // Wider than the lanes allow: one lane per channel would be needed. Such pictures
        // (over 16 million source pixels per destination pixel) do not occur; sample instead.
        if (total * 255 >= (uint64_t(1) << 32)) {
            StretchSample(dst, xDst, yDst, wDst, hDst, src, xSrc, ySrc, wSrc, hSrc);
            return;
        }
        // Per destination row: the weighted sum of its source rows per source column, then the
        // horizontal taps over those sums. Both steps are exact integer sums, so the result is
        // the exact area average rounded half up. Source pixels outside the source are black
        // and add nothing.
        const int inside0 = std::clamp(-xSrc, 0, wSrc), inside1 = std::clamp(src.width - xSrc, inside0, wSrc);
        const int x0 = std::max(0, -xDst), x1 = std::min(wDst, dst.width - xDst);
        if (ySum == 1 && inside0 == 0 && inside1 == wSrc) {
            // Each destination row comes from one source row with full weight (the usual case:
            // heights equal, only the width shrinks): taps straight off the source row.
            for (int y = 0; y < hDst; ++y) {
                const int dy = yDst + y, sy = ySrc + yTaps[yBegin[size_t(y)]].source;
                if (dy < 0 || dy >= dst.height)
                    continue;
                uint32_t* out = dst.Row(dy);
                if (sy < 0 || sy >= src.height) {
                    std::fill(out + xDst + std::max(x0, 0), out + xDst + std::max(x1, x0), 0u);
                    continue;
                }
                const uint32_t* row = src.Row(sy) + xSrc;
                if (wSrc % wDst == 0) {
                    // A whole number of source pixels per destination pixel, all of weight 1.
                    // The capture's own ratios (1, 2, 4) get the divisor as a constant.
                    switch (wSrc / wDst) {
                    case 2:
                        AverageRuns<2>(row, out + xDst, x0, x1);
                        break;
                    case 4:
                        AverageRuns<4>(row, out + xDst, x0, x1);
                        break;
                    default:
                        AverageRuns(row, out + xDst, x0, x1, wSrc / wDst, divide);
                        break;
                    }
                    continue;
                }
                for (int x = x0; x < x1; ++x) {
                    uint64_t br = 0, g = 0;
                    for (uint32_t t = xBegin[size_t(x)]; t < xBegin[size_t(x) + 1]; ++t) {
                        const uint32_t v = row[xTaps[t].source];
                        const uint64_t wx = xTaps[t].weight;
                        br += wx * BlueRedLanes(v);
                        g += wx * ((v >> 8) & 0xFFu);
                    }
                    out[xDst + x] = Rgb(divide(br >> 32), divide(g), divide(br & 0xFFFFFFFFu));
                }
            }
            return;
        }
        std::vector<uint64_t> blueRed(static_cast<size_t>(wSrc)), green(static_cast<size_t>(wSrc));
        for (int y = 0; y < hDst; ++y) {
            const int dy = yDst + y;
            if (dy < 0 || dy >= dst.height)
                continue;
            std::fill(blueRed.begin(), blueRed.end(), 0);
            std::fill(green.begin(), green.end(), 0);
            for (uint32_t t = yBegin[size_t(y)]; t < yBegin[size_t(y) + 1]; ++t) {
                const int sy = ySrc + yTaps[t].source;
                const uint64_t wy = yTaps[t].weight;
                if (sy < 0 || sy >= src.height)
                    continue;
                const uint32_t* row = src.Row(sy) + xSrc;
                for (int x = inside0; x < inside1; ++x) {
                    const uint32_t v = row[x];
                    blueRed[size_t(x)] += wy * BlueRedLanes(v);
                    green[size_t(x)] += wy * ((v >> 8) & 0xFFu);
                }
            }
            uint32_t* out = dst.Row(dy);
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
        const bool whole = xSrc >= 0 && int64_t(xSrc) + wSrc <= src.width && x0 == 0
            && x1 == wDst && wDst % wSrc == 0;
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

    // One spare pixel store per thread, from the last deleted bitmap.
    thread_local std::vector<uint32_t> t_spareStorage;

    std::vector<uint32_t> TakeSpareStorage() { return std::exchange(t_spareStorage, {}); }

    void KeepSpareStorage(std::vector<uint32_t>&& storage)
    {
        if (storage.capacity() > t_spareStorage.capacity())
            t_spareStorage = std::move(storage);
    }

} // namespace

HDC CreateCompatibleDC(HDC)
{
    auto* dc = new DeviceContext(nullptr, nullptr);
    dc->m_memory = true;
    return dc;
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, unsigned usage, void** bits, void*, uint32_t)
{
    if (bits)
        *bits = nullptr;
    if (usage != DIB_RGB_COLORS || !ValidDib(info))
        return nullptr;
    const auto& h = info->bmiHeader;
    const bool topDown = h.biHeight < 0;
    auto* bitmap = new Bitmap(0, 0, topDown);
    // Every conversion makes and deletes one bitmap of the same size per frame: take the pixel
    // storage of the last deleted one rather than fresh pages from the system each time.
    bitmap->surface.pixels = TakeSpareStorage();
    bitmap->surface.width = h.biWidth;
    bitmap->surface.height = topDown ? -h.biHeight : h.biHeight;
    bitmap->surface.pixels.assign(size_t(h.biWidth) * size_t(bitmap->surface.height), 0u);
    return bitmap;
}

HBITMAP SelectObject(HDC dc, HBITMAP bitmap)
{
    if (!dc || !dc->m_memory || !bitmap)
        return nullptr;
    Bitmap* previous = dc->m_selected;
    if (previous)
        previous->selectedInto = nullptr;
    dc->m_selected = bitmap;
    dc->m_surface = &bitmap->surface;
    bitmap->selectedInto = dc;
    return previous;
}

bool BitBlt(HDC dst, int xDst, int yDst, int width, int height, HDC src, int xSrc, int ySrc,
    uint32_t rop)
{
    if (!dst || !src || rop != SRCCOPY || !dst->GetSurface() || !src->GetSurface())
        return false;
    if (width <= 0 || height <= 0)
        return true;
    DcLock lock(dst, src);
    Surface& d = *dst->GetSurface();
    const Surface& s = *src->GetSurface();
    // Destination columns that land inside the destination, and of those the ones whose source
    // column lies inside the source; the rest of the span is black.
    const int x0 = std::max(0, -xDst), x1 = std::min(width, d.width - xDst);
    if (x1 <= x0)
        return true;
    const int inside0 = std::clamp(-xSrc, x0, x1), inside1 = std::clamp(s.width - xSrc, inside0, x1);
    // A copy within one surface (the border fill) may overlap; go through a temporary line.
    std::vector<uint32_t> line;
    if (&d == &s)
        line.resize(static_cast<size_t>(x1 - x0));
    for (int y = 0; y < height; ++y) {
        const int dy = yDst + y, sy = ySrc + y;
        if (dy < 0 || dy >= d.height)
            continue;
        uint32_t* out = d.Row(dy) + xDst;
        if (sy < 0 || sy >= s.height) {
            std::fill(out + x0, out + x1, 0u);
            continue;
        }
        const uint32_t* in = s.Row(sy) + xSrc;
        if (!line.empty()) {
            std::copy(in + inside0, in + inside1, line.begin() + (inside0 - x0));
            std::copy(line.begin() + (inside0 - x0), line.begin() + (inside1 - x0), out + inside0);
        } else {
            std::memcpy(out + inside0, in + inside0, size_t(inside1 - inside0) * 4);
        }
        std::fill(out + x0, out + inside0, 0u);
        std::fill(out + inside1, out + x1, 0u);
    }
    return true;
}

bool StretchBlt(HDC dst, int xDst, int yDst, int wDst, int hDst, HDC src, int xSrc, int ySrc,
    int wSrc, int hSrc, uint32_t rop)
{
    if (!dst || !src || rop != SRCCOPY || !dst->GetSurface() || !src->GetSurface())
        return false;
    if (wDst <= 0 || hDst <= 0 || wSrc <= 0 || hSrc <= 0)
        return false;
    if (wDst > kMaxSurfaceSide || hDst > kMaxSurfaceSide || wSrc > kMaxSurfaceSide
        || hSrc > kMaxSurfaceSide)
        return false;
    if (wDst == wSrc && hDst == hSrc)
        return BitBlt(dst, xDst, yDst, wDst, hDst, src, xSrc, ySrc, SRCCOPY);
    DcLock lock(dst, src);
    Surface& d = *dst->GetSurface();
    const Surface& s = *src->GetSurface();
    if (&d == &s) {
        const Surface copy = s;
        if (dst->stretchMode == HALFTONE)
            StretchAverage(d, xDst, yDst, wDst, hDst, copy, xSrc, ySrc, wSrc, hSrc);
        else
            StretchSample(d, xDst, yDst, wDst, hDst, copy, xSrc, ySrc, wSrc, hSrc);
    } else if (dst->stretchMode == HALFTONE) {
        StretchAverage(d, xDst, yDst, wDst, hDst, s, xSrc, ySrc, wSrc, hSrc);
    } else {
        StretchSample(d, xDst, yDst, wDst, hDst, s, xSrc, ySrc, wSrc, hSrc);
    }
    return true;
}

int GetStretchBltMode(HDC dc) { return dc ? dc->stretchMode : 0; }

int SetStretchBltMode(HDC dc, int mode)
{
    if (!dc || mode < BLACKONWHITE || mode > HALFTONE)
        return 0;
    const int previous = dc->stretchMode;
    dc->stretchMode = mode;
    return previous;
}

int GetDIBits(HDC dc, HBITMAP bitmap, unsigned start, unsigned lines, void* bits,
    const BITMAPINFO* info, unsigned usage)
{
    if (!dc || !bitmap || !bits || usage != DIB_RGB_COLORS || !ValidDib(info))
        return 0;
    DcLock lock(dc);
    const Surface& s = bitmap->surface;
    const auto& h = info->bmiHeader;
    const bool topDown = h.biHeight < 0;
    if (h.biWidth != s.width || (topDown ? -h.biHeight : h.biHeight) != s.height)
        return 0;
    const size_t stride = DibStrideBytes(s.width);
    auto* out = static_cast<uint8_t*>(bits);
    int copied = 0;
    for (unsigned line = 0; line < lines; ++line) {
        const int64_t scan = int64_t(start) + line; // scan lines count in the header's row order
        if (scan >= s.height)
            break;
        const int y = topDown ? int(scan) : s.height - 1 - int(scan);
        uint8_t* o = out + size_t(line) * stride;
        PackRow24(s.Row(y), o, s.width);
        std::memset(o + size_t(s.width) * 3, 0, stride - size_t(s.width) * 3);
        ++copied;
    }
    return copied;
}

int SetDIBitsToDevice(HDC dst, int xDst, int yDst, unsigned width, unsigned height, int xSrc,
    int ySrc, unsigned startScan, unsigned lines, const void* bits, const BITMAPINFO* info,
    unsigned usage)
{
    if (!dst || !bits || usage != DIB_RGB_COLORS || !ValidDib(info) || !dst->GetSurface())
        return 0;
    const auto& h = info->bmiHeader;
    const int dibWidth = h.biWidth;
    const int dibHeight = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    const bool topDown = h.biHeight < 0;
    if (width > unsigned(kMaxSurfaceSide) || height > unsigned(kMaxSurfaceSide)
        || lines > unsigned(dibHeight))
        return 0;
    DcLock lock(dst);
    Surface& d = *dst->GetSurface();
    const size_t stride = DibStrideBytes(dibWidth);
    const auto* in = static_cast<const uint8_t*>(bits);
    // Scan lines are numbered bottom-up from 0; the supplied ones are
    // [startScan, startScan + lines). In the buffer, a bottom-up DIB stores scan line s at
    // buffer row s − startScan; a top-down DIB stores it at buffer row (H − 1 − s) − startScan.
    int drawn = 0;
    for (int y = 0; y < int(height); ++y) {
        const int dy = yDst + y;
        if (dy < 0 || dy >= d.height)
            continue;
        const int64_t scan = int64_t(ySrc) + int64_t(height) - 1 - y;
        int64_t bufferRow;
        if (topDown)
            bufferRow = int64_t(dibHeight) - 1 - scan - int64_t(startScan);
        else
            bufferRow = scan - int64_t(startScan);
        if (scan < 0 || scan >= dibHeight || bufferRow < 0 || bufferRow >= int64_t(lines))
            continue;
        const uint8_t* row = in + size_t(bufferRow) * stride;
        uint32_t* out = d.Row(dy);
        // x runs where both the DIB column and the destination column exist.
        const int x0 = std::max({ 0, -xSrc, -xDst });
        const int x1 = std::min({ int(width), dibWidth - xSrc, d.width - xDst });
        if (x1 > x0)
            UnpackRow(row + (size_t(xSrc) + size_t(x0)) * 3, out + xDst + x0, x1 - x0);
        ++drawn;
    }
    return drawn;
}

bool DeleteDC(HDC dc)
{
    if (!dc || !dc->m_memory)
        return false;
    if (dc->m_selected)
        dc->m_selected->selectedInto = nullptr;
    delete dc;
    return true;
}

bool DeleteObject(HBITMAP bitmap)
{
    if (!bitmap || bitmap->selectedInto)
        return false;
    KeepSpareStorage(std::move(bitmap->surface.pixels));
    delete bitmap;
    return true;
}


void PackRow24(const uint32_t* in, uint8_t* out, int count)
{
    // Eight pixels make three 64-bit words, built in registers: going through a small array on
    // the stack makes the compiler store it in 32-bit parts and load it back in 64-bit ones,
    // which the processor cannot forward and stalls on every time.
    int x = 0;
    for (; x + 8 <= count; x += 8, in += 8, out += 24) {
        uint64_t p[8];
        for (int i = 0; i < 8; ++i)
            p[i] = in[i] & 0xFFFFFFu;
        const uint64_t words[3] = { p[0] | p[1] << 24 | p[2] << 48,
            p[2] >> 16 | p[3] << 8 | p[4] << 32 | p[5] << 56,
            p[5] >> 8 | p[6] << 16 | p[7] << 40 };
        std::memcpy(out, &words[0], 8);
        std::memcpy(out + 8, &words[1], 8);
        std::memcpy(out + 16, &words[2], 8);
    }
    for (; x < count; ++x, ++in, out += 3) {
        out[0] = uint8_t(*in);
        out[1] = uint8_t(*in >> 8);
        out[2] = uint8_t(*in >> 16);
    }
}

} // namespace platform
