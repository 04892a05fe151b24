#include "error_diffusion_engine.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelorin {

namespace {

    // ---- Compile-time checks of the kernel table -------------------------------------------

    constexpr int WeightSum(const DiffusionKernel& k)
    {
        int sum = 0;
        for (int i = 0; i < k.entryCount; ++i)
            sum += k.entries[size_t(i)].weight;
        return sum;
    }

    // Every entry must point at a pixel the scan has not reached yet: later in the same row, or
    // in a row below.
    constexpr bool OnlyUnvisitedNeighbours(const DiffusionKernel& k)
    {
        for (int i = 0; i < k.entryCount; ++i) {
            const KernelEntry& e = k.entries[size_t(i)];
            if (e.dy < 0 || (e.dy == 0 && e.dx <= 0))
                return false;
        }
        return true;
    }

    // Sideways reach must stay inside the border (so wrapped offsets land in border columns),
    // and downward reach inside the guard rows (so the last scanned row's updates stay inside
    // the buffer).
    constexpr bool ReachWithinBorder(const DiffusionKernel& k)
    {
        for (int i = 0; i < k.entryCount; ++i) {
            const KernelEntry& e = k.entries[size_t(i)];
            if (e.dx < -kDiffusionBorder || e.dx > kDiffusionBorder || e.dy > k.guardRows)
                return false;
        }
        return k.guardRows <= kDiffusionBorder;
    }

    constexpr bool DistinctPositions(const DiffusionKernel& k)
    {
        for (int i = 0; i < k.entryCount; ++i)
            for (int j = i + 1; j < k.entryCount; ++j)
                if (k.entries[size_t(i)].dx == k.entries[size_t(j)].dx
                    && k.entries[size_t(i)].dy == k.entries[size_t(j)].dy)
                    return false;
        return true;
    }

    // What the fast scan below relies on: on the pixel's own row only the next two pixels
    // receive error, each lower row's entries span at most 5 pixels (15 bytes, one 16-byte
    // window), no row lies more than 2 below, and no weight exceeds the divisor (so one update
    // moves a byte by at most 255).
    constexpr bool FitsFastScan(const DiffusionKernel& k)
    {
        for (int i = 0; i < k.entryCount; ++i) {
            const KernelEntry& e = k.entries[size_t(i)];
            if (e.dy > 2 || (e.dy == 0 && e.dx > 2) || e.dx < -2 || e.dx > 2)
                return false;
            if (e.weight <= 0 || e.weight > k.divisor)
                return false;
        }
        return true;
    }

    constexpr bool TableIsSound()
    {
        for (const DiffusionKernel& k : kDiffusionKernels) {
            const bool atkinson = k.routineName == "DitherAtkinson";
            // Atkinson deliberately passes on only 6 eighths of the error.
            if (WeightSum(k) != (atkinson ? 6 : k.divisor))
                return false;
            if (atkinson && k.divisor != 8)
                return false;
        }
        return true;
    }

    static_assert(TableIsSound(), "weights must sum to the divisor (Atkinson: 6 of 8)");
    static_assert(std::all_of(kDiffusionKernels.begin(), kDiffusionKernels.end(),
                      OnlyUnvisitedNeighbours),
        "a kernel entry points at a pixel the scan has already visited");
    static_assert(std::all_of(kDiffusionKernels.begin(), kDiffusionKernels.end(), ReachWithinBorder),
        "a kernel reaches beyond the border or the guard rows");
    static_assert(std::all_of(kDiffusionKernels.begin(), kDiffusionKernels.end(), DistinctPositions),
        "a kernel names one neighbour twice");
    static_assert(std::all_of(kDiffusionKernels.begin(), kDiffusionKernels.end(), FitsFastScan),
        "a kernel has a shape the fast scan does not handle");
    static_assert(KernelOf(DiffusionMethod::Floyd).routineName == "DitherFloyd"
            && KernelOf(DiffusionMethod::Sierra2Row).routineName == "DitherSierra2Row",
        "kDiffusionKernels must follow the order of DiffusionMethod");

    // ---- The shape of one kernel, as compile-time constants ---------------------------------

    constexpr int WeightAt(const DiffusionKernel& k, int dx, int dy)
    {
        for (int i = 0; i < k.entryCount; ++i)
            if (k.entries[size_t(i)].dx == dx && k.entries[size_t(i)].dy == dy)
                return k.entries[size_t(i)].weight;
        return 0;
    }

