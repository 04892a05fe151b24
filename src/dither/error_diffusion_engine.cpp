#include "error_diffusion_engine.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstring>
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

    // What the scan below relies on: on the pixel's own row only the next two pixels receive
    // error, the lower rows' entries lie within dx = −2 ... 2 (15 bytes, one 16-byte register),
    // no row lies more than 2 below, and no weight exceeds the divisor (so one update moves a
    // byte by at most 255).
    constexpr bool FitsFastScan(const DiffusionKernel& k)
    {
        for (int i = 0; i < k.entryCount; ++i) {
            const KernelEntry& e = k.entries[size_t(i)];
            if (e.dy > 2 || (e.dy == 0 && e.dx > 2) || e.dx < -2 || e.dx > 2)
                return false;
            if (e.weight <= 0 || e.weight > k.divisor)
                return false;
            // weight·q must fit a signed byte: |q| ≤ 255 / divisor.
            if (e.weight * (255 / k.divisor) > 127)
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
    static_assert(
        std::all_of(kDiffusionKernels.begin(), kDiffusionKernels.end(), OnlyUnvisitedNeighbours),
        "a kernel entry points at a pixel the scan has already visited");
    static_assert(
        std::all_of(kDiffusionKernels.begin(), kDiffusionKernels.end(), ReachWithinBorder),
        "a kernel reaches beyond the border or the guard rows");
    static_assert(
        std::all_of(kDiffusionKernels.begin(), kDiffusionKernels.end(), DistinctPositions),
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

    // The updates one pixel makes to one row below it, over the five pixels dx = −2 ... 2 of
    // that row: lane j is channel j mod 3 of the pixel at dx = −2 + j / 3 (lane 15 unused).
    constexpr int kWindowFirstDx = -2;
    struct RowWindow {
        bool used = false;
        std::array<int16_t, 16> laneWeights {};
    };

    constexpr RowWindow MakeRowWindow(const DiffusionKernel& k, int dy)
    {
        RowWindow w;
        for (int lane = 0; lane < 15; ++lane) {
            w.laneWeights[size_t(lane)] = int16_t(WeightAt(k, kWindowFirstDx + lane / 3, dy));
            w.used = w.used || w.laneWeights[size_t(lane)] != 0;
        }
        return w;
    }

    template <size_t I> struct Shape {
        static constexpr const DiffusionKernel& kernel = kDiffusionKernels[I];
        static constexpr int divisor = kernel.divisor;
        static constexpr int right1 = WeightAt(kernel, 1, 0);
        static constexpr int right2 = WeightAt(kernel, 2, 0);
        static constexpr RowWindow rows[3]
            = { RowWindow {}, MakeRowWindow(kernel, 1), MakeRowWindow(kernel, 2) };
        static constexpr int lowestRow = rows[2].used ? 2 : 1;
    };

    // v clamped to 0 ... 255. Whether a byte saturates follows the picture, not a pattern a
    // branch predictor could learn, so the two limits are selected, never branched to.
    inline int ClampByte(int v)
    {
#if defined(__GNUC__) && defined(__x86_64__)
        int zero = 0, top = 255;
        __asm__("cmpl %[zero], %[v]\n\tcmovl %[zero], %[v]\n\tcmpl %[top], %[v]\n\tcmovg %[top], %[v]"
                : [v] "+r"(v)
                : [zero] "r"(zero), [top] "r"(top)
                : "cc");
        return v;
#else
        return std::min(255, std::max(0, v));
#endif
    }

    // Adds weight·q to each channel byte of one lower row's entries, one clamped update per byte,
    // straight in memory.
    template <size_t I, int Dy>
    inline void SpreadInMemory(
        uint8_t* pixel, ptrdiff_t strideBytes, int qBlue, int qGreen, int qRed)
    {
        constexpr const RowWindow& window = Shape<I>::rows[Dy];
        if constexpr (window.used) {
            uint8_t* row = pixel + Dy * strideBytes + 3 * kWindowFirstDx;
            const int q[3] = { qBlue, qGreen, qRed };
            for (int lane = 0; lane < 15; ++lane) {
                const int weight = window.laneWeights[size_t(lane)];
                if (weight != 0)
                    row[lane] = uint8_t(ClampByte(row[lane] + weight * q[lane % 3]));
            }
        }
    }

#if defined(__GNUC__)
#define PELORIN_INLINE inline __attribute__((always_inline))
#else
#define PELORIN_INLINE inline
#endif

    // One pixel's step, given its bytes with the error received so far: stores the chosen colour
    // at `pixel` and gives back q per channel and right1·q per channel (what the next pixel
    // receives).
    struct Quotients {
        int qBlue, qGreen, qRed;
        int rBlue, rGreen, rRed;
    };

    // Any palette: the nearest-colour table, then q = (old − new) / D.
    template <int D, int Right1> struct TableQuantiser {
        const NearestColorTable& table;

        PELORIN_INLINE Quotients operator()(uint8_t* pixel, int blue, int green, int red) const
        {
            const uint32_t colour = table.Lookup(uint8_t(red), uint8_t(green), uint8_t(blue));
            const int newBlue = int(colour & 0xFF);
            const int newGreen = int((colour >> 8) & 0xFF);
            const int newRed = int(colour >> 16);
            pixel[0] = uint8_t(newBlue);
            pixel[1] = uint8_t(newGreen);
            pixel[2] = uint8_t(newRed);
            // The error is divided once, truncating toward zero, before it is weighted.
            Quotients q;
            q.qBlue = (blue - newBlue) / D;
            q.qGreen = (green - newGreen) / D;
            q.qRed = (red - newRed) / D;
            q.rBlue = Right1 * q.qBlue;
            q.rGreen = Right1 * q.qGreen;
            q.rRed = Right1 * q.qRed;
            return q;
        }
    };

    // Two entries: entry 1 is nearer exactly where the plane's linear form exceeds the threshold
    // (on the plane itself entry 0, the lower index, wins), as NearestColorTable decides. The
    // quotients for both entries are read from per-channel tables while the side is being worked
    // out, so that the choice is the only step between one pixel and the next.
    template <int D, int Right1> struct PlaneQuantiser {
        int planeBlue = 0, planeGreen = 0, planeRed = 0;
        int threshold = 0;
        uint32_t colour0 = 0, colour1 = 0;
        // Per channel and value, for entry 0 and entry 1: (Right1·q) << 16 | (q & 0xFFFF).
        struct Pair {
            int32_t e0, e1;
        };
        Pair blues[256], greens[256], reds[256];

        explicit PlaneQuantiser(const NearestColorTable& table)
        {
            const PaletteEntry& e0 = table.Entries()[0];
            const PaletteEntry& e1 = table.Entries()[1];
            // d1 < d0 ⟺ 2·(e1 − e0)·c > |e1|² − |e0|²
            planeBlue = 2 * (int(e1.Blue) - int(e0.Blue));
            planeGreen = 2 * (int(e1.Green) - int(e0.Green));
            planeRed = 2 * (int(e1.Red) - int(e0.Red));
            threshold = int(e1.Blue) * e1.Blue + int(e1.Green) * e1.Green + int(e1.Red) * e1.Red
                - int(e0.Blue) * e0.Blue - int(e0.Green) * e0.Green - int(e0.Red) * e0.Red;
            colour0 = PackEntry(e0);
            colour1 = PackEntry(e1);
            auto fill = [](Pair* pairs, int c0, int c1) {
                for (int v = 0; v < 256; ++v) {
                    pairs[v].e0 = Pack((v - c0) / D);
                    pairs[v].e1 = Pack((v - c1) / D);
                }
            };
            fill(blues, e0.Blue, e1.Blue);
            fill(greens, e0.Green, e1.Green);
            fill(reds, e0.Red, e1.Red);
        }
        static int32_t Pack(int q) { return int32_t(uint32_t(Right1 * q) << 16 | uint32_t(q & 0xFFFF)); }

        PELORIN_INLINE Quotients operator()(uint8_t* pixel, int blue, int green, int red) const
        {
            const Pair b = blues[blue], g = greens[green], r = reds[red];
            const int side = planeBlue * blue + planeGreen * green + planeRed * red;
            const int32_t one = -int32_t(side > threshold); // all ones for entry 1
            const uint32_t colour = colour0 ^ ((colour0 ^ colour1) & uint32_t(one));
            pixel[0] = uint8_t(colour);
            pixel[1] = uint8_t(colour >> 8);
            pixel[2] = uint8_t(colour >> 16);
            const int32_t pb = b.e0 ^ ((b.e0 ^ b.e1) & one);
            const int32_t pg = g.e0 ^ ((g.e0 ^ g.e1) & one);
            const int32_t pr = r.e0 ^ ((r.e0 ^ r.e1) & one);
            return { int16_t(pb), int16_t(pg), int16_t(pr), pb >> 16, pg >> 16, pr >> 16 };
        }
    };

#if defined(__SSE2__)
    // The bytes of one lower row that the current pixel's entries reach — 5 pixels, 15 bytes —
    // held in a register that slides along the flat buffer with the scan. A byte is read from
    // memory when it enters at the right, takes every update while inside (each lower-row byte
    // is reached only from the five pixels above it), and is written back when it leaves at the
    // left. Updating memory in place instead would make each pixel re-read bytes the previous
    // pixel had just written, a partial overlap the store buffer cannot forward.
    //
    // Inside the register each byte is held as a signed value, byte − 128, so that one signed
    // saturating add applies weight·q and clamps to 0 ... 255 in a single step, exactly as the
    // one-by-one clamped updates do: each byte gets at most one update from this pixel, and
    // |weight·q| ≤ 126 fits a signed byte (checked by FitsFastScan).
    template <size_t I, int Dy> struct SlidingRow {
        static constexpr const RowWindow& window = Shape<I>::rows[Dy];
        __m128i bytes = _mm_setzero_si128();

        static uint8_t* Base(uint8_t* pixel, ptrdiff_t strideBytes)
        {
            return pixel + Dy * strideBytes + 3 * kWindowFirstDx;
        }
        static __m128i Bias() { return _mm_set1_epi8(char(0x80)); }

        void Load(uint8_t* pixel, ptrdiff_t strideBytes)
        {
            // Lane 15 lies beyond the window; it is kept at 0 so that it shifts in as 0.
            const __m128i lanes0to14 = _mm_srli_si128(_mm_set1_epi32(-1), 1);
            const __m128i memory
                = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Base(pixel, strideBytes)));
            bytes = _mm_and_si128(_mm_xor_si128(memory, Bias()), lanes0to14);
        }
        void Flush(uint8_t* pixel, ptrdiff_t strideBytes) const
        {
            alignas(16) uint8_t lanes[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_xor_si128(bytes, Bias()));
            std::memcpy(Base(pixel, strideBytes), lanes, 15);
        }
        // Applies this pixel's updates, writes back the pixel leaving at the left and takes in
        // the one entering at the right (the next pixel's dx = 2).
        void Step(uint8_t* pixel, ptrdiff_t strideBytes, __m128i qLo, __m128i qHi)
        {
            const __m128i wLo
                = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&window.laneWeights[0]));
            const __m128i wHi
                = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&window.laneWeights[8]));
            const __m128i delta
                = _mm_packs_epi16(_mm_mullo_epi16(qLo, wLo), _mm_mullo_epi16(qHi, wHi));
            bytes = _mm_adds_epi8(bytes, delta);

            uint8_t* base = Base(pixel, strideBytes);
            // Four bytes go out: the leaving pixel and the first byte of the one after it, whose
            // value in the register is current, and which goes out again at the next step.
            const int32_t leaving = _mm_cvtsi128_si32(bytes) ^ int32_t(0x80808080);
            std::memcpy(base, &leaving, 4);
            uint32_t entering;
            std::memcpy(&entering, base + 15, 4);
            entering = (entering & 0xFFFFFF) ^ 0x808080;
            bytes = _mm_or_si128(
                _mm_srli_si128(bytes, 3), _mm_slli_si128(_mm_cvtsi32_si128(int32_t(entering)), 12));
        }
    };
