#include "halftone.h"

#include <gtest/gtest.h>

#include <vector>

using namespace pelorin;
using namespace platform;

namespace {

using Routine = void (*)(PictureBox&, PictureBox&);

struct Screen {
    const char* name;
    Routine routine;
    int n;
};
const Screen kScreens[] = { { "Halftone 2x2", DitherHalftone2x2, 2 },
    { "Halftone 3x3", DitherHalftone3x3, 3 }, { "News 4x4", DitherNews4x4, 4 } };

// A grey picture given row by row; returns the blue byte of each output pixel, row by row.
std::vector<std::vector<int>> Screened(Routine routine, const std::vector<std::vector<int>>& rows)
{
    const int h = int(rows.size()), w = int(rows[0].size());
    PictureBox box(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const auto v = uint8_t(rows[size_t(y)][size_t(x)]);
            box.Image().At(x, y) = Rgb(v, v, v);
        }
    routine(box, box);
    std::vector<std::vector<int>> out(
        static_cast<size_t>(h), std::vector<int>(static_cast<size_t>(w)));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out[size_t(y)][size_t(x)] = BlueOf(box.Image().At(x, y));
    return out;
}

std::vector<std::vector<int>> Uniform(int w, int h, int v)
{
    return std::vector<std::vector<int>>(size_t(h), std::vector<int>(size_t(w), v));
}

} // namespace

TEST(Halftone, UniformBlocksLightCellsInSteps)
{
    const int steps3x3[] = { 26, 51, 77, 102, 128, 153, 179, 204, 230 };
    for (const Screen& s : kScreens)
        for (int v = 0; v < 256; ++v) {
            const auto out = Screened(s.routine, Uniform(2 * s.n, 2 * s.n, v));
            int lit = 0;
            for (int y = 0; y < s.n; ++y)
                for (int x = 0; x < s.n; ++x) {
                    ASSERT_TRUE(out[size_t(y)][size_t(x)] == 0 || out[size_t(y)][size_t(x)] == 255);
                    lit += out[size_t(y)][size_t(x)] == 255;
                }
            int expected = 0;
            if (s.n == 2)
                expected = v <= 51 ? 0 : v <= 102 ? 1 : v <= 153 ? 2 : v <= 204 ? 3 : 4;
            else if (s.n == 3)
                for (int step : steps3x3)
                    expected += v >= step;
            else
                expected = std::min(14, 2 * (v / 32));
            ASSERT_EQ(lit, expected) << s.name << " value " << v;
        }
}

TEST(Halftone, BlackStaysBlackWhiteStaysWhiteExceptNewsCorners)
{
    for (const Screen& s : kScreens)
        for (auto [w, h] : { std::pair { 1, 1 }, { 7, 5 }, { 12, 12 } }) {
            const auto black = Screened(s.routine, Uniform(w, h, 0));
            const auto white = Screened(s.routine, Uniform(w, h, 255));
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    ASSERT_EQ(black[size_t(y)][size_t(x)], 0) << s.name;
                    // Under News 4x4 the cells of order 15 and 14, (3, 0) and (3, 3), need a
                    // sum of 4096, more than a block can hold.
                    const bool newsDark = s.n == 4 && x % 4 == 3 && (y % 4 == 0 || y % 4 == 3);
                    // The News block straddling the bottom-right corner of an odd-sized picture
                    // also sums black border-corner pixels and may light fewer cells. (The 2 × 2
                    // and 3 × 3 corner blocks still light every cell that lies in the picture.)
                    const bool newsCornerBlock = s.n == 4 && x / 4 == (w - 1) / 4
                        && y / 4 == (h - 1) / 4 && w % 4 != 0 && h % 4 != 0;
                    if (!newsCornerBlock) {
                        ASSERT_EQ(white[size_t(y)][size_t(x)], newsDark ? 0 : 255)
                            << s.name << " " << w << " x " << h << " at " << x << "," << y;
                    }
                }
        }
}

