#include "run_report.h"

#include <gtest/gtest.h>

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