    // The updates one pixel makes to a row below it, as one 16-byte window starting at the
    // row's leftmost entry: lane j is channel j mod 3 of the pixel at dx = firstDx + j / 3.
    struct RowWindow {
        bool used = false;
        int firstDx = 0;
        std::array<int16_t, 16> laneWeights {};
    };

    constexpr RowWindow MakeRowWindow(const DiffusionKernel& k, int dy)
    {
        RowWindow w;
        w.firstDx = 3;
        for (int i = 0; i < k.entryCount; ++i)
            if (k.entries[size_t(i)].dy == dy) {
                w.used = true;
                w.firstDx = std::min(w.firstDx, k.entries[size_t(i)].dx);
            }
        if (!w.used)
            return RowWindow {};
        for (int lane = 0; lane < 15; ++lane)
            w.laneWeights[size_t(lane)] = int16_t(WeightAt(k, w.firstDx + lane / 3, dy));
        return w;
    }

    template <size_t I> struct Shape {
        static constexpr const DiffusionKernel& kernel = kDiffusionKernels[I];
        static constexpr int divisor = kernel.divisor;
        static constexpr int right1 = WeightAt(kernel, 1, 0);
        static constexpr int right2 = WeightAt(kernel, 2, 0);
        static constexpr RowWindow rows[3] = { RowWindow {}, MakeRowWindow(kernel, 1),
            MakeRowWindow(kernel, 2) };
    };

    inline int ClampByte(int v) { return std::min(255, std::max(0, v)); }

    // The pixel's three channel bytes with the error received so far, held in registers while
    // the scan approaches them.
    struct Channels {
        int c[3];
    };

    inline Channels LoadPixel(const uint8_t* at) { return { { at[0], at[1], at[2] } }; }
    inline void StorePixel(uint8_t* at, const Channels& v)
    {
        at[0] = uint8_t(v.c[0]);
        at[1] = uint8_t(v.c[1]);
        at[2] = uint8_t(v.c[2]);
    }

    // Adds weight·q to each channel byte of one lower row's entries, one clamped update per byte.
    template <size_t I, int Dy>
    inline void SpreadScalar(uint8_t* pixel, ptrdiff_t strideBytes, const int q[3])
    {
        constexpr const RowWindow& window = Shape<I>::rows[Dy];
        if constexpr (window.used) {
            uint8_t* row = pixel + Dy * strideBytes + 3 * window.firstDx;
            for (int lane = 0; lane < 15; ++lane) {
                const int weight = window.laneWeights[size_t(lane)];
                if (weight != 0)
                    row[lane] = uint8_t(ClampByte(row[lane] + weight * q[lane % 3]));
            }
        }
    }

#if defined(__SSE2__)
    // The same updates for one lower row as a single 16-byte read-modify-write. Lanes without a
    // kernel entry add 0 and write back the byte they read. Unsigned saturating adds and
    // subtracts clamp exactly as the one-by-one updates do: each byte gets at most one update
    // from this pixel, of either sign, and |weight·q| ≤ 255.
    template <size_t I, int Dy>
    inline void SpreadVector(uint8_t* pixel, ptrdiff_t strideBytes, __m128i qLo, __m128i qHi)
    {
        constexpr const RowWindow& window = Shape<I>::rows[Dy];
        if constexpr (window.used) {
            const __m128i wLo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&window.laneWeights[0]));
            const __m128i wHi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&window.laneWeights[8]));
            const __m128i dLo = _mm_mullo_epi16(qLo, wLo);
            const __m128i dHi = _mm_mullo_epi16(qHi, wHi);
            const __m128i zero = _mm_setzero_si128();
            const __m128i up = _mm_packus_epi16(dLo, dHi);
            const __m128i down = _mm_packus_epi16(_mm_sub_epi16(zero, dLo), _mm_sub_epi16(zero, dHi));
            auto* at = reinterpret_cast<__m128i*>(pixel + Dy * strideBytes + 3 * window.firstDx);
            const __m128i v = _mm_loadu_si128(at);
            _mm_storeu_si128(at, _mm_subs_epu8(_mm_adds_epu8(v, up), down));
        }
    }
