#include "convert/working_bitmap.h"
#include "routines.h"

#include <array>
#include <bit>
#include <cassert>
#include <vector>

namespace pelorin {

namespace {

    using OrderMatrix = std::array<std::array<int, 4>, 4>; // [dy][dx]; only n × n used

    // clang-format off
    constexpr OrderMatrix kHalftone2x2Order { {
        { 1, 4 },
        { 3, 2 },
    } };

    constexpr OrderMatrix kHalftone3x3Order { {
        { 5, 1, 6 },
        { 7, 2, 9 },
        { 4, 3, 8 },
    } };

    // A clustered dot that grows from the four middle cells outward.
    constexpr OrderMatrix kNews4x4Order { {
        { 12, 4, 11, 15 },
        {  5, 0,  3, 10 },
        {  6, 1,  2,  9 },
        { 13, 7,  8, 14 },
    } };
    // clang-format on

    enum class Rule {
        StepPerOrder, // lit when sum > step · k
        HalfOrderBelowLevel, // lit when k · 0.5 < sum / 512 (whole-number quotient)
    };

    struct BlockScreen {
        int n;
        int border;
        OrderMatrix order;
        Rule rule;
        int step; // for Rule::StepPerOrder
    };

    constexpr BlockScreen kHalftone2x2 { 2, 4, kHalftone2x2Order, Rule::StepPerOrder, 204 };
    constexpr BlockScreen kHalftone3x3 { 3, 4, kHalftone3x3Order, Rule::StepPerOrder, 229 };
    constexpr BlockScreen kNews4x4 { 4, 8, kNews4x4Order, Rule::HalfOrderBelowLevel, 0 };

    // The largest block sum that leaves the cell of order k dark: the cell lights exactly when
    // the sum exceeds it. For the level rule, k · 0.5 < L holds exactly when L ≥ ⌊k/2⌋ + 1,
    // that is when the sum reaches 512 · (⌊k/2⌋ + 1).
    constexpr int DarkUpTo(const BlockScreen& screen, int k)
    {
        if (screen.rule == Rule::StepPerOrder)
            return screen.step * k;
        return 512 * (k / 2 + 1) - 1;
    }

    constexpr std::array<std::array<int, 4>, 4> DarkLimits(const BlockScreen& screen)
    {
        std::array<std::array<int, 4>, 4> limits {};
        for (int dy = 0; dy < screen.n; ++dy)
            for (int dx = 0; dx < screen.n; ++dx)
                limits[size_t(dy)][size_t(dx)]
                    = DarkUpTo(screen, screen.order[size_t(dy)][size_t(dx)]);
        return limits;
    }

    static_assert(DarkUpTo(kNews4x4, 0) == 511 && DarkUpTo(kNews4x4, 1) == 511
            && DarkUpTo(kNews4x4, 13) == 3583 && DarkUpTo(kNews4x4, 14) >= 4 * 4 * 255,
        "News 4x4 lights orders 0 and 1 at a sum of 512, 12 and 13 at 3584, never 14 and 15");

    // For each block sum, the cells (bit dy · N + dx) whose limit it lies within steady
    // dithering's band of: those keep the frame before's value of that channel.
    template <const BlockScreen& Screen> constexpr auto CellsInBand()
    {
        constexpr int N = Screen.n, band = kSteadyScreenBand * N * N;
        constexpr auto limits = DarkLimits(Screen);
        std::array<uint16_t, N * N * 255 + 1> cells {};
        for (int sum = 0; sum <= N * N * 255; ++sum)
            for (int dy = 0; dy < N; ++dy)
                for (int dx = 0; dx < N; ++dx) {
                    const int limit = limits[size_t(dy)][size_t(dx)];
                    if (sum > limit - band && sum <= limit + band)
                        cells[size_t(sum)] |= uint16_t(1u << (dy * N + dx));
                }
        return cells;
    }

