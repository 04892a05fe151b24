#include "bayer.h"
#include "bayer_matrix.h"
#include "platform/runtime_error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

using namespace pelorin;
using namespace platform;

namespace {

using Routine = void (*)(PictureBox&, PictureBox&);

// The output byte (blue) of every picture pixel for a uniform grey picture of value v.
std::vector<uint8_t> RunUniform(Routine routine, int w, int h, uint8_t v)
{
    PictureBox box(w, h);
    box.Image().Fill(Rgb(v, v, v));
    routine(box, box);
    std::vector<uint8_t> out;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t c = box.Image().At(x, y);
            EXPECT_TRUE(c == 0 || c == 0xFFFFFFu) << "grey in, grey out: " << std::hex << c;
            out.push_back(BlueOf(c));
        }
    return out;
}

// For every picture pixel, the smallest uniform value that lights it (256 if none does), found
// by trying all 256 values.
std::vector<int> FirstLitValue(Routine routine, int w, int h)
{
    std::vector<int> first(size_t(w) * size_t(h), 256);
    for (int v = 255; v >= 0; --v) {
        const std::vector<uint8_t> out = RunUniform(routine, w, h, uint8_t(v));
        for (size_t i = 0; i < out.size(); ++i)
            if (out[i] == 255)
                first[i] = v;
    }
    return first;
}

// The threshold each pixel met: with "above" tests the last value that stays dark, with "at or
// above" the first that lights; for 8 × 8 the scaled value of the last byte that stays dark.
int MetThreshold2x2(int firstLit) { return firstLit - 1; }
int MetThreshold4x4(int firstLit) { return firstLit; }
int MetThreshold8x8(int firstLit) { return ScaleByteBy4(firstLit - 1); }

} // namespace

TEST(BayerMatrix, EightByEightIsTheRecursiveIndexMatrix)
{
    const auto& m = kBayer8x8Thresholds;
    const int column0[8] = { 0, 48, 12, 60, 3, 51, 15, 63 };
    const int row4[8] = { 3, 35, 11, 43, 1, 33, 9, 41 };
    std::set<int> seen;
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(m[size_t(i)][0], column0[i]);
        EXPECT_EQ(m[4][size_t(i)], row4[i]);
        for (int j = 0; j < 8; ++j)
            seen.insert(m[size_t(i)][size_t(j)]);
    }
    EXPECT_EQ(seen.size(), 64u);
    EXPECT_EQ(*seen.begin(), 0);
    EXPECT_EQ(*seen.rbegin(), 63);
}

TEST(BayerMatrix, ScalingByFourRoundsHalvesToEven)
{
    const std::pair<int, int> examples[] = { { 1, 0 }, { 2, 0 }, { 3, 1 }, { 5, 1 }, { 6, 2 },
        { 10, 2 }, { 14, 4 }, { 253, 63 }, { 254, 64 }, { 255, 64 } };
    for (auto [byte, scaled] : examples)
        EXPECT_EQ(ScaleByteBy4(byte), scaled) << byte;
    for (int byte = 0; byte < 256; ++byte)
        ASSERT_EQ(ScaleByteBy4(byte), RoundHalfEven(byte / 4.0)) << byte;
}

TEST(Bayer, BlackStaysBlackAndWhiteStaysWhite)
{
    for (Routine routine : { DitherBayer2x2, DitherBayer4x4, DitherBayer8x8 })
        for (auto [w, h] : { std::pair { 1, 1 }, { 7, 5 }, { 128, 16 } }) {
            for (uint8_t v : { 0, 255 }) {
                const std::vector<uint8_t> out = RunUniform(routine, w, h, v);
                EXPECT_TRUE(std::all_of(out.begin(), out.end(), [&](uint8_t b) { return b == v; }))
                    << w << " x " << h << " value " << int(v);
            }
        }
}

TEST(Bayer, ValueEqualToItsThreshold)
{
    // 2 × 2, w even: picture (1, 0) meets 127; 127 stays dark, 128 lights.
    EXPECT_EQ(RunUniform(DitherBayer2x2, 8, 2, 127)[1], 0);
    EXPECT_EQ(RunUniform(DitherBayer2x2, 8, 2, 128)[1], 255);
    // 4 × 4, w a multiple of 4: picture (2, 2) meets 16; 16 lights, 15 does not.
    EXPECT_EQ(RunUniform(DitherBayer4x4, 8, 4, 16)[2 * 8 + 2], 255);
    EXPECT_EQ(RunUniform(DitherBayer4x4, 8, 4, 15)[2 * 8 + 2], 0);
    // 8 × 8, w = 128: picture (0, 0) meets entry 1. Byte 4 scales to 1 and stays dark; byte 6
    // scales to 2 and lights. Bytes 3 and 5 scale to 1 too and light only the cell with entry 0.
    EXPECT_EQ(RunUniform(DitherBayer8x8, 128, 8, 4)[0], 0);
    EXPECT_EQ(RunUniform(DitherBayer8x8, 128, 8, 6)[0], 255);
}

