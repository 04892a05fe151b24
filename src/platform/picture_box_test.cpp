#include "platform/counter.h"
#include "platform/picture_box.h"
#include "platform/runtime_error.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace platform;

TEST(PictureBox, HandlesAreRegisteredAndForgotten)
{
    int handle = 0;
    {
        PictureBox box(512, 240, Rgb(192, 192, 255));
        handle = box.hWnd();
        EXPECT_EQ(FindWindow(handle), &box);
        EXPECT_EQ(box.ScaleWidth(), 512);
        EXPECT_EQ(box.ScaleHeight(), 240);
        EXPECT_EQ(box.Image().At(511, 239), Rgb(192, 192, 255));
        PictureBox other(1, 1);
        EXPECT_NE(other.hWnd(), handle);
    }
    EXPECT_EQ(FindWindow(handle), nullptr);
}

TEST(PictureBox, RefreshAndVisibilityNotifyTheView)
{
    PictureBox box(4, 4);
    int calls = 0;
    box.SetRefreshHandler([&] { ++calls; });
    box.Refresh();
    box.SetVisible(false);
    EXPECT_EQ(calls, 2);
    EXPECT_FALSE(box.Visible());
    // Hidden, the image is still drawn into and read back.
    box.Image().At(1, 1) = 0x123456;
    EXPECT_EQ(box.Snapshot().At(1, 1), 0x123456u);
}

TEST(PictureBox, RejectsEmptyAndOversizedSizes)
{
    EXPECT_THROW(PictureBox(0, 10), std::invalid_argument);
    EXPECT_THROW(PictureBox(10, -1), std::invalid_argument);
    EXPECT_THROW(PictureBox(kMaxSurfaceSide + 1, 1), std::invalid_argument);
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour)
{
    EXPECT_EQ(RoundHalfEven(12.5), 12);
    EXPECT_EQ(RoundHalfEven(13.5), 14);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
    EXPECT_EQ(RoundHalfEven(-3.5), -4);
    EXPECT_EQ(RoundHalfEven(12.5000001), 13);
    EXPECT_THROW(RoundHalfEven(3e9), RuntimeError);
    EXPECT_THROW(RoundHalfEven(std::nan("")), RuntimeError);
}

TEST(RoundHalfEven, WholeFormKeepsWhatTheCheckedFormRefuses)
{
    EXPECT_EQ(RoundHalfEvenWhole(0.5), 0.0);
    EXPECT_EQ(RoundHalfEvenWhole(1.5), 2.0);
    EXPECT_EQ(RoundHalfEvenWhole(-2.5), -2.0);
    EXPECT_EQ(RoundHalfEvenWhole(3e9 + 0.5), 3e9);
    EXPECT_EQ(RoundHalfEvenWhole(1e300), 1e300);
    EXPECT_TRUE(std::isnan(RoundHalfEvenWhole(std::nan(""))));
    EXPECT_TRUE(std::isnan(RoundHalfEvenWhole(INFINITY)));
    EXPECT_TRUE(std::isnan(RoundHalfEvenWhole(-INFINITY)));
}

// The checked form against the plain definition (the nearest whole number; of two, the even
// one) on every quarter and a few near-halves from −1000 to 1000.
TEST(RoundHalfEven, AgreesWithTheDefinitionAroundEveryHalf)
{
    for (int quarters = -4000; quarters <= 4000; ++quarters) {
        for (const double nudge : { 0.0, 1e-9, -1e-9 }) {
            const double value = quarters / 4.0 + nudge;
            const double below = std::floor(value);
            const double above = below + 1.0;
            double expected = value - below < above - value ? below : above;
            if (value - below == above - value)
                expected = std::fmod(below, 2.0) == 0.0 ? below : above;
            ASSERT_EQ(RoundHalfEven(value), int32_t(expected)) << value;
            ASSERT_EQ(RoundHalfEvenWhole(value), expected) << value;
        }
    }
}

TEST(Counter, IsMonotonicWithAKnownRate)
{
    int64_t a = 0, b = 0, f = 0;
    QueryPerformanceCounter(&a);
    QueryPerformanceCounter(&b);
    QueryPerformanceFrequency(&f);
    EXPECT_GE(b, a);
    EXPECT_GT(f, 0);
}
