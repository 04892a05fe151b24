#include "line_palettes.h"

#include "convert/tvc_colours.h"
#include "palette_choice.h"
#include "picture_difference.h"

#include <gtest/gtest.h>

#include <bit>

namespace pelorin {
namespace {

    // Hand-worked: registers 0 15 9 10 (black, white, blue, red) before a line that shows blue,
    // green and yellow. Blue stays in register 2; green and yellow, new, take the first registers
    // whose colours the line does not show: 0 and 1. Red, unused, stays where it is.
    TEST(LinePalettes, NextLineKeepsRegistersOfColoursStillShown)
    {
        const LineColours next
            = NextLineColours({ 0, 15, 9, 10 }, (1u << 9) | (1u << 12) | (1u << 14), 4);
        EXPECT_EQ(next, (LineColours { 12, 14, 9, 10 }));
        // A line of the same colours changes nothing.
        EXPECT_EQ(NextLineColours(next, (1u << 12) | (1u << 10), 4), next);
    }

    // A picture no one palette suits: a sky of blues over a field of greens and yellows, each
    // half with a ramp across it.
    platform::Surface SkyOverField(int width)
    {
        platform::Surface s(width, kWorkingHeight);
        for (int y = 0; y < s.height; ++y)
            for (int x = 0; x < width; ++x) {
                const int u = 255 * x / (width - 1);
                s.At(x, y) = y < s.height / 2
                    ? platform::Rgb(uint8_t(u / 4), uint8_t(60 + u / 3), uint8_t(120 + u / 2))
                    : platform::Rgb(uint8_t(u * 3 / 4), uint8_t(90 + u / 2), uint8_t(20));
            }
        return s;
    }

    // Each line shows at most the mode's registers of colours, at most kMaxRegisterChanges of
    // them change from line to line, and the registers read back from the picture hold every
    // colour each line shows.
    TEST(LinePalettes, EveryLineInItsOwnColoursWithinTheBound)
    {
        for (const int number : { 2, 4 }) {
            SCOPED_TRACE(number);
            const TvcMode& mode = TvcModeOf(number);
            const platform::Surface unreduced = SkyOverField(mode.workingWidth);
            platform::Surface picture = unreduced;
            ConvertWithLinePalettes(mode, {}, picture);

            const std::vector<LineColours> lines = LineRegisterColours(picture, mode);
            ASSERT_EQ(lines.size(), size_t(kWorkingHeight));
            const size_t registers = mode.palette.size();
            for (int y = 0; y < picture.height; ++y) {
                unsigned held = 0;
                for (size_t r = 0; r < registers; ++r)
                    held |= 1u << lines[size_t(y)][r];
                for (int x = 0; x < picture.width; ++x) {
                    const uint32_t c = picture.At(x, y);
                    const std::optional<int> colour
                        = ColourOfEntry({ uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 0 });
                    ASSERT_TRUE(colour && (held >> *colour & 1u)) << x << ", " << y;
                }
                if (y > 0) {
                    int changes = 0;
                    for (size_t r = 0; r < registers; ++r)
                        changes += lines[size_t(y)][r] != lines[size_t(y - 1)][r];
                    EXPECT_LE(changes, kMaxRegisterChanges) << "line " << y;
                }
            }
            const double perLine = BlurredDifference(picture, unreduced);
            // The lines could all take the registers chosen for the whole picture; they do
            // better.
            const PaletteChoice one = ChoosePalette(mode, 2, std::span(&unreduced, 1));
            platform::Surface onePalette = unreduced;
            DitherExact({}, onePalette, PaletteOfColours(one.colours));
            EXPECT_LT(perLine, BlurredDifference(onePalette, unreduced));
        }
    }

} // namespace
} // namespace pelorin
