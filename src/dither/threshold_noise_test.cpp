#include "convert/nearest_color.h"
#include "convert/testing/nearest_color_reference.h"
#include "cpu_dispatch.h"
#include "noise_generator.h"
#include "noise_lanes.h"
#include "dither/testing/noise_test_support.h"
#include "routines.h"
#include "threshold.h"
#include "threshold_noise.h"
#include "platform/runtime_error.h"
#include "platform/sample_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

using namespace pelorin;
using namespace platform;

TEST(Noise, OffsetIsRoundedHalvesToEvenAndClamped)
{
    // u chosen so that amplitude·u is exact: 30 · 0.25 = 7.5, 30 · 0.75 = 22.5.
    EXPECT_EQ(AddNoise(100, 30, 0.5), 100);
    EXPECT_EQ(AddNoise(100, 30, 0.0), 85);
    EXPECT_EQ(AddNoise(100, 30, 0.25), 92); // 92.5
    EXPECT_EQ(AddNoise(100, 30, 0.75), 108); // 107.5
    EXPECT_EQ(AddNoise(100, 31, 0.5), 100); // 100 + 15.5 − 15.5
    EXPECT_EQ(AddNoise(100, 31, 0.0), 84); // 84.5
    // 250 with amplitude 30 stays within 235 ... 255; 5 cannot go below 0.
    EXPECT_EQ(AddNoise(250, 30, 0.0), 235);
    EXPECT_EQ(AddNoise(250, 30, std::nextafter(1.0, 0.0)), 255);
    EXPECT_EQ(AddNoise(5, 30, 0.0), 0);
    EXPECT_EQ(AddNoise(0, 255, 0.0), 0);
    EXPECT_EQ(AddNoise(255, 255, std::nextafter(1.0, 0.0)), 255);
    for (double u : { 0.0, 0.3, 0.999 })
        EXPECT_EQ(AddNoise(77, 0, u), 77);
}

TEST(Noise, FastRoundingMatchesTheProgramsRounding)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 200000; ++i) {
        const auto channel = uint8_t(random() & 255);
        const auto amplitude = uint8_t(random() & 255);
        // Mostly arbitrary u, and every so often one that puts v exactly on a half.
        double u = unit(random);
        if (i % 4 == 0 && amplitude != 0)
            u = (std::floor(u * amplitude) + 0.5) / amplitude;
        const double v = double(channel) + double(amplitude) * u - double(amplitude) / 2.0;
        const int expected = std::clamp(RoundHalfEven(v), 0, 255);
        ASSERT_EQ(AddNoise(channel, amplitude, u), expected)
            << int(channel) << " " << int(amplitude) << " " << u;
    }
}

TEST(Noise, IntegerPathMatchesTheDoublePath)
{
    // The conversion works on the generator's 32-bit draws in integer arithmetic; it must agree
    // with the double-precision formula everywhere, halves included (u = 0 with an odd
    // amplitude, u = 1/4 or 3/4 with amplitude 2, ...).
    std::mt19937 random(11);
    for (int channel = 0; channel < 256; ++channel)
        for (int amplitude = 0; amplitude < 256; ++amplitude) {
            for (uint32_t bits : { 0u, 1u << 30, 1u << 31, 3u << 30, 0xFFFFFFFFu,
                     uint32_t(random()), uint32_t(random()), uint32_t(random()) }) {
                ASSERT_EQ(AddNoiseBits(uint8_t(channel), uint8_t(amplitude), bits),
                    AddNoise(uint8_t(channel), uint8_t(amplitude), bits * 0x1.0p-32))
                    << channel << " " << amplitude << " " << bits;
            }
        }
}

TEST(Noise, GeneratorGivesUniformNumbersBelowOne)
{
    ResetNoiseGenerator();
    double sum = 0, lo = 1, hi = 0;
    const int n = 100000;
    for (int i = 0; i < n; ++i) {
        const double u = NextNoiseUniform();
        ASSERT_GE(u, 0.0);
        ASSERT_LT(u, 1.0);
        sum += u;
        lo = std::min(lo, u);
        hi = std::max(hi, u);
    }
    EXPECT_NEAR(sum / n, 0.5, 0.01);
    EXPECT_LT(lo, 0.001);
    EXPECT_GT(hi, 0.999);
}

