#include "steady_diffusion.h"

#include <algorithm>
#include <array>
#include <cassert>
#include <cstddef>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelorin {

namespace {

    // ---- The kernel's shape, as compile-time constants --------------------------------------

    constexpr int WeightAt(const DiffusionKernel& k, int dx, int dy)
    {
        for (int i = 0; i < k.entryCount; ++i)
            if (k.entries[size_t(i)].dx == dx && k.entries[size_t(i)].dy == dy)
                return k.entries[size_t(i)].weight;
        return 0;
    }

    // The scan below handles kernels whose same-row entries reach one or two pixels right, whose
    // lower-row entries lie within dx = −2 ... 2 and at most two rows down, and whose
    // weight · (255 / divisor) fits a signed byte (the row updates are saturating byte adds).
    constexpr bool FitsRowScan(const DiffusionKernel& k)
    {
        for (int i = 0; i < k.entryCount; ++i) {
            const KernelEntry& e = k.entries[size_t(i)];
            if (e.dy < 0 || e.dy > 2 || e.dx < -2 || e.dx > 2 || (e.dy == 0 && e.dx <= 0))
                return false;
            if (e.weight <= 0 || e.weight * (255 / k.divisor) > 127)
                return false;
            if (WeightAt(k, e.dx, e.dy) != e.weight) // one entry per position
                return false;
        }
        return true;
    }
    static_assert(std::all_of(kDiffusionKernels.begin(), kDiffusionKernels.end(), FitsRowScan),
        "a kernel has a shape the steady scan does not handle");

    inline int Clamp(int v) { return v < 0 ? 0 : v > 255 ? 255 : v; }

#if defined(__GNUC__)
#define STEADY_INLINE inline __attribute__((always_inline))
#define STEADY_INLINE_LAMBDA __attribute__((always_inline))
#else
#define STEADY_INLINE inline
#define STEADY_INLINE_LAMBDA
#endif

    struct Step {
        int qBlue, qGreen, qRed;
    };

    // The nearest palette colour, 0x00RRGGBB: the table, or for two entries the side of the
    // plane between them (on the plane entry 0 wins), as NearestColorTable decides.
    struct TableNearest {
        const NearestColorTable& table;
        STEADY_INLINE uint32_t operator()(int blue, int green, int red) const
        {
            return table.Lookup(uint8_t(red), uint8_t(green), uint8_t(blue));
        }
    };
    struct PlaneNearest {
        int planeBlue, planeGreen, planeRed, threshold;
        uint32_t colour0, colour1;
        explicit PlaneNearest(const NearestColorTable& table)
        {
            const PaletteEntry& e0 = table.Entries()[0];
            const PaletteEntry& e1 = table.Entries()[1];
            planeBlue = 2 * (int(e1.Blue) - int(e0.Blue));
            planeGreen = 2 * (int(e1.Green) - int(e0.Green));
            planeRed = 2 * (int(e1.Red) - int(e0.Red));
            threshold = int(e1.Blue) * e1.Blue + int(e1.Green) * e1.Green + int(e1.Red) * e1.Red
                - int(e0.Blue) * e0.Blue - int(e0.Green) * e0.Green - int(e0.Red) * e0.Red;
            colour0 = PackEntry(e0);
            colour1 = PackEntry(e1);
        }
        STEADY_INLINE uint32_t operator()(int blue, int green, int red) const
        {
            const int side = planeBlue * blue + planeGreen * green + planeRed * red;
            return side > threshold ? colour1 : colour0;
        }
    };

