#include "palette_choice.h"

#include "convert/tvc_colours.h"
#include "frame_pipeline.h"
#include "vram.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace pelorin {
namespace {

    constexpr int kFloyd = 2;
    constexpr int kAtkinson = 1;
    constexpr int kBayer4x4 = 8;

    // A small picture with the look of a photograph: smooth hue and light ramps with a patch,
    // so no fixed palette is right for it.
    platform::Surface Scene(int width, int height, int variant)
    {
        platform::Surface s(width, height);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const double u = double(x) / (width - 1), v = double(y) / (height - 1);
                int r = 0, g = 0, b = 0;
                switch (variant) {
                case 0: // a green field under a pale sky
                    r = int(60 + 140 * v * (1 - v) + 40 * u);
                    g = int(120 + 100 * (1 - v));
                    b = int(v < 0.4 ? 220 - 80 * v : 40);
                    break;
                case 1: // warm skin tones in a dim room
                    r = int(80 + 150 * u);
                    g = int(40 + 90 * u * v);
                    b = int(30 + 40 * v);
                    break;
                default: // a sunset: yellow over dark blue
                    r = int(255 * (1 - v));
                    g = int(200 * (1 - v) * (1 - u * 0.5));
                    b = int(60 + 100 * v);
                    break;
                }
                if ((x / 5 + y / 4) % 7 == 0) // a patch of texture
                    r = 255 - r;
                s.At(x, y) = platform::Rgb(uint8_t(std::clamp(r, 0, 255)),
                    uint8_t(std::clamp(g, 0, 255)), uint8_t(std::clamp(b, 0, 255)));
            }
        return s;
    }

    double BruteForceBest(const TvcMode& mode, int method,
        std::span<const platform::Surface> pictures,
        const std::optional<ExactDiffusionSettings>& exact = std::nullopt)
    {
        double best = 1e9;
        for (const std::vector<int>& set : CandidateSets(mode))
            best = std::min(best, PaletteDifference(mode, method, set, pictures, exact));
        return best;
    }

    TEST(PaletteRegisters, DefaultColoursAreTheModesOwn)
    {
        EXPECT_EQ(DefaultColours(TvcModeOf(2)), (std::vector<int> { 0, 15 }));
        EXPECT_EQ(DefaultColours(TvcModeOf(4)), (std::vector<int> { 0, 15, 9, 10 }));
        const std::vector<PaletteEntry> own = PaletteOfColours(DefaultColours(TvcModeOf(4)));
        EXPECT_TRUE(std::equal(own.begin(), own.end(), kTvcPalette4.begin(), kTvcPalette4.end()));
    }

    TEST(PaletteSearch, CandidatesAreEverySetOfDistinctColoursOnce)
    {
        for (const int number : { 2, 4 }) {
            const TvcMode& mode = TvcModeOf(number);
            const auto sets = CandidateSets(mode);
            // 15 distinct colours (black counted once): C(15, 2) = 105, C(15, 4) = 1365; the
            // mode's own set stands first in its own order, in place of its sorted copy.
            EXPECT_EQ(sets.size(), number == 2 ? 105u : 1365u);
            EXPECT_EQ(sets.front(), DefaultColours(mode));
            std::set<std::vector<int>> seen;
            for (const auto& set : sets) {
                std::vector<int> sorted = set;
                std::sort(sorted.begin(), sorted.end());
                EXPECT_TRUE(seen.insert(sorted).second);
                EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
                EXPECT_EQ(std::count(set.begin(), set.end(), 8), 0);
            }
        }
    }

    TEST(PaletteSearch, PictureOfFourMachineColoursGetsExactlyThose)
    {
        // Four blocks of dark blue, dark yellow, green and yellow: those registers reproduce the
        // picture without error, so nothing else can win.
        const int colours[4] = { 1, 6, 12, 14 };
        platform::Surface picture(32, 16);
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 32; ++x)
                picture.At(x, y) = PackEntry(kTvcPalette16[size_t(colours[x / 8])]);
        const PaletteChoice choice = ChoosePalette(TvcModeOf(4), kFloyd, { &picture, 1 });
        EXPECT_EQ(choice.colours, (std::vector<int> { 1, 6, 12, 14 }));
        EXPECT_EQ(choice.difference, 0.0);
        EXPECT_GT(choice.defaultDifference, 10.0);
    }

    // The search against a brute force over every set, by the method itself at full size.
    TEST(PaletteSearch, FindsTheExhaustiveOptimumOnSmallPictures)
    {
        struct Case {
            int mode, method, variant;
        };
        // A brute force in "Graphics 4" builds 1,365 nearest-colour tables: few cases there.
        for (const Case& c : { Case { 4, kFloyd, 1 }, Case { 4, kBayer4x4, 2 },
                 Case { 2, kFloyd, 1 }, Case { 2, kAtkinson, 0 }, Case { 2, kBayer4x4, 2 } }) {
            const TvcMode& mode = TvcModeOf(c.mode);
            const platform::Surface picture = Scene(30, 24, c.variant);
            const PaletteChoice choice = ChoosePalette(mode, c.method, { &picture, 1 });
            const double best = BruteForceBest(mode, c.method, { &picture, 1 });
            EXPECT_DOUBLE_EQ(choice.difference, best)
                << "mode " << c.mode << " method " << c.method << " picture " << c.variant
                << ": chose " << RegisterText(choice.colours);
            EXPECT_DOUBLE_EQ(choice.difference,
                PaletteDifference(mode, c.method, choice.colours, { &picture, 1 }));
            EXPECT_LE(choice.difference, choice.defaultDifference);
        }
    }

    // With the exact engine, and its perceptual distance, the search scores by what will draw
    // the registers: it finds the brute force's best by the same measure.
    TEST(PaletteSearch, ExactDiffusionFindsTheExhaustiveOptimumByItsOwnMeasure)
    {
        const TvcMode& mode = TvcModeOf(2);
        const platform::Surface picture = Scene(30, 24, 2);
        for (const ColourDistance distance : { ColourDistance::Rgb, ColourDistance::Perceptual }) {
            ExactDiffusionSettings exact;
            exact.distance = distance;
            const PaletteChoice choice = ChoosePalette(mode, kFloyd, { &picture, 1 }, exact);
            EXPECT_DOUBLE_EQ(
                choice.difference, BruteForceBest(mode, kFloyd, { &picture, 1 }, exact))
                << "chose " << RegisterText(choice.colours);
            EXPECT_DOUBLE_EQ(choice.difference,
                PaletteDifference(mode, kFloyd, choice.colours, { &picture, 1 }, exact));
            EXPECT_NE(choice.difference,
                PaletteDifference(mode, kFloyd, choice.colours, { &picture, 1 }));
        }
    }

    TEST(PaletteSearch, SeveralPicturesShareOneChoice)
    {
        const platform::Surface pictures[2] = { Scene(30, 24, 0), Scene(30, 24, 2) };
        const PaletteChoice choice = ChoosePalette(TvcModeOf(4), kFloyd, pictures);
        EXPECT_DOUBLE_EQ(choice.difference, BruteForceBest(TvcModeOf(4), kFloyd, pictures));
    }

    TEST(PaletteSearch, RefusesWhatItCannotChooseFor)
    {
        const platform::Surface picture = Scene(8, 8, 0);
        EXPECT_THROW(ChoosePalette(TvcModeOf(16), kFloyd, { &picture, 1 }), std::invalid_argument);
        EXPECT_THROW(ChoosePalette(TvcModeOf(4), 17, { &picture, 1 }), std::invalid_argument);
        EXPECT_THROW(ChoosePalette(TvcModeOf(4), kFloyd, {}), std::invalid_argument);
        const platform::Surface mixed[2] = { Scene(8, 8, 0), Scene(9, 8, 0) };
        EXPECT_THROW(ChoosePalette(TvcModeOf(4), kFloyd, mixed), std::invalid_argument);
    }

    TEST(PaletteRegisters, ChosenPaletteReachesTheConversionAndVideoMemory)
    {
        const TvcMode& mode = TvcModeOf(4);
        platform::PictureBox host(kHostWidth, kHostHeight);
        host.Image() = Scene(kHostWidth, kHostHeight, 1);
        const std::vector<int> colours { 2, 14, 0, 6 };
        const std::vector<PaletteEntry> palette = PaletteOfColours(colours);
        ConversionContext context;
        platform::PictureBox working(mode.workingWidth, mode.workingHeight);
        FrameOptions options;
        options.palette = &palette;
        ConvertFrame(context, mode, kFloyd, &host, working, nullptr, options);
        EXPECT_EQ(context.palette, palette);
        std::set<uint32_t> seen(working.Image().pixels.begin(), working.Image().pixels.end());
        for (const uint32_t c : seen)
            EXPECT_NE(std::find_if(palette.begin(), palette.end(),
                          [&](const PaletteEntry& e) { return PackEntry(e) == c; }),
                palette.end());
        EXPECT_GE(seen.size(), 3u);

        // Video memory holds register numbers: a pixel of colour 14 (register 1) in the top
        // left corner sets the low bit of pixel 0, bit 7 of the first byte.
        working.Image().At(0, 0) = PackEntry(kTvcPalette16[14]);
        working.Image().At(1, 0) = PackEntry(kTvcPalette16[6]); // register 3: bits 6 and 2
        std::vector<uint8_t> bytes;
        PackVram(working.Image(), mode, bytes, palette);
        EXPECT_EQ(bytes[0] & 0xCC, 0x80 | 0x40 | 0x04);
        std::vector<uint8_t> refused;
        EXPECT_THROW(PackVram(working.Image(), mode, refused), std::invalid_argument);
    }

    TEST(PaletteRegisters, TheModesOwnColoursGiveTheModesOwnBytes)
    {
        for (const int number : { 2, 4 }) {
            const TvcMode& mode = TvcModeOf(number);
            platform::PictureBox host(kHostWidth, kHostHeight);
            host.Image() = Scene(kHostWidth, kHostHeight, 2);
            const std::vector<PaletteEntry> palette = PaletteOfColours(DefaultColours(mode));
            ConversionContext plainContext, chosenContext;
            platform::PictureBox plain(mode.workingWidth, mode.workingHeight);
            platform::PictureBox chosen(mode.workingWidth, mode.workingHeight);
            ConvertFrame(plainContext, mode, kFloyd, &host, plain);
            FrameOptions options;
            options.palette = &palette;
            ConvertFrame(chosenContext, mode, kFloyd, &host, chosen, nullptr, options);
            EXPECT_EQ(plain.Image(), chosen.Image()) << "mode " << number;
        }
    }

} // namespace
} // namespace pelorin