TEST(Noise, DrawsRedThenGreenThenBlue)
{
    SetPalette16();
    const NearestColorTable& table = CurrentNearestColorTable();
    for (int i = 0; i < 200; ++i) {
        const auto red = uint8_t(i * 37), green = uint8_t(i * 11 + 60), blue = uint8_t(255 - i);
        ResetNoiseGenerator();
        for (int skip = 0; skip < i; ++skip)
            NextNoiseUniform();
        const double ur = NextNoiseUniform(), ug = NextNoiseUniform(), ub = NextNoiseUniform();
        const uint32_t expected = NearestColorLinear(
            Palette, AddNoise(red, 60, ur), AddNoise(green, 60, ug), AddNoise(blue, 60, ub));
        ResetNoiseGenerator();
        for (int skip = 0; skip < i; ++skip)
            NextNoiseUniform();
        ASSERT_EQ(NearestColorWithNoise(red, green, blue, 60), expected) << i;
        ASSERT_EQ(table.Lookup(1, 2, 3), NearestColorLinear(Palette, 1, 2, 3));
    }
}

TEST(Noise, AmplitudeZeroIsThePlainThresholdAndStillDrawsThreePerPixel)
{
    for (auto fill : { SetPalette2, SetPalette4, SetPalette16 }) {
        fill();
        const int w = 37, h = 11; // buffer 48 × 11 (pad 3 + 8 columns)
        const Surface picture = MakeSamplePicture(w, h);
        PictureBox noisy(w, h), plain(w, h);
        noisy.Image() = picture;
        plain.Image() = picture;
        ResetNoiseGenerator();
        DitherThresholdNoise(noisy, noisy, 128, 0);
        DitherThreshold(plain, plain, 128);
        EXPECT_EQ(noisy.Image(), plain.Image());
        const double next = NextNoiseUniform();
        ResetNoiseGenerator();
        for (int i = 0; i < 3 * 48 * 11; ++i)
            NextNoiseUniform();
        EXPECT_EQ(NextNoiseUniform(), next);
    }
}

TEST(Noise, FlatGrey128BecomesMostlyWhiteSpeckledWithBlack)
{
    SetPalette2();
    PictureBox box(200, 50);
    box.Image().Fill(Rgb(128, 128, 128));
    DitherThresholdNoise(box, box, 128, 30);
    const auto white = std::count(box.Image().pixels.begin(), box.Image().pixels.end(), 0xFFFFFFu);
    const auto black = std::count(box.Image().pixels.begin(), box.Image().pixels.end(), 0u);
    EXPECT_EQ(white + black, 200 * 50);
    EXPECT_GT(black, 200 * 50 / 10);
    EXPECT_GT(white, black);
}

TEST(Noise, SameConversionsFromTheStartGiveTheSamePictures)
{
    SetPalette16();
    const Surface picture = MakeSamplePicture(64, 40);
    auto twoFrames = [&] {
        PictureBox a(64, 40), b(64, 40);
        a.Image() = picture;
        b.Image() = picture;
        DitherThresholdNoise(a, a, 128, 30);
        DitherThresholdNoise(b, b, 128, 30);
        return std::pair { a.Image(), b.Image() };
    };
    ResetNoiseGenerator();
    const auto first = twoFrames();
    ResetNoiseGenerator();
    const auto second = twoFrames();
    EXPECT_EQ(first, second);
    // The sequence runs on from frame to frame: the same picture twice is not noised the same.
    EXPECT_NE(first.first, first.second);
}

TEST(Noise, LaneFormMatchesAddNoiseBits)
{
    std::mt19937 random(5);
    for (int channel = 0; channel < 256; ++channel)
        for (int amplitude = 0; amplitude < 256; ++amplitude)
            for (uint32_t bits : { 0u, 1u, 1u << 30, (1u << 31) - 1, 1u << 31, 3u << 30,
                     0xFFFFFFFFu, uint32_t(random()), uint32_t(random()) })
                ASSERT_EQ(AddNoiseBitsInLanes(uint8_t(channel), uint8_t(amplitude), bits),
                    AddNoiseBits(uint8_t(channel), uint8_t(amplitude), bits))
                    << channel << " " << amplitude << " " << bits;
}

