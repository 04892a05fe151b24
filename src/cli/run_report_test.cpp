#include "run_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace pelorin::cli;
using platform::Surface;

TEST(RunStats, FlickerIsTheMeanShareOfChangedPixels)
{
    RunStats stats;
    Surface a(4, 2, 0), b = a, c = a;
    b.At(0, 0) = 1; // 1 of 8 changed
    c.At(0, 0) = 1;
    c.At(1, 1) = 2;
    c.At(2, 1) = 2;
    c.At(3, 1) = 2; // 3 of 8 changed from b
    EXPECT_FALSE(stats.Flicker());
    stats.AddWrittenFrame(a);
    EXPECT_FALSE(stats.Flicker());
    stats.AddWrittenFrame(b);
    stats.AddWrittenFrame(c);
    ASSERT_TRUE(stats.Flicker());
    EXPECT_DOUBLE_EQ(*stats.Flicker(), (1.0 / 8 + 3.0 / 8) / 2);
    EXPECT_EQ(stats.FramesWritten(), 3);
}

TEST(RunStats, MedianOfOddAndEvenCounts)
{
    const struct {
        std::vector<double> times;
        double min, median, max;
    } cases[] = {
        { { 3, 1, 2 }, 1, 2, 3 },
        { { 4, 1, 3, 2 }, 1, 2.5, 4 },
        { { 7 }, 7, 7, 7 },
    };
    for (const auto& c : cases) {
        RunStats stats;
        for (double t : c.times)
            stats.AddConversionTime(t);
        const auto spread = stats.ConversionTimes();
        ASSERT_TRUE(spread);
        EXPECT_EQ(spread->min, c.min);
        EXPECT_EQ(spread->median, c.median);
        EXPECT_EQ(spread->max, c.max);
    }
    EXPECT_FALSE(RunStats().ConversionTimes());
}

TEST(RunStats, FaithfulnessComparesTheBlurredPictures)
{
    // One pixel off by 9 in blue in the middle of 3 x 3: the box blur spreads it as 1 over all
    // nine pixels (the edges repeat outward, so each window holds the middle once); blue is a
    // third of the channels.
    Surface a(3, 3, 0x404040), b = a;
    b.At(1, 1) = 0x404049;
    EXPECT_DOUBLE_EQ(BlurredDifference(a, b), 1.0 / 3);
    // A fine checkerboard of ±10 against flat grey mostly blurs away: in a 4 x 4 picture the
    // inner windows hold 5 of one sign and 4 of the other.
    Surface grey(4, 4, 0x808080), checker = grey;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            checker.At(x, y) = (x + y) % 2 ? 0x767676 : 0x8A8A8A;
    EXPECT_LT(BlurredDifference(checker, grey), 10.0 / 2);
    EXPECT_GT(BlurredDifference(checker, grey), 0);
    EXPECT_EQ(BlurredDifference(grey, grey), 0);
    EXPECT_THROW(BlurredDifference(a, grey), std::invalid_argument);
    // Random pictures against the blur written out window by window, at sizes with and without
    // an odd last pixel.
    uint32_t seed = 5;
    for (auto [w, h] : { std::pair { 1, 1 }, { 7, 5 }, { 128, 24 } }) {
        Surface p(w, h), q(w, h);
        for (Surface* s : { &p, &q })
            for (uint32_t& v : s->pixels)
                v = (seed = seed * 1664525u + 1013904223u) >> 8;
        int64_t total = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int ch = 0; ch < 3; ++ch) {
                    int sum = 0;
                    for (int dy = -1; dy <= 1; ++dy)
                        for (int dx = -1; dx <= 1; ++dx) {
                            const int sx = std::clamp(x + dx, 0, w - 1),
                                      sy = std::clamp(y + dy, 0, h - 1);
                            sum += int((p.At(sx, sy) >> (8 * ch)) & 0xFF)
                                - int((q.At(sx, sy) >> (8 * ch)) & 0xFF);
                        }
                    total += std::abs(sum);
                }
        EXPECT_DOUBLE_EQ(BlurredDifference(p, q), double(total) / 9.0 / double(3 * w * h)) << w;
    }

    RunStats stats;
    EXPECT_FALSE(stats.Faithfulness());
    stats.AddFaithfulness(1);
    stats.AddFaithfulness(2);
    EXPECT_DOUBLE_EQ(*stats.Faithfulness(), 1.5);
    EXPECT_NE(stats.Summary().find("faithfulness: 1.500"), std::string::npos);
}