#endif

    template <size_t I>
    void Scan(uint8_t* buffer, size_t sizeBytes, ptrdiff_t strideBytes, size_t begin, size_t end,
        const NearestColorTable& table)
    {
        using S = Shape<I>;
        constexpr int D = S::divisor;

        // Pixels before fastEnd have every lower-row window inside the buffer; the last rows of
        // the scan take the byte-by-byte path.
        ptrdiff_t fastEnd = ptrdiff_t(end);
        for (int dy = 1; dy <= 2; ++dy)
            if (S::rows[dy].used)
                fastEnd = std::min(fastEnd,
                    ptrdiff_t(sizeBytes) - 16 - dy * strideBytes - 3 * S::rows[dy].firstDx + 1);
#if !defined(__SSE2__)
        fastEnd = ptrdiff_t(begin);
#endif

        // The pixel being quantised and the one after it live in registers: both get their
        // same-row error from the pixels just before them, which is what every next step reads.
        // The pixel two ahead is read from memory when the first update reaches it. No lower-row
        // write can touch these bytes, since a row is more than 14 bytes long.
        Channels current = LoadPixel(buffer + begin);
        Channels next = LoadPixel(buffer + begin + 3);
        for (size_t p = begin; p < end; p += 3) {
            const uint32_t colour = table.Lookup(uint8_t(current.c[2]), uint8_t(current.c[1]),
                uint8_t(current.c[0]));
            const int chosen[3] = { int(colour & 0xFF), int((colour >> 8) & 0xFF),
                int((colour >> 16) & 0xFF) };
            uint8_t* pixel = buffer + p;
            pixel[0] = uint8_t(chosen[0]);
            pixel[1] = uint8_t(chosen[1]);
            pixel[2] = uint8_t(chosen[2]);
            // The error is divided once, truncating toward zero, before it is weighted.
            const int q[3] = { (current.c[0] - chosen[0]) / D, (current.c[1] - chosen[1]) / D,
                (current.c[2] - chosen[2]) / D };

            Channels afterNext;
            if constexpr (S::right2 != 0) {
                afterNext = LoadPixel(pixel + 6);
                for (int k = 0; k < 3; ++k)
                    afterNext.c[k] = ClampByte(afterNext.c[k] + S::right2 * q[k]);
            }
            if constexpr (S::right1 != 0)
                for (int k = 0; k < 3; ++k)
                    next.c[k] = ClampByte(next.c[k] + S::right1 * q[k]);

#if defined(__SSE2__)
            if (ptrdiff_t(p) < fastEnd) {
                const uint64_t packed = uint64_t(uint16_t(q[0])) | uint64_t(uint16_t(q[1])) << 16
                    | uint64_t(uint16_t(q[2])) << 32;
                const __m128i q3 = _mm_cvtsi64_si128(int64_t(packed));
                const __m128i both = _mm_unpacklo_epi64(q3, q3);
                // Lanes 0..7 read blue, green, red, blue, ...; lanes 8..15 continue the pattern.
                const __m128i qLo = _mm_shufflehi_epi16(_mm_shufflelo_epi16(both, 0x24), 0x49);
                const __m128i qHi = _mm_shufflehi_epi16(_mm_shufflelo_epi16(both, 0x92), 0x24);
                SpreadVector<I, 1>(pixel, strideBytes, qLo, qHi);
                SpreadVector<I, 2>(pixel, strideBytes, qLo, qHi);
            } else
#endif
            {
                SpreadScalar<I, 1>(pixel, strideBytes, q);
                SpreadScalar<I, 2>(pixel, strideBytes, q);
            }

            current = next;
            if constexpr (S::right2 != 0)
                next = afterNext;
            else
                next = LoadPixel(pixel + 6);
        }
        // The two pixels after the scan (in the guard rows) keep what they received.
        StorePixel(buffer + end, current);
        StorePixel(buffer + end + 3, next);
    }

    template <size_t... I>
    constexpr auto MakeScanTable(std::index_sequence<I...>)
    {
        using ScanFn = void (*)(uint8_t*, size_t, ptrdiff_t, size_t, size_t, const NearestColorTable&);
        return std::array<ScanFn, sizeof...(I)> { &Scan<I>... };
    }

    constexpr auto kScans = MakeScanTable(std::make_index_sequence<kDiffusionMethodCount>());

} // namespace

void DiffuseErrors(DiffusionMethod method, uint8_t* buffer, const BufferGeometry& geometry,
    const NearestColorTable& table)
{
    const DiffusionKernel& kernel = KernelOf(method);
    const int G = kernel.guardRows;
    assert(geometry.border == kDiffusionBorder);
    assert(geometry.W >= 8 && geometry.H >= 2 * G + 1);
    const size_t stride = geometry.StrideBytes();
    const size_t begin = stride * size_t(G);
    const size_t end = stride * size_t(geometry.H - G);
    kScans[static_cast<size_t>(method)](buffer, geometry.SizeBytes(), ptrdiff_t(stride), begin,
        end, table);
}

} // namespace pelorin