TEST(Noise, WholePictureMatchesPixelByPixelDrawsOnEveryInstructionSet)
{
    // 37 × 11: a buffer of 48 × 11 pixels (pad 3 + 8 columns), 8 blocks of 64 pixels and a short
    // one. Each pixel must be the nearest colour to its channels noised by draws taken one by
    // one, red, green, blue, bottom row first, whichever lanes did the work; a second
    // conversion goes on from where the first one's draws ended.
    const int w = 37, h = 11, W = 48;
    const Surface picture = MakeSamplePicture(w, h, 3);
    for (auto fill : { SetPalette2, SetPalette4, SetPalette16 }) {
        fill();
        for (const CpuPath path : RunnableCpuPaths()) {
            ResetNoiseGenerator();
            Surface expected[2] = { Surface(w, h), Surface(w, h) };
            for (int round = 0; round < 2; ++round)
                for (int r = 0; r < h; ++r)
                    for (int x = 0; x < W; ++x) {
                        const uint32_t c = x < w ? picture.At(x, h - 1 - r) : 0;
                        const uint32_t n = NearestColorWithNoise(
                            RedOf(c), GreenOf(c), BlueOf(c), uint8_t(30 + 51 * round));
                        if (x < w)
                            expected[round].At(x, h - 1 - r) = n;
                    }
            const double next = NextNoiseUniform();
            ResetNoiseGenerator();
            for (int round = 0; round < 2; ++round) {
                PictureBox box(w, h);
                box.Image() = picture;
                {
                    const ScopedCpuPath forced(path);
                    DitherThresholdNoise(box, box, 128, uint8_t(30 + 51 * round));
                }
                EXPECT_EQ(box.Image(), expected[round]) << Palette.size() << " colours, path "
                                                        << CpuPathName(path) << ", round " << round;
            }
            EXPECT_EQ(NextNoiseUniform(), next);
        }
    }
}

TEST(SteadyThresholdNoise, ADrawAgainUsesTheLastDrawsNumbersAndKeepsOrTakesItsColour)
{
    // Every pixel moves by 40 (between the keep and the refresh reach): each draws again with
    // the numbers of the frame before, so its colour is the frame before's or the one a plain
    // conversion of the moved picture from the frame before's generator state gives. Two-entry
    // palettes take their own lanes, on every instruction set alike.
    PictureBox before(37, 9), moved(37, 9);
    before.Image() = MakeSamplePicture(37, 9);
    moved.Image() = before.Image();
    for (uint32_t& p : moved.Image().pixels)
        for (int shift = 0; shift < 24; shift += 8)
            p = (p & ~(0xFFu << shift))
                | uint32_t(std::min(255, int((p >> shift) & 0xFF) + 40)) << shift;
    for (const std::vector<PaletteEntry>& palette :
        { std::vector<PaletteEntry>(kTvcPalette16.begin(), kTvcPalette16.end()),
            std::vector<PaletteEntry>(kTvcPalette2.begin(), kTvcPalette2.end()),
            std::vector<PaletteEntry> { { 0, 0, 0 }, { 96, 160, 255 } } }) {
        Surface widest;
        std::vector<CpuPath> paths = RunnableCpuPaths();
        std::reverse(paths.begin(), paths.end()); // the widest first
        for (const CpuPath path : paths) {
            const ScopedCpuPath forced(path);
            ConversionContext steady, plain;
            steady.palette = palette;
            plain.palette = palette;
            PictureBox out(37, 9), again(37, 9);
            SteadyHistory history;
            const SteadyHistory::Key key { 16, 4, 37, 9 };
            ASSERT_FALSE(history.Begin(key, 0));
            ThresholdNoiseRoutine(steady, out, before, 128, 30, &history);
            history.Finish();
            const Surface first = out.Image();
            ThresholdNoiseRoutine(plain, again, moved, 128, 30);
            ASSERT_TRUE(history.Begin(key, 1));
            ThresholdNoiseRoutine(steady, out, moved, 128, 30, &history);
            history.Finish();
            int kept = 0, taken = 0;
            for (size_t i = 0; i < first.pixels.size(); ++i) {
                const uint32_t now = out.Image().pixels[i];
                ASSERT_TRUE(now == first.pixels[i] || now == again.Image().pixels[i])
                    << palette.size() << " colours, pixel " << i;
                kept += now == first.pixels[i] && now != again.Image().pixels[i];
                taken += now != first.pixels[i];
            }
            EXPECT_GT(kept, 0) << palette.size() << " colours";
            EXPECT_GT(taken, 0) << palette.size() << " colours";
            if (path == paths.front())
                widest = out.Image();
            else
                EXPECT_EQ(out.Image(), widest)
                    << palette.size() << " colours, path " << CpuPathName(path);
        }
    }
}