    // One pixel: its colour with the error received so far is (blue, green, red); stores the
    // chosen colour at `pixel` and gives back q = (old − new) / D per channel.
    template <int D, bool Steady, class Nearest> struct Chooser {
        Nearest nearest;
        SteadyTolerance tolerance;

        STEADY_INLINE Step operator()(
            uint8_t* pixel, const uint8_t* before, int blue, int green, int red) const
        {
            const uint32_t n = nearest(blue, green, red);
            int newBlue = int(n & 0xFF), newGreen = int((n >> 8) & 0xFF), newRed = int(n >> 16);
            if constexpr (Steady) {
                const int pb = before[0], pg = before[1], pr = before[2];
                if (pb != newBlue || pg != newGreen || pr != newRed) {
                    const int dn = (blue - newBlue) * (blue - newBlue)
                        + (green - newGreen) * (green - newGreen) + (red - newRed) * (red - newRed);
                    const int dp = (blue - pb) * (blue - pb) + (green - pg) * (green - pg)
                        + (red - pr) * (red - pr);
                    if (16 * dp <= tolerance.scale16 * dn + tolerance.offset) {
                        newBlue = pb;
                        newGreen = pg;
                        newRed = pr;
                    }
                }
            }
            pixel[0] = uint8_t(newBlue);
            pixel[1] = uint8_t(newGreen);
            pixel[2] = uint8_t(newRed);
            return { (blue - newBlue) / D, (green - newGreen) / D, (red - newRed) / D };
        }
    };

    // ---- The scan ---------------------------------------------------------------------------
    //
    // The engine's contract visits pixel after pixel and adds each sender's weighted quotient to
    // its neighbours at once. The same bytes come out of a row-at-a-time order, because a byte
    // receives its updates in sender order: first from the senders two rows up, then from the
    // row just above, then from the one or two pixels before it on its own row. So before a row
    // is scanned, the updates from the two rows above are applied to all of it (vector adds,
    // each still clamped one sender at a time), from the quotients those rows left in a flat
    // array; the scan itself applies only the same-row updates. The flat buffer makes two kinds
    // of update cross a row's ends: the first two pixels of a row reach (dy = 1, dx < 0) onto the
    // last two pixels of their own row, applied while scanning; and the last two pixels reach
    // (dy = 0) onto the first two of the next row, held until that row's batch is done.

    constexpr size_t kMargin = 16;
    thread_local std::vector<int16_t> t_quotients;

#if defined(__SSE2__)
    template <int Weight, int Dx>
    STEADY_INLINE __m128i AddSender(__m128i biased, const int16_t* senders)
    {
        if constexpr (Weight == 0) {
            return biased;
        } else {
            const int16_t* q = senders - 3 * Dx;
            const __m128i w = _mm_set1_epi16(int16_t(Weight));
            const __m128i lo
                = _mm_mullo_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)), w);
            const __m128i hi
                = _mm_mullo_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 8)), w);
            return _mm_adds_epi8(biased, _mm_packs_epi16(lo, hi));
        }
    }
#endif

    template <int Weight, int Dx> STEADY_INLINE int AddSenderByte(int v, const int16_t* senders)
    {
        if constexpr (Weight == 0)
            return v;
        else
            return Clamp(v + Weight * senders[-3 * Dx]);
    }

    // The updates from the senders Dy rows up, leftmost sender (dx = 2) first.
    template <size_t I, int Dy>
    STEADY_INLINE void ApplyRow(uint8_t* row, const int16_t* rowQuotients, size_t stride)
    {
        constexpr const DiffusionKernel& k = kDiffusionKernels[I];
        constexpr int w2 = WeightAt(k, 2, Dy), w1 = WeightAt(k, 1, Dy), w0 = WeightAt(k, 0, Dy),
                      wm1 = WeightAt(k, -1, Dy), wm2 = WeightAt(k, -2, Dy);
        if constexpr (w2 == 0 && w1 == 0 && w0 == 0 && wm1 == 0 && wm2 == 0)
            return;
        const int16_t* senders = rowQuotients - ptrdiff_t(Dy) * ptrdiff_t(stride);
        size_t i = 0;
#if defined(__SSE2__)
        // Bytes held as byte − 128: a signed saturating add then clamps to 0 ... 255.
        const __m128i bias = _mm_set1_epi8(char(0x80));
        for (; i + 16 <= stride; i += 16) {
            __m128i v
                = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i)), bias);
            const int16_t* s = senders + i;
            v = AddSender<w2, 2>(v, s);
            v = AddSender<w1, 1>(v, s);
            v = AddSender<w0, 0>(v, s);
            v = AddSender<wm1, -1>(v, s);
            v = AddSender<wm2, -2>(v, s);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_xor_si128(v, bias));
        }