#endif

    template <size_t I, class Quantiser>
    void Scan(uint8_t* buffer, size_t sizeBytes, ptrdiff_t strideBytes, size_t begin, size_t end,
        const Quantiser& quantise)
    {
        using S = Shape<I>;

        // The pixel being quantised and the one after it live in registers: both get their
        // same-row error from the pixels just before them, which is what every next step reads.
        // The pixel two ahead is read from memory when the first update reaches it. No lower-row
        // write can touch these bytes, since a row is more than 14 bytes long.
        int blue = buffer[begin], green = buffer[begin + 1], red = buffer[begin + 2];
        int nextBlue = buffer[begin + 3], nextGreen = buffer[begin + 4],
            nextRed = buffer[begin + 5];
        int qBlue, qGreen, qRed;

        // Pixels whose sliding rows stay inside the buffer, including the four bytes read at the
        // right edge of the lowest one. The last rows of the scan update memory directly.
        ptrdiff_t fastEnd = std::min(ptrdiff_t(end),
            ptrdiff_t(sizeBytes) - S::lowestRow * strideBytes - 3 * kWindowFirstDx - 19);
#if defined(__SSE2__)
        SlidingRow<I, 1> row1;
        SlidingRow<I, 2> row2;
        if (ptrdiff_t(begin) < fastEnd) {
            if constexpr (S::rows[1].used)
                row1.Load(buffer + begin, strideBytes);
            if constexpr (S::rows[2].used)
                row2.Load(buffer + begin, strideBytes);
        }
#else
        fastEnd = ptrdiff_t(begin);
#endif

        for (size_t p = begin; p < end; p += 3) {
            uint8_t* pixel = buffer + p;
            const Quotients choice = quantise(pixel, blue, green, red);
            qBlue = choice.qBlue;
            qGreen = choice.qGreen;
            qRed = choice.qRed;
#if defined(__SSE2__)
            if (ptrdiff_t(p) < fastEnd) {
                // q as 16-bit lanes in the rows' channel order: blue, green, red, blue, ...
                const __m128i q3 = _mm_insert_epi16(
                    _mm_insert_epi16(_mm_cvtsi32_si128(qBlue), qGreen, 1), qRed, 2);
                const __m128i both = _mm_unpacklo_epi64(q3, q3);
                const __m128i qLo = _mm_shufflehi_epi16(_mm_shufflelo_epi16(both, 0x24), 0x49);
                const __m128i qHi = _mm_shufflehi_epi16(_mm_shufflelo_epi16(both, 0x92), 0x24);
                if constexpr (S::rows[1].used)
                    row1.Step(pixel, strideBytes, qLo, qHi);
                if constexpr (S::rows[2].used)
                    row2.Step(pixel, strideBytes, qLo, qHi);
                if (ptrdiff_t(p) + 3 >= fastEnd) {
                    if constexpr (S::rows[1].used)
                        row1.Flush(pixel + 3, strideBytes);
                    if constexpr (S::rows[2].used)
                        row2.Flush(pixel + 3, strideBytes);
                }
            } else
#endif
            {
                SpreadInMemory<I, 1>(pixel, strideBytes, qBlue, qGreen, qRed);
                SpreadInMemory<I, 2>(pixel, strideBytes, qBlue, qGreen, qRed);
            }

            // Same-row updates; then (blue, green, red) is the next pixel.
            int afterBlue = pixel[6], afterGreen = pixel[7], afterRed = pixel[8];
            if constexpr (S::right2 != 0) {
                afterBlue = ClampByte(afterBlue + S::right2 * qBlue);
                afterGreen = ClampByte(afterGreen + S::right2 * qGreen);
                afterRed = ClampByte(afterRed + S::right2 * qRed);
            }
            blue = ClampByte(nextBlue + choice.rBlue);
            green = ClampByte(nextGreen + choice.rGreen);
            red = ClampByte(nextRed + choice.rRed);
            nextBlue = afterBlue;
            nextGreen = afterGreen;
            nextRed = afterRed;
        }
        // The two pixels after the scan (in the guard rows) keep what they received.
        buffer[end] = uint8_t(blue);
        buffer[end + 1] = uint8_t(green);
        buffer[end + 2] = uint8_t(red);
        buffer[end + 3] = uint8_t(nextBlue);
        buffer[end + 4] = uint8_t(nextGreen);
        buffer[end + 5] = uint8_t(nextRed);
    }

    // Runs kernel I's scan with the quantiser that fits the palette.
    template <size_t I>
    void ScanWithPalette(uint8_t* buffer, size_t sizeBytes, ptrdiff_t strideBytes, size_t begin,
        size_t end, const NearestColorTable& table)
    {
        using S = Shape<I>;
        if (table.Entries().size() == 2) {
            const PlaneQuantiser<S::divisor, S::right1> quantiser(table);
            Scan<I>(buffer, sizeBytes, strideBytes, begin, end, quantiser);
        } else {
            const TableQuantiser<S::divisor, S::right1> quantiser { table };
            Scan<I>(buffer, sizeBytes, strideBytes, begin, end, quantiser);
        }
    }

    template <size_t... I> constexpr auto MakeScanTable(std::index_sequence<I...>)
    {
        using ScanFn
            = void (*)(uint8_t*, size_t, ptrdiff_t, size_t, size_t, const NearestColorTable&);
        return std::array<ScanFn, sizeof...(I)> { &ScanWithPalette<I>... };
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
    kScans[static_cast<size_t>(method)](
        buffer, geometry.SizeBytes(), ptrdiff_t(stride), begin, end, table);
}

} // namespace pelorin