    // `before`: null for the plain screen; otherwise the frame before's buffer, whose cells are
    // kept where the block's sum lies within the band around the cell's limit (hysteresis).
    template <const BlockScreen& Screen>
    void ScreenBlocks(uint8_t* buffer, const BufferGeometry& g, const uint8_t* before = nullptr)
    {
        constexpr int N = Screen.n;
        constexpr int b = Screen.border;
        static constexpr std::array<std::array<int, 4>, 4> limits = DarkLimits(Screen);
        const size_t stride = g.StrideBytes();
        // Block origins run up to and including w + b, so a width that is a multiple of N gets
        // one more column of blocks lying wholly in the right border; likewise for the height.
        for (int Y = b; Y <= g.SH + b; Y += N) {
            uint8_t* blockRow = buffer + size_t(Y) * stride;
            for (int X = b; X <= g.SW + b; X += N) {
                uint8_t* origin = blockRow + 3 * size_t(X);
                int sumBlue = 0, sumGreen = 0, sumRed = 0;
                for (int dy = 0; dy < N; ++dy) {
                    const uint8_t* row = origin + size_t(dy) * stride;
                    for (int dx = 0; dx < N; ++dx) {
                        sumBlue += row[3 * dx];
                        sumGreen += row[3 * dx + 1];
                        sumRed += row[3 * dx + 2];
                    }
                }
                for (int dy = 0; dy < N; ++dy) {
                    uint8_t* row = origin + size_t(dy) * stride;
                    for (int dx = 0; dx < N; ++dx) {
                        // limit − sum is negative exactly when the cell lights: its sign
                        // spread over the byte gives 255 or 0.
                        const int limit = limits[size_t(dy)][size_t(dx)];
                        row[3 * dx] = uint8_t((limit - sumBlue) >> 31);
                        row[3 * dx + 1] = uint8_t((limit - sumGreen) >> 31);
                        row[3 * dx + 2] = uint8_t((limit - sumRed) >> 31);
                    }
                }
                if (before) {
                    // The few cells near their limit (at most two per channel) go back to the
                    // frame before's values.
                    static constexpr auto inBand = CellsInBand<Screen>();
                    const int sums[3] = { sumBlue, sumGreen, sumRed };
                    const size_t at = size_t(origin - buffer);
                    for (int ch = 0; ch < 3; ++ch)
                        for (unsigned cells = inBand[size_t(sums[ch])]; cells != 0;
                             cells &= cells - 1) {
                            const int cell = std::countr_zero(cells);
                            const size_t i
                                = at + size_t(cell / N) * stride + size_t(3 * (cell % N) + ch);
                            buffer[i] = before[i];
                        }
                }
            }
        }
    }

    // `steady`: null for the plain screen; otherwise the frame before's buffer is read from it
    // where it continues, and this frame's is left in it.
    template <const BlockScreen& Screen>
    void RunScreen(ConversionContext& context, platform::PictureBox& destination,
        platform::PictureBox& source, SteadyHistory* steady)
    {
        // The farthest block reaches w + b + n − 1 across and h + b + n − 1 down, inside the
        // buffer of w + pad + 2·b by h + 2·b because n ≤ b.
        static_assert(Screen.n <= Screen.border);
        WorkingBitmap work(context, source, Screen.border, true);
        const BufferGeometry& g = work.Geometry();
        if (!steady) {
            ScreenBlocks<Screen>(work.Bytes(), g);
            work.DrawTo(destination);
            return;
        }
        ScreenBlocks<Screen>(
            work.Bytes(), g, steady->Continues() ? steady->Left(g.SizeBytes()) : nullptr);
        work.DrawTo(destination);
        steady->Keep(work);
    }

} // namespace

void HalftoneRoutine(ConversionContext& context, int screen, platform::PictureBox& destination,
    platform::PictureBox& source, SteadyHistory* steady)
{
    switch (screen) {
    case 0:
        return RunScreen<kHalftone2x2>(context, destination, source, steady);
    case 1:
        return RunScreen<kHalftone3x3>(context, destination, source, steady);
    case 2:
        return RunScreen<kNews4x4>(context, destination, source, steady);
    }
    assert(false && "no such block screen");
}

} // namespace pelorin
