#include "frame_convert.h"

#include "cli_test_util.h"
#include "convert/palette.h"
#include "convert/stretch_picture.h"
#include "dither/method_table.h"
#include "platform/sample_picture.h"

#include <gtest/gtest.h>

using namespace pelorin;
using namespace pelorin::cli::test;
using platform::PictureBox;

namespace {

constexpr TvcMode kModes[] = { TvcMode::Graphics2, TvcMode::Graphics4, TvcMode::Graphics16 };

// The methods that leave a picture made only of palette colours as it is: the error-diffusion
// kernels (no error arises from an exact colour) and the plain threshold. Noise, Bayer and the
// halftone screens move colours before mapping, so they may change it.
bool KeepsPaletteColours(const Method& m)
{
    const std::string_view r = m.routineName;
    return r == "DitherThreshold" || r == "DitherAtkinson" || r == "DitherFloyd"
        || r == "DitherSierra" || r == "DitherBurkes" || r == "DitherStucki" || r == "DitherJarvis"
        || r == "DitherSierraLite" || r == "DitherSierra2Row";
}

} // namespace

TEST(ConvertFrame, PalettePictureKeepsItsPixelsAtItsOwnSize)
{
    // Edge sizes on purpose: every width remainder mod 4, one-row and one-column pictures.
    const int sizes[][2]
        = { { 1, 1 }, { 5, 1 }, { 1, 6 }, { 6, 3 }, { 7, 9 }, { 13, 8 }, { 128, 240 } };
    uint32_t seed = 1;
    for (TvcMode mode : kModes)
        for (const Method& method : Methods()) {
            if (!KeepsPaletteColours(method))
                continue;
            for (const auto& size : sizes) {
                const platform::Surface picture
                    = RandomPicture(size[0], size[1], PaletteColours(int(mode)), seed++);
                PictureBox working(size[0], size[1]);
                working.Image() = picture;
                ConvertFrame(mode, method.index, nullptr, working);
                ASSERT_EQ(working.Image(), picture) << method.caption << " in mode " << int(mode)
                                                    << " at " << size[0] << " x " << size[1];
            }
        }
}

TEST(ConvertFrame, FollowsTheWindowsStepsByteForByte)
{
    // The window's steps written out one by one on its own pictures, against the shared function
    // on another set; the same host picture in both.
    const platform::Surface frame = platform::MakeSamplePicture(kHostWidth, kHostHeight, 3);
    for (TvcMode mode : kModes)
        for (int method = kNoMethod; method <= kMethodCount; ++method) {
            // "Treshold+Noise" draws from the program's one random generator, so two runs in a
            // row differ by design; every other method is a pure function of the picture.
            if (method != kNoMethod && FindMethod(method)->routineName == "DitherThresholdNoise")
                continue;
            PictureBox pic1(kHostWidth, kHostHeight);
            pic1.Image() = frame;
            const WindowPictures byHand = WindowStepsByHand(pic1, mode, method);

            PictureBox host(kHostWidth, kHostHeight), working(WorkingWidth(mode), kWorkingHeight),
                shown(kDisplayWidth, kDisplayHeight);
            host.Image() = frame;
            const FrameTiming timing = ConvertFrame(mode, method, &host, working, &shown);
            EXPECT_EQ(working.Image(), byHand.working) << "method " << method << " mode " << int(mode);
            EXPECT_EQ(shown.Image(), byHand.display)
                << "method " << method << " mode " << int(mode);
            EXPECT_EQ(host.Image(), frame) << "the host is only read";
            EXPECT_GE(timing.elapsedSeconds, 0.0);
        }
}

TEST(ConvertFrame, WithoutAMethodTheSmoothedFrameStaysUnreduced)
{
    // Columns alternating black and white average to grey at a quarter of the width: a colour
    // of no palette, which only survives because nothing reduces it.
    PictureBox host(kHostWidth, kHostHeight), working(128, kWorkingHeight);
    for (int y = 0; y < kHostHeight; ++y)
        for (int x = 0; x < kHostWidth; ++x)
            host.Image().At(x, y) = (x % 2) ? 0xFFFFFFu : 0u;
    ConvertFrame(TvcMode::Graphics16, kNoMethod, &host, working);
    for (uint32_t p : working.Image().pixels)
        ASSERT_EQ(p, platform::Rgb(128, 128, 128));
}

TEST(ConvertFrame, LoadsTheModesPalette)
{
    PictureBox working(8, 8);
    for (TvcMode mode : kModes) {
        ConvertFrame(mode, kNoMethod, nullptr, working);
        EXPECT_EQ(Palette.size(), size_t(int(mode)));
    }
}

TEST(ConvertFrame, RefusesAnUnknownMethodBeforeTouchingAnything)
{
    PictureBox host(kHostWidth, kHostHeight, 0x123456), working(128, kWorkingHeight, 0x654321);
    for (int method : { -1, 17, 1000 }) {
        EXPECT_THROW(ConvertFrame(TvcMode::Graphics16, method, &host, working), std::out_of_range);
        for (uint32_t p : working.Image().pixels)
            ASSERT_EQ(p, 0x654321u);
    }
    EXPECT_THROW(ConvertFrame(TvcMode(8), 1, &host, working), std::out_of_range);
}
