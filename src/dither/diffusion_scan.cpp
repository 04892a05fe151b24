// The fast error-diffusion scans: a row at a time, the updates from the rows above applied to
// the whole row beforehand (diffusion_rows.h), with a quantiser per kind of palette; and for
// "Graphics 2" and "Graphics 4" a scan with the three channels in one register. Each gives
// exactly the bytes of the plain reference scan (diffusion_plain.cpp).
#include "cpu_dispatch.h"
#include "diffusion_rows.h"
#include "error_diffusion_engine.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pelorin {

namespace {

    using namespace diffusion_rows;


    // What the scan below relies on: on the pixel's own row only the next two pixels receive
    // error, the lower rows' entries lie within dx = −2 ... 2 (one sender column each in the row
    // batch),
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

    static_assert(std::all_of(kDiffusionKernels.begin(), kDiffusionKernels.end(), FitsFastScan),
        "a kernel has a shape the fast scan does not handle");

    // One pixel's step, given its bytes with the error received so far: stores the chosen colour
    // at `pixel` and gives back q per channel and right1·q per channel (what the next pixel
    // receives).
    struct Quotients {
        int qBlue, qGreen, qRed;
        int rBlue, rGreen, rRed;
    };

    // Stores the chosen colour at `pixel` and gives back the quotients of the error made.
    template <int D, int Right1>
    PELORIN_INLINE Quotients Settle(
        uint8_t* pixel, int blue, int green, int red, int newBlue, int newGreen, int newRed)
    {
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

    // Any palette: the nearest-colour table, then q = (old − new) / D.
    template <int D, int Right1> struct TableQuantiser {
        const NearestColorTable& table;

        PELORIN_INLINE Quotients operator()(uint8_t* pixel, int blue, int green, int red) const
        {
            const uint32_t colour = table.Lookup(uint8_t(red), uint8_t(green), uint8_t(blue));
            const int newBlue = int(colour & 0xFF);
            const int newGreen = int((colour >> 8) & 0xFF);
            const int newRed = int(colour >> 16);
            return Settle<D, Right1>(pixel, blue, green, red, newBlue, newGreen, newRed);
        }
    };

    // All ones where the plane puts entry 1 nearer.
    PELORIN_INLINE int32_t EntryOne(const TwoEntryPlane& plane, int blue, int green, int red)
    {
        return -int32_t(plane.EntryOne(red, green, blue));
    }

    // Two entries: entry 1 is nearer exactly where the plane's linear form exceeds the threshold
    // (on the plane itself entry 0, the lower index, wins), as NearestColorTable decides. The
    // quotients for both entries are read from per-channel tables while the side is being worked
    // out, so that the choice is the only step between one pixel and the next.
    template <int D, int Right1> struct PlaneQuantiser {
        TwoEntryPlane plane;
        // Per channel and value, for entry 0 and entry 1: (Right1·q) << 16 | (q & 0xFFFF).
        struct Pair {
            int32_t e0, e1;
        };
        Pair blues[256], greens[256], reds[256];

        explicit PlaneQuantiser(const NearestColorTable& table)
            : plane(table.Plane())
        {
            const PaletteEntry& e0 = table.Entries()[0];
            const PaletteEntry& e1 = table.Entries()[1];
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
        static int32_t Pack(int q)
        {
            return int32_t(uint32_t(Right1 * q) << 16 | uint32_t(q & 0xFFFF));
        }

        PELORIN_INLINE Quotients operator()(uint8_t* pixel, int blue, int green, int red) const
        {
            const Pair b = blues[blue], g = greens[green], r = reds[red];
            const int32_t one = EntryOne(plane, blue, green, red);
            const uint32_t colour
                = plane.colour0 ^ ((plane.colour0 ^ plane.colour1) & uint32_t(one));
            pixel[0] = uint8_t(colour);
            pixel[1] = uint8_t(colour >> 8);
            pixel[2] = uint8_t(colour >> 16);
            const int32_t pb = b.e0 ^ ((b.e0 ^ b.e1) & one);
            const int32_t pg = g.e0 ^ ((g.e0 ^ g.e1) & one);
            const int32_t pr = r.e0 ^ ((r.e0 ^ r.e1) & one);
            return { int16_t(pb), int16_t(pg), int16_t(pr), pb >> 16, pg >> 16, pr >> 16 };
        }
    };

    // Whether any of the three bytes of the pixel at buffer byte `at` moved (MarkMovedBits).
    PELORIN_INLINE bool MovedAt(const uint8_t* bits, size_t at)
    {
        uint32_t word;
        std::memcpy(&word, bits + at / 8, 4);
        return ((word >> (at % 8)) & 7) != 0;
    }

    // Steady dithering's choice on any palette: the nearest colour n, or the colour p the frame
    // before left at this pixel where c lies at most the pixel's tolerance further from p than
    // from n (SteadyTolerance).
    //
    // |c − p|² − |c − n|² never exceeds |c − p|², so where c lies within the tolerance of p
    // itself, p is kept whatever n is, and the nearest colour need not be looked up at all: on a
    // still picture that is most pixels, and the lookup is the scan's slowest step.
    template <int D, int Right1, bool TwoEntries> struct SteadyQuantiser {
        const NearestColorTable& table;
        const uint8_t* buffer;
        SteadyPrevious previous;
        SteadyTolerance tolerance;
        TwoEntryPlane plane;

        SteadyQuantiser(const NearestColorTable& t, const uint8_t* b, const SteadyPrevious& p,
            SteadyTolerance tol)
            : table(t)
            , buffer(b)
            , previous(p)
            , tolerance(tol)
        {
            if constexpr (TwoEntries)
                plane = table.Plane();
        }

        PELORIN_INLINE Quotients operator()(uint8_t* pixel, int blue, int green, int red) const
        {
            const size_t at = size_t(pixel - buffer);
            // The previous colour as packed as n (blue lowest); the border leaves a fourth byte.
            uint32_t p;
            std::memcpy(&p, previous.result + at, 4);
            p &= 0xFFFFFFu;
            int bonus = tolerance.still;
            if (previous.moved && MovedAt(previous.moved, at))
                bonus = tolerance.moved;
            const int pb = int(p & 0xFF), pg = int((p >> 8) & 0xFF), pr = int(p >> 16);
            const int dp
                = (blue - pb) * (blue - pb) + (green - pg) * (green - pg) + (red - pr) * (red - pr);
            if (dp < 255 * bonus)
                return Settle<D, Right1>(pixel, blue, green, red, pb, pg, pr);
            uint32_t n;
            if constexpr (TwoEntries)
                n = EntryOne(plane, blue, green, red) ? plane.colour1 : plane.colour0;
            else
                n = table.Lookup(uint8_t(red), uint8_t(green), uint8_t(blue));
            const int nb = int(n & 0xFF), ng = int((n >> 8) & 0xFF), nr = int(n >> 16);
            const int dn
                = (blue - nb) * (blue - nb) + (green - ng) * (green - ng) + (red - nr) * (red - nr);
            if (dp - dn < 255 * bonus)
                return Settle<D, Right1>(pixel, blue, green, red, pb, pg, pr);
            return Settle<D, Right1>(pixel, blue, green, red, nb, ng, nr);
        }
    };

    // ---- The scan, a row at a time ----------------------------------------------------------
    //
    // Scanned rows are buffer rows, so a row's pixels receive error in this order: from the
    // pixels two rows up (dy = 2), then from the row just above (dy = 1), then from the two pixels
    // before them on their own row (dy = 0) — the order in which the senders are scanned. Only
    // the dy = 0 updates depend on the pixel just quantised, so the others are applied to a whole
    // row at once, just before that row is scanned, from the quotients the rows above left in a
    // flat array (q per buffer byte, zero for rows not scanned). Each addition is still clamped
    // one by one, in sender order, so the bytes are exactly those of visiting pixel after pixel.
    //
    // Two kinds of update do not fit that picture, both because the buffer is flat: the first
    // two pixels of a row reach with dx < 0, dy = 1 to the last two pixels of their own row
    // (those are applied in memory while the row is scanned, after the row's batch and before
    // the scan gets there, which is their place in the order), and the last two pixels of a row
    // reach with dx > 0, dy = 0 to the first two of the next row (those are held back until the
    // next row's batch has been applied).

    // Working storage for one scan: q for each buffer byte, with a margin either side so that
    // the reads of senders before the first row and the wide writes past the last pixel stay
    // inside. Kept per thread: every frame needs the same size.
    constexpr size_t kQuotientMargin = 16;
    thread_local std::vector<int16_t> t_quotients;

    // The quotient store for a scan of `sizeBytes`, rows above the scan (before `begin`) sending
    // nothing.
    inline int16_t* QuotientStore(size_t sizeBytes, size_t begin)
    {
        std::vector<int16_t>& store = t_quotients;
        if (store.size() < sizeBytes + 2 * kQuotientMargin)
            store.assign(sizeBytes + 2 * kQuotientMargin, 0);
        int16_t* const quotients = store.data() + kQuotientMargin;
        std::fill(quotients - kQuotientMargin, quotients + begin, int16_t(0));
        return quotients;
    }

    // A row's start: its own quotients cleared where its batch reads them, then the updates from
    // the rows above. The batch reads the row's own quotients only at its first two pixels (the
    // senders reaching back over the row start onto its last two), which it must see as zero;
    // the scan writes all of them before any later row reads them. Rows below the scan
    // (`scanned` false) are never written and send nothing.
    template <size_t I>
    PELORIN_INLINE void StartRow(
        uint8_t* row, int16_t* rowQuotients, size_t stride, bool scanned, bool wide)
    {
        if (scanned)
            std::fill(rowQuotients, rowQuotients + 6, int16_t(0));
        else
            std::fill(rowQuotients, rowQuotients + stride + kQuotientMargin, int16_t(0));
        ApplyRowsAbove<I>(row, rowQuotients, stride, wide);
    }

    // The scan of kernel I, a row at a time, with `Row` doing the pixels: Row(choice) holds
    // what stays in registers along a row; Start(row, rowQuotients, first, second) takes the
    // row's first two pixels' channel values with the updates held back for them; Step(x,
    // after) settles pixel x, stores its q in rowQuotients and passes right1·q (and, with
    // `after`, right2·q) on. Everything at a row's edges, where the flat buffer wraps, is here,
    // once for every kind of row.
    template <size_t I, class Row, class Choice>
    void ScanRows(uint8_t* buffer, size_t sizeBytes, ptrdiff_t strideBytes, size_t begin,
        size_t end, bool wide, const Choice& choice, const std::atomic<bool>* stop)
    {
        using S = Shape<I>;
        constexpr const DiffusionKernel& kernel = S::kernel;
        constexpr int right1 = S::right1, right2 = S::right2;
        // The first two pixels' reach back over the row's start onto its last two pixels.
        constexpr int wrapFirstToLast = WeightAt(kernel, -1, 1);
        constexpr int wrapFirstToSecondLast = WeightAt(kernel, -2, 1);
        constexpr int wrapSecondToLast = WeightAt(kernel, -2, 1);

        const size_t stride = size_t(strideBytes);
        const size_t rows = sizeBytes / stride;
        const size_t width = stride / 3;
        const size_t firstRow = begin / stride, endRow = end / stride;

        int16_t* const quotients = QuotientStore(sizeBytes, begin);
        Row pixels(choice);

        // What the last two pixels of the row before sent to the first two of this one, per
        // channel: the second-last pixel's right2·q and the last pixel's right1·q to pixel 0,
        // the last pixel's right2·q to pixel 1.
        int held[3][3] = {};

        for (size_t y = firstRow; y < rows; ++y) {
            if (stop && stop->load(std::memory_order_relaxed))
                throw ConversionStopped();
            uint8_t* const row = buffer + y * stride;
            int16_t* const rowQuotients = quotients + y * stride;
            StartRow<I>(row, rowQuotients, stride, y < endRow, wide);

            // The held-back same-row updates, in their order.
            int first[3], second[3];
            for (int c = 0; c < 3; ++c) {
                first[c] = ClampByte(ClampByte(row[c] + held[c][0]) + held[c][1]);
                second[c] = ClampByte(row[3 + c] + held[c][2]);
            }
            if (y >= endRow) {
                // The first row below the scan keeps what it received; nothing further is
                // scanned.
                for (int c = 0; c < 3; ++c) {
                    row[c] = uint8_t(first[c]);
                    row[3 + c] = uint8_t(second[c]);
                    held[c][0] = held[c][1] = held[c][2] = 0;
                }
                continue;
            }

            // The first two pixels' updates to the row's last two, from the q they stored.
            auto wrap = [&](size_t target, int weight, size_t sender) {
                if (weight == 0)
                    return;
                uint8_t* p = row + 3 * target;
                const int16_t* q = rowQuotients + 3 * sender;
                p[0] = uint8_t(ClampByte(p[0] + weight * q[0]));
                p[1] = uint8_t(ClampByte(p[1] + weight * q[1]));
                p[2] = uint8_t(ClampByte(p[2] + weight * q[2]));
            };

            pixels.Start(row, rowQuotients, first, second);
            pixels.Step(0, true);
            wrap(width - 1, wrapFirstToLast, 0);
            wrap(width - 2, wrapFirstToSecondLast, 0);
            pixels.Step(1, true);
            wrap(width - 1, wrapSecondToLast, 1);
            for (size_t x = 2; x + 2 < width; ++x)
                pixels.Step(x, true);
            pixels.Step(width - 2, false);
            pixels.Step(width - 1, false);
            // The last two pixels' same-row updates, held back for the next row's first two.
            const int16_t* qs = rowQuotients + 3 * (width - 2);
            for (int c = 0; c < 3; ++c) {
                held[c][0] = right2 * qs[c];
                held[c][1] = right1 * qs[3 + c];
                held[c][2] = right2 * qs[3 + c];
            }
        }
    }

    // The pixels of a row for any palette, one channel per register, the colour chosen by
    // `Quantiser`.
    template <size_t I, class Quantiser> struct GenericRow {
        static constexpr int right2 = Shape<I>::right2;
        const Quantiser& quantise;
        uint8_t* row = nullptr;
        int16_t* rowQuotients = nullptr;
        int blue = 0, green = 0, red = 0, nextBlue = 0, nextGreen = 0, nextRed = 0;

        explicit GenericRow(const Quantiser& q)
            : quantise(q)
        {
        }

        PELORIN_INLINE void Start(
            uint8_t* rowBytes, int16_t* quotients, const int* first, const int* second)
        {
            row = rowBytes;
            rowQuotients = quotients;
            blue = first[0];
            green = first[1];
            red = first[2];
            nextBlue = second[0];
            nextGreen = second[1];
            nextRed = second[2];
        }

        // One pixel: quantise it, keep its q for the rows below, and pass right1·q on to the
        // next pixel and right2·q to the one after it, read from memory (`after` false at the
        // row's last two pixels, whose updates are held back).
        PELORIN_INLINE void Step(size_t x, bool after)
        {
            uint8_t* pixel = row + 3 * x;
            const Quotients q = quantise(pixel, blue, green, red);
            int16_t* out = rowQuotients + 3 * x;
            out[0] = int16_t(q.qBlue);
            out[1] = int16_t(q.qGreen);
            out[2] = int16_t(q.qRed);
            blue = ClampByte(nextBlue + q.rBlue);
            green = ClampByte(nextGreen + q.rGreen);
            red = ClampByte(nextRed + q.rRed);
            if (after) {
                if constexpr (right2 != 0) {
                    nextBlue = ClampByte(pixel[6] + right2 * q.qBlue);
                    nextGreen = ClampByte(pixel[7] + right2 * q.qGreen);
                    nextRed = ClampByte(pixel[8] + right2 * q.qRed);
                } else {
                    nextBlue = pixel[6];
                    nextGreen = pixel[7];
                    nextRed = pixel[8];
                }
            }
        }
    };

#if defined(__SSE2__)
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
#endif

    // Runs kernel I's scan with the quantiser that fits the palette; with `previous`, with
    // steady dithering's choice.
    template <size_t I>
    void ScanWithPalette(uint8_t* buffer, size_t sizeBytes, ptrdiff_t strideBytes, size_t begin,
        size_t end, bool wide, const NearestColorTable& table, const SteadyPrevious* previous,
        SteadyTolerance tolerance, const std::atomic<bool>* stop)
    {
        using S = Shape<I>;
#if defined(__SSE2__)
        const auto& entries = table.Entries();
        auto is = [&](const auto& palette) {
            return std::equal(entries.begin(), entries.end(), palette.begin(), palette.end(),
                [](const PaletteEntry& a, const PaletteEntry& b) {
                    return PackEntry(a) == PackEntry(b);
                });
        };
        auto binary = [&]<BinaryPalette P>() {
            if (previous)
                ScanRows<I, BinaryRow<I, P, SteadyRising<P>>>(buffer, sizeBytes, strideBytes,
                    begin, end, wide, SteadyRising<P>(buffer, *previous, tolerance), stop);
            else
                ScanRows<I, BinaryRow<I, P, NearestRising<P>>>(
                    buffer, sizeBytes, strideBytes, begin, end, wide, NearestRising<P> {}, stop);
        };
        if (is(kTvcPalette2))
            return binary.template operator()<BinaryPalette::BlackWhite>();
        if (is(kTvcPalette4))
            return binary.template operator()<BinaryPalette::Tvc4>();
#endif
        const auto generic = [&](const auto& quantiser) {
            using Quantiser = std::remove_cvref_t<decltype(quantiser)>;
            ScanRows<I, GenericRow<I, Quantiser>>(
                buffer, sizeBytes, strideBytes, begin, end, wide, quantiser, stop);
        };
        const bool two = table.Entries().size() == 2;
        if (previous && two)
            generic(SteadyQuantiser<S::divisor, S::right1, true>(table, buffer, *previous, tolerance));
        else if (previous)
            generic(
                SteadyQuantiser<S::divisor, S::right1, false>(table, buffer, *previous, tolerance));
        else if (two)
            generic(PlaneQuantiser<S::divisor, S::right1>(table));
        else
            generic(TableQuantiser<S::divisor, S::right1> { table });
    }

    template <size_t... I> constexpr auto MakeScanTable(std::index_sequence<I...>)
    {
        using ScanFn = void (*)(uint8_t*, size_t, ptrdiff_t, size_t, size_t, bool,
            const NearestColorTable&, const SteadyPrevious*, SteadyTolerance,
            const std::atomic<bool>*);
        return std::array<ScanFn, sizeof...(I)> { &ScanWithPalette<I>... };
    }

    constexpr auto kScans = MakeScanTable(std::make_index_sequence<kDiffusionMethodCount>());

} // namespace

void DiffuseErrors(DiffusionMethod method, uint8_t* buffer, const BufferGeometry& geometry,
    const NearestColorTable& table, const SteadyPrevious* previous, SteadyTolerance tolerance,
    const std::atomic<bool>* stop)
{
    const CpuPath path = ActiveCpuPath();
    if (path == CpuPath::Plain)
        return PlainDiffuseErrors(method, buffer, geometry, table, previous, tolerance, stop);
    const int G = KernelOf(method).guardRows;
    assert(geometry.border == kDiffusionBorder);
    assert(geometry.W >= 8 && geometry.H >= 2 * G + 1);
    const size_t stride = geometry.StrideBytes();
    kScans[static_cast<size_t>(method)](buffer, geometry.SizeBytes(), ptrdiff_t(stride),
        stride * size_t(G), stride * size_t(geometry.H - G), path >= CpuPath::Avx2, table,
        previous, tolerance, stop);
}

} // namespace pelorin