TEST(Halftone, SumExactlyAtAStepStaysDark)
{
    // 2 × 2: 204 sets nothing, 205 sets the cell of order 1 at (0, 0).
    EXPECT_EQ(Screened(DitherHalftone2x2, { { 51, 51 }, { 51, 51 } }),
        (std::vector<std::vector<int>> { { 0, 0 }, { 0, 0 } }));
    EXPECT_EQ(Screened(DitherHalftone2x2, { { 52, 51 }, { 51, 51 } }),
        (std::vector<std::vector<int>> { { 255, 0 }, { 0, 0 } }));
    // News 4 × 4: 511 sets nothing, 512 sets the two middle cells (1, 1) and (1, 2).
    auto block = Uniform(4, 4, 32);
    EXPECT_EQ(Screened(DitherNews4x4, block),
        (std::vector<std::vector<int>> {
            { 0, 0, 0, 0 }, { 0, 255, 0, 0 }, { 0, 255, 0, 0 }, { 0, 0, 0, 0 } }));
    block[0][0] = 31;
    EXPECT_EQ(Screened(DitherNews4x4, block), Uniform(4, 4, 0));
}

TEST(Halftone, StraddlingBlockSumsTheFilledBorder)
{
    // w = 3: the second block column covers picture column 2 and the first border column, a
    // copy of column 2. All four of its pixels are white, so all four cells light; with a black
    // border it would sum 510 and leave (2, 1), of order 3, dark.
    const auto out = Screened(DitherHalftone2x2, { { 0, 0, 255 }, { 0, 0, 255 } });
    EXPECT_EQ(out, (std::vector<std::vector<int>> { { 0, 0, 255 }, { 0, 0, 255 } }));
}

TEST(Halftone, CornerBlockReadsTheBlackBorderCorner)
{
    // 3 × 3 on a 4 × 4 picture of 200: the block at picture (3, 3) holds one picture pixel, four
    // border copies of it and four black corner pixels: 5 · 200 = 1000, below the 1145 that its
    // (0, 0) cell (order 5) needs. A whole block of 200 sums 1800 and lights that cell.
    const auto out = Screened(DitherHalftone3x3, Uniform(4, 4, 200));
    EXPECT_EQ(out[0][0], 255);
    EXPECT_EQ(out[0][3], 255); // right edge only: border copies, no corner
    EXPECT_EQ(out[3][3], 0);
}

TEST(Halftone, WidthMultipleOfTheBlockGetsABlockColumnInTheBorder)
{
    // Drawn onto a destination larger than the picture, the border just right of and below the
    // picture shows: it has been screened too (0 or 255), not left as the border fill's copy.
    for (const Screen& s : kScreens) {
        const int w = 2 * s.n, h = 2 * s.n;
        PictureBox source(w, h), destination(w + s.n, h + s.n);
        source.Image().Fill(Rgb(150, 150, 150));
        s.routine(destination, source);
        for (int y = 0; y < h + s.n; ++y)
            for (int x = 0; x < w + s.n; ++x) {
                const uint32_t c = destination.Image().At(x, y);
                ASSERT_TRUE(c == 0 || c == 0xFFFFFFu) << s.name << " at " << x << "," << y;
                if (x >= w && y < h) { // same sums as the picture's blocks: same pattern
                    ASSERT_EQ(c, destination.Image().At(x - s.n, y))
                        << s.name << " " << x << "," << y;
                }
            }
    }
}

TEST(Halftone, ChannelsAreScreenedSeparately)
{
    for (const Screen& s : kScreens) {
        PictureBox box(11, 7);
        box.Image().Fill(Rgb(40, 200, 130));
        s.routine(box, box);
        const auto red = Screened(s.routine, Uniform(11, 7, 40));
        const auto green = Screened(s.routine, Uniform(11, 7, 200));
        const auto blue = Screened(s.routine, Uniform(11, 7, 130));
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 11; ++x)
                ASSERT_EQ(box.Image().At(x, y),
                    Rgb(uint8_t(red[size_t(y)][size_t(x)]), uint8_t(green[size_t(y)][size_t(x)]),
                        uint8_t(blue[size_t(y)][size_t(x)])))
                    << s.name;
    }
}