TEST(Bayer, CellsLitPerTileFollowTheValue)
{
    // Counted over the picture's top-left n × n pixels, which meet every cell once (w = 128).
    auto countLit = [](Routine routine, int n, uint8_t v) {
        const std::vector<uint8_t> out = RunUniform(routine, 128, n, v);
        int lit = 0;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x)
                lit += out[size_t(y) * 128 + size_t(x)] == 255;
        return lit;
    };
    const int entries4x4[]
        = { 16, 32, 48, 64, 80, 96, 112, 128, 143, 159, 175, 191, 207, 223, 239, 255 };
    for (int v = 0; v < 256; ++v) {
        const int expected2x2 = v == 0 ? 0 : v <= 63 ? 1 : v <= 127 ? 2 : v <= 191 ? 3 : 4;
        EXPECT_EQ(countLit(DitherBayer2x2, 2, uint8_t(v)), expected2x2) << v;
        const int expected4x4 = int(std::count_if(
            std::begin(entries4x4), std::end(entries4x4), [&](int t) { return t <= v; }));
        EXPECT_EQ(countLit(DitherBayer4x4, 4, uint8_t(v)), expected4x4) << v;
        EXPECT_EQ(countLit(DitherBayer8x8, 8, uint8_t(v)), ScaleByteBy4(v)) << v;
    }
    EXPECT_EQ(countLit(DitherBayer8x8, 8, 2), 0);
    EXPECT_EQ(countLit(DitherBayer8x8, 8, 253), 63);
    EXPECT_EQ(countLit(DitherBayer8x8, 8, 254), 64);
}

TEST(Bayer, Grey128UnderFourByFourIsACheckerboard)
{
    for (int w : { 8, 128 }) {
        const std::vector<uint8_t> out = RunUniform(DitherBayer4x4, w, 8, 128);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(out[size_t(y * w + x)], (x + y) % 2 == 0 ? 255 : 0) << x << "," << y;
    }
}

TEST(Bayer, TwoByTwoColumnPhaseRunsOnFromRowToRow)
{
    // A pass row holds w + 1 pixels: for even w every second row starts on the other phase.
    for (int w : { 8, 7 }) {
        const std::vector<int> first = FirstLitValue(DitherBayer2x2, w, 4);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < w; ++x) {
                int expected;
                if (y % 2 == 0)
                    expected = x % 2 == 0 ? 63 : 127;
                else if (w % 2 == 0)
                    expected = x % 2 == 0 ? 0 : 191;
                else
                    expected = x % 2 == 0 ? 191 : 0;
                ASSERT_EQ(MetThreshold2x2(first[size_t(y * w + x)]), expected)
                    << "w " << w << " at " << x << "," << y;
            }
    }
}

TEST(Bayer, FourByFourTilesLineUpWhenTheWidthIsAMultipleOfFour)
{
    const std::vector<int> first = FirstLitValue(DitherBayer4x4, 12, 8);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(MetThreshold4x4(first[size_t(y * 12 + x)]),
                kBayer4x4Thresholds[size_t(y % 4)][size_t(x % 4)])
                << x << "," << y;
}

TEST(Bayer, EightByEightFirstRowAndColumnAtTheWorkingWidths)
{
    const int firstRow[10] = { 1, 33, 9, 41, 3, 35, 11, 43, 1, 33 };
    const int firstColumn[9] = { 1, 51, 13, 63, 2, 48, 14, 60, 1 };
    for (int w : { 128, 256 }) {
        const std::vector<int> first = FirstLitValue(DitherBayer8x8, w, 9);
        for (int x = 0; x < 10; ++x)
            EXPECT_EQ(MetThreshold8x8(first[size_t(x)]), firstRow[x]) << "w " << w << " x " << x;
        for (int y = 0; y < 9; ++y)
            EXPECT_EQ(MetThreshold8x8(first[size_t(y * w)]), firstColumn[y])
                << "w " << w << " y " << y;
    }
}

TEST(Bayer, ChannelsAreScreenedSeparately)
{
    for (Routine routine : { DitherBayer2x2, DitherBayer4x4, DitherBayer8x8 }) {
        PictureBox mixed(13, 9);
        mixed.Image().Fill(Rgb(40, 200, 130)); // red, green, blue
        routine(mixed, mixed);
        const std::vector<uint8_t> red = RunUniform(routine, 13, 9, 40);
        const std::vector<uint8_t> green = RunUniform(routine, 13, 9, 200);
        const std::vector<uint8_t> blue = RunUniform(routine, 13, 9, 130);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 13; ++x) {
                const size_t i = size_t(y * 13 + x);
                ASSERT_EQ(mixed.Image().At(x, y), Rgb(red[i], green[i], blue[i])) << x << "," << y;
            }
    }
}