#endif
        for (; i < stride; ++i) {
            const int16_t* s = senders + i;
            int v = row[i];
            v = AddSenderByte<w2, 2>(v, s);
            v = AddSenderByte<w1, 1>(v, s);
            v = AddSenderByte<w0, 0>(v, s);
            v = AddSenderByte<wm1, -1>(v, s);
            v = AddSenderByte<wm2, -2>(v, s);
            row[i] = uint8_t(v);
        }
    }

    template <size_t I, class Choose>
    void Scan(uint8_t* buffer, const uint8_t* previous, size_t sizeBytes, size_t stride,
        size_t begin, size_t end, const Choose& choose)
    {
        constexpr const DiffusionKernel& k = kDiffusionKernels[I];
        constexpr int D = k.divisor;
        constexpr int right1 = WeightAt(k, 1, 0), right2 = WeightAt(k, 2, 0);
        constexpr int wrapM1 = WeightAt(k, -1, 1), wrapM2 = WeightAt(k, -2, 1);
        constexpr bool twoRowsDown = WeightAt(k, -2, 2) || WeightAt(k, -1, 2)
            || WeightAt(k, 0, 2) || WeightAt(k, 1, 2) || WeightAt(k, 2, 2);
        static_assert(D > 0);

        const size_t rows = sizeBytes / stride;
        const size_t width = stride / 3;
        const size_t firstRow = begin / stride, endRow = end / stride;

        std::vector<int16_t>& store = t_quotients;
        if (store.size() < sizeBytes + 2 * kMargin)
            store.assign(sizeBytes + 2 * kMargin, 0);
        int16_t* const quotients = store.data() + kMargin;
        std::fill(quotients - kMargin, quotients + begin, int16_t(0));

        // Same-row updates the last two pixels of the row before sent to this row's first two.
        int held0[3] = {}, held1[3] = {}, heldAfter[3] = {};

        for (size_t y = firstRow; y < rows; ++y) {
            uint8_t* const row = buffer + y * stride;
            const uint8_t* const before = previous ? previous + y * stride : nullptr;
            int16_t* const rowQuotients = quotients + y * stride;
            // The row's own first two pixels are read by its batch (through the flat wrap) and
            // must count as not yet sent; rows below the scan send nothing at all.
            if (y < endRow)
                std::fill(rowQuotients, rowQuotients + 6, int16_t(0));
            else
                std::fill(rowQuotients, rowQuotients + stride + kMargin, int16_t(0));
            if constexpr (twoRowsDown)
                ApplyRow<I, 2>(row, rowQuotients, stride);
            ApplyRow<I, 1>(row, rowQuotients, stride);

            int c[3], next[3];
            for (int ch = 0; ch < 3; ++ch) {
                c[ch] = Clamp(Clamp(row[ch] + held0[ch]) + held1[ch]);
                next[ch] = Clamp(row[3 + ch] + heldAfter[ch]);
            }
            if (y >= endRow) {
                for (int ch = 0; ch < 3; ++ch) {
                    row[ch] = uint8_t(c[ch]);
                    row[3 + ch] = uint8_t(next[ch]);
                    held0[ch] = held1[ch] = heldAfter[ch] = 0;
                }
                continue;
            }

            int blue = c[0], green = c[1], red = c[2];
            int nextBlue = next[0], nextGreen = next[1], nextRed = next[2];
            auto step = [&](size_t x, bool after) STEADY_INLINE_LAMBDA -> Step {
                uint8_t* pixel = row + 3 * x;
                const Step q = choose(pixel, before ? before + 3 * x : nullptr, blue, green, red);
                int16_t* out = rowQuotients + 3 * x;
                out[0] = int16_t(q.qBlue);
                out[1] = int16_t(q.qGreen);
                out[2] = int16_t(q.qRed);
                blue = Clamp(nextBlue + right1 * q.qBlue);
                green = Clamp(nextGreen + right1 * q.qGreen);
                red = Clamp(nextRed + right1 * q.qRed);
                if (after) {
                    if constexpr (right2 != 0) {
                        nextBlue = Clamp(pixel[6] + right2 * q.qBlue);
                        nextGreen = Clamp(pixel[7] + right2 * q.qGreen);
                        nextRed = Clamp(pixel[8] + right2 * q.qRed);
                    } else {
                        nextBlue = pixel[6];
                        nextGreen = pixel[7];
                        nextRed = pixel[8];
                    }
                }
                return q;
            };
            auto wrap = [&](size_t target, int weight, const Step& q) {
                if (weight == 0)
                    return;
                uint8_t* p = row + 3 * target;
                p[0] = uint8_t(Clamp(p[0] + weight * q.qBlue));
                p[1] = uint8_t(Clamp(p[1] + weight * q.qGreen));
                p[2] = uint8_t(Clamp(p[2] + weight * q.qRed));
            };

            const Step first = step(0, true);
            wrap(width - 1, wrapM1, first);
            wrap(width - 2, wrapM2, first);
            const Step second = step(1, true);
            wrap(width - 1, wrapM2, second);
            for (size_t x = 2; x + 2 < width; ++x)
                step(x, true);
            const Step secondLast = step(width - 2, false);
            const Step last = step(width - 1, false);
            held0[0] = right2 * secondLast.qBlue;
            held0[1] = right2 * secondLast.qGreen;
            held0[2] = right2 * secondLast.qRed;
            held1[0] = right1 * last.qBlue;
            held1[1] = right1 * last.qGreen;
            held1[2] = right1 * last.qRed;
            heldAfter[0] = right2 * last.qBlue;
            heldAfter[1] = right2 * last.qGreen;
            heldAfter[2] = right2 * last.qRed;
        }
    }

    template <size_t I>
    void ScanKernel(uint8_t* buffer, const uint8_t* previous, size_t sizeBytes, size_t stride,
        size_t begin, size_t end, const NearestColorTable& table, SteadyTolerance tolerance)
    {
        constexpr int D = kDiffusionKernels[I].divisor;
        const bool two = table.Entries().size() == 2;
        if (previous && two)
            Scan<I>(buffer, previous, sizeBytes, stride, begin, end,
                Chooser<D, true, PlaneNearest> { PlaneNearest(table), tolerance });
        else if (previous)
            Scan<I>(buffer, previous, sizeBytes, stride, begin, end,
                Chooser<D, true, TableNearest> { TableNearest { table }, tolerance });
        else if (two)
            Scan<I>(buffer, nullptr, sizeBytes, stride, begin, end,
                Chooser<D, false, PlaneNearest> { PlaneNearest(table), tolerance });
        else
            Scan<I>(buffer, nullptr, sizeBytes, stride, begin, end,
                Chooser<D, false, TableNearest> { TableNearest { table }, tolerance });
    }

    template <size_t... I> constexpr auto MakeScans(std::index_sequence<I...>)
    {
        using Fn = void (*)(uint8_t*, const uint8_t*, size_t, size_t, size_t, size_t,
            const NearestColorTable&, SteadyTolerance);
        return std::array<Fn, sizeof...(I)> { &ScanKernel<I>... };
    }
    constexpr auto kScans = MakeScans(std::make_index_sequence<kDiffusionMethodCount>());

} // namespace

void SteadyDiffuseErrors(DiffusionMethod method, uint8_t* buffer, const BufferGeometry& geometry,
    const NearestColorTable& table, const uint8_t* previous, SteadyTolerance tolerance)
{
    const int G = KernelOf(method).guardRows;
    assert(geometry.border == kDiffusionBorder);
    assert(geometry.W >= 8 && geometry.H >= 2 * G + 1);
    const size_t stride = geometry.StrideBytes();
    kScans[size_t(method)](buffer, previous, geometry.SizeBytes(), stride, stride * size_t(G),
        stride * size_t(geometry.H - G), table, tolerance);
}

} // namespace pelorin
