#include "picture_adjust.h"

#include <gtest/gtest.h>

#include <random>

namespace pelorin {
namespace {

    uint32_t Adjusted(uint32_t colour, const PictureAdjustments& a)
    {
        platform::Surface s(1, 1, colour);
        AdjustPicture(s, a);
        return s.At(0, 0);
    }

    TEST(PictureAdjust, NeutralSettingsLeaveEveryByte)
    {
        platform::Surface s(37, 5);
        std::mt19937 random(7);
        for (uint32_t& p : s.pixels)
            p = random() & 0x00FFFFFFu;
        const platform::Surface before = s;
        EXPECT_TRUE(PictureAdjustments {}.IsNeutral());
        AdjustPicture(s, {});
        EXPECT_EQ(s, before);
    }

    TEST(PictureAdjust, HandWorkedChannels)
    {
        // Brightness 50 adds 1.28 · 50 = 64, clamped at 255.
        EXPECT_EQ(
            Adjusted(platform::Rgb(100, 250, 0), { 50, 0, 0, 1.0 }), platform::Rgb(164, 255, 64));
        EXPECT_EQ(Adjusted(platform::Rgb(100, 30, 0), { -50, 0, 0, 1.0 }), platform::Rgb(36, 0, 0));
        // Contrast −100 flattens everything to mid-grey (127.5 rounds up).
        EXPECT_EQ(
            Adjusted(platform::Rgb(0, 90, 255), { 0, -100, 0, 1.0 }), platform::Rgb(128, 128, 128));
        // Contrast 50: slope 100 / 50.5 about 127.5: 100 → 127.5 − 27.5 · 1.980 = 73.04.
        EXPECT_EQ(
            Adjusted(platform::Rgb(100, 100, 100), { 0, 50, 0, 1.0 }), platform::Rgb(73, 73, 73));
        // Gamma 2: 64 → 255 · √(64 / 255) = 127.75.
        EXPECT_EQ(
            Adjusted(platform::Rgb(64, 0, 255), { 0, 0, 0, 2.0 }), platform::Rgb(128, 0, 255));
        // Saturation −100: red becomes its grey, 0.299 · 255 = 76.2.
        EXPECT_EQ(
            Adjusted(platform::Rgb(255, 0, 0), { 0, 0, -100, 1.0 }), platform::Rgb(76, 76, 76));
        // Saturation 100 doubles the distance from the grey 129.9: red 270 → 255, green 70.1.
        EXPECT_EQ(
            Adjusted(platform::Rgb(200, 100, 100), { 0, 0, 100, 1.0 }), platform::Rgb(255, 70, 70));
        // A grey has no colour to change.
        EXPECT_EQ(
            Adjusted(platform::Rgb(90, 90, 90), { 0, 0, 100, 1.0 }), platform::Rgb(90, 90, 90));
    }

    // The bars around a fitted frame are not the frame: only the rectangle changes, clipped to
    // the picture (a filled frame's rectangle reaches past it on both sides).
    TEST(PictureAdjust, OnlyTheRectangleChanges)
    {
        const PictureAdjustments brighter { 30, 0, 0, 1.0 };
        platform::Surface s(6, 4, 0);
        AdjustPicture(s, brighter, 1, 1, 3, 2);
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < s.width; ++x) {
                const bool inside = x >= 1 && x < 4 && y >= 1 && y < 3;
                // 1.28 · 30 = 38.4 on black.
                EXPECT_EQ(s.At(x, y), inside ? platform::Rgb(38, 38, 38) : 0u)
                    << "at " << x << ", " << y;
            }
        platform::Surface clipped(6, 4, 0);
        AdjustPicture(clipped, brighter, -3, 0, 12, 4);
        platform::Surface whole(6, 4, 0);
        AdjustPicture(whole, brighter);
        EXPECT_EQ(clipped, whole);
        platform::Surface outside(6, 4, 0);
        AdjustPicture(outside, brighter, 6, 0, 5, 4);
        EXPECT_EQ(outside, platform::Surface(6, 4, 0));
    }

    TEST(PictureAdjust, RangesAreNamed)
    {
        EXPECT_EQ(AdjustmentProblem({ 100, -100, 0, 5.0 }, "--"), "");
        EXPECT_EQ(
            AdjustmentProblem({ 0, 140, 0, 1.0 }, "--"), "--contrast takes -100 ... 100, got 140");
        EXPECT_EQ(AdjustmentProblem({ -101, 0, 0, 1.0 }, "--"),
            "--brightness takes -100 ... 100, got -101");
        EXPECT_EQ(AdjustmentProblem({ 0, 0, 0, 0.1 }, "--"), "--gamma takes 0.2 ... 5, got 0.1");
    }

} // namespace
} // namespace pelorin
