// The fast error-diffusion scans: a row at a time, the updates from the rows above applied to
// the whole row beforehand (diffusion_rows.h), the row's pixels stepped with a quantiser per kind
// of palette (diffusion_generic_row.h), or for "Graphics 2" and "Graphics 4" with the three
// channels in one register (diffusion_binary_row.h). Each gives exactly the bytes of the plain
// reference scan (diffusion_plain.cpp).
#include "cpu_dispatch.h"
#include "diffusion_generic_row.h"
// After the row for any palette, as the scans were first written: the order the compiler meets
// them in sways its register allocation.
#include "diffusion_binary_row.h"
#include "diffusion_rows.h"
#include "error_diffusion_engine.h"

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace pelorin {

namespace {

    using namespace diffusion_rows;

    // What the scan below relies on: on the pixel's own row only the next two pixels receive
    // error, the lower rows' entries lie within dx = −2 ... 2 (one sender column each in the row
    // batch), no row lies more than 2 below, and no weight exceeds the divisor (so one update
    // moves a byte by at most 255).
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
