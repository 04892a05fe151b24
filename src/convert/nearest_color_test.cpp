#include "convert/nearest_color.h"
#include "convert/testing/nearest_color_reference.h"
#include "convert/working_bitmap.h"
#include "platform/picture_box.h"
#include "platform/runtime_error.h"

#include <gtest/gtest.h>

using namespace pelorin;
using namespace platform;

TEST(Palettes, FillsReplaceTheWholeTable)
{
    SetPalette16();
    ASSERT_EQ(Palette.size(), 16u);
    EXPECT_EQ(PackEntry(Palette[7]), Rgb(145, 145, 145));
    EXPECT_EQ(PackEntry(Palette[8]), 0u);
    EXPECT_EQ(PackEntry(Palette[3]), Rgb(145, 0, 145));
    EXPECT_EQ(PackEntry(Palette[12]), Rgb(0, 255, 0));
    EXPECT_EQ(PackEntry(Palette[14]), Rgb(255, 255, 0));
    SetPalette2();
    ASSERT_EQ(Palette.size(), 2u);
    EXPECT_EQ(PackEntry(Palette[1]), 0xFFFFFFu);
    SetPalette4();
    ASSERT_EQ(Palette.size(), 4u);
    EXPECT_EQ(PackEntry(Palette[2]), Rgb(0, 0, 255));
    EXPECT_EQ(PackEntry(Palette[3]), Rgb(255, 0, 0));
    for (auto fill : { SetPalette2, SetPalette4, SetPalette16 }) {
        fill();
        for (const PaletteEntry& e : Palette)
            EXPECT_EQ(e.Reserved, 0);
    }
}

TEST(NearestColor, DistancesAndTieBreak)
{
    SetPalette2();
    EXPECT_EQ(NearestColor(128, 128, 128), 0xFFFFFFu); // 48387 to white < 49152 to black
    EXPECT_EQ(NearestColor(127, 127, 127), 0u);
    SetPalette4();
    // 32513 from blue and from red: the lower index, blue, wins.
    EXPECT_EQ(NearestColor(128, 0, 128), Rgb(0, 0, 255));
    SetPalette16();
    EXPECT_EQ(NearestColor(128, 128, 128), Rgb(145, 145, 145));
    EXPECT_EQ(NearestColor(0, 0, 0), 0u);
    EXPECT_EQ(NearestColor(255, 255, 255), 0x00FFFFFFu);
}

TEST(NearestColor, EmptyPaletteIsAnError)
{
    Palette.clear();
    EXPECT_THROW(NearestColor(1, 2, 3), RuntimeError);
    EXPECT_THROW(NearestColorLinear(Palette, 1, 2, 3), RuntimeError);
}

// The fast table against the plain scan for every 24-bit colour, in each TVC palette and in two
// palettes with awkward ties (duplicates, entries in a line).
TEST(NearestColor, TableMatchesTheLinearScanForEveryColour)
{
    std::vector<std::vector<PaletteEntry>> palettes;
    for (auto fill : { SetPalette2, SetPalette4, SetPalette16 }) {
        fill();
        palettes.push_back(Palette);
    }
    palettes.push_back({ { 10, 10, 10, 0 }, { 20, 20, 20, 0 }, { 10, 10, 10, 0 }, { 15, 15, 15, 0 } });
    palettes.push_back({ { 0, 0, 0, 0 }, { 0, 0, 2, 0 }, { 0, 0, 4, 0 }, { 255, 0, 1, 0 } });
    for (const auto& palette : palettes) {
        const NearestColorTable table(palette);
        uint32_t mismatches = 0;
        for (uint32_t c = 0; c < (1u << 24); ++c) {
            const uint8_t r = uint8_t(c >> 16), g = uint8_t(c >> 8), b = uint8_t(c);
            mismatches += table.Lookup(r, g, b) != NearestColorLinear(palette, r, g, b);
        }
        EXPECT_EQ(mismatches, 0u) << "palette of " << palette.size();
    }
}

TEST(MapToPalette, PaletteColoursStayAndOthersMove)
{
    SetPalette16();
    PictureBox box(7, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 7; ++x)
            box.Image().At(x, y) = PackEntry(Palette[size_t(x + y * 7) % 16]);
    const Surface before = box.Image();
    MapToPalette(box, box);
    EXPECT_EQ(box.Image(), before);
    box.Image().At(3, 1) = Rgb(130, 120, 140);
    MapToPalette(box, box);
    EXPECT_EQ(box.Image().At(3, 1), Rgb(145, 145, 145));
}

TEST(MapToPalette, EqualsTheWorkingBitmapRoute)
{
    // MapToPalette writes the destination straight from the source; the route it stands for
    // goes through a bordered working bitmap (border black), maps buffer rows 2 ... H − 3 and
    // draws back. Destinations of other sizes show where the border and pad land.
    const std::pair<int, int> sizes[] = { { 7, 3 }, { 5, 1 }, { 8, 4 }, { 13, 9 }, { 1, 1 } };
    for (void (*setPalette)() : { SetPalette2, SetPalette4, SetPalette16 }) {
        setPalette();
        const NearestColorTable table(Palette);
        for (auto [sw, sh] : sizes)
            for (auto [dw, dh] : sizes) {
                PictureBox source(sw, sh);
                for (int y = 0; y < sh; ++y)
                    for (int x = 0; x < sw; ++x)
                        source.Image().At(x, y) = Rgb(
                            uint8_t(x * 37 + y * 11), uint8_t(200 - x * 23), uint8_t(y * 41 + 7));
                PictureBox expected(dw, dh, Rgb(9, 8, 7)), actual(dw, dh, Rgb(9, 8, 7));
                {
                    WorkingBitmap work(ProgramContext(), source, 4, false);
                    const BufferGeometry& g = work.Geometry();
                    MapPixels(
                        table, work.Bytes() + 2 * g.StrideBytes(), size_t(g.W) * size_t(g.H - 4));
                    work.DrawTo(expected);
                }
                MapToPalette(actual, source);
                ASSERT_EQ(actual.Image(), expected.Image())
                    << sw << "x" << sh << " onto " << dw << "x" << dh << ", " << Palette.size();
                if (dw == sw && dh == sh) {
                    // In place, as the methods call it.
                    MapToPalette(source, source);
                    ASSERT_EQ(source.Image(), expected.Image());
                }
            }
    }
}
