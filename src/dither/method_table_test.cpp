#include "convert/nearest_color.h"
#include "method_table.h"
#include "platform/sample_picture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <stdexcept>

using namespace pelorin;
using namespace platform;

namespace {

struct Mode {
    const char* name;
    void (*setPalette)();
    int width;
};
const Mode kModes[] = { { "Graphics 2", SetPalette2, 512 }, { "Graphics 4", SetPalette4, 256 },
    { "Graphics 16", SetPalette16, 128 } };

bool InPalette(uint32_t c)
{
    return std::any_of(
        Palette.begin(), Palette.end(), [&](const PaletteEntry& e) { return PackEntry(e) == c; });
}

// Methods whose output is the input when the input already holds only palette colours: the
// error-diffusion methods and the plain threshold.
bool KeepsAnyPalettePicture(int index) { return index <= 3 || index >= 11; }

} // namespace

TEST(MethodTable, IndexLookup)
{
    EXPECT_EQ(FindMethod(0), nullptr);
    EXPECT_EQ(FindMethod(17), nullptr);
    EXPECT_EQ(FindMethod(-1), nullptr);
    std::set<std::string_view> captions;
    for (int i = 1; i <= kMethodCount; ++i) {
        ASSERT_NE(FindMethod(i), nullptr);
        EXPECT_EQ(FindMethod(i)->index, i);
        EXPECT_EQ(FindMethod(i), &Methods()[size_t(i - 1)]);
        captions.insert(FindMethod(i)->caption);
    }
    EXPECT_EQ(captions.size(), size_t(kMethodCount));
    PictureBox box(4, 4);
    EXPECT_THROW(RunMethod(0, box), std::out_of_range);
    EXPECT_THROW(RunMethod(17, box), std::out_of_range);
}

TEST(MethodTable, EveryMethodLeavesOnlyPaletteColoursInEveryMode)
{
    for (const Mode& mode : kModes) {
        mode.setPalette();
        const Surface picture = MakeSamplePicture(mode.width, 240);
        for (const Method& method : Methods()) {
            PictureBox box(mode.width, 240);
            box.Image() = picture;
            RunMethod(method.index, box);
            const auto& px = box.Image().pixels;
            const auto stray = std::find_if_not(px.begin(), px.end(), InPalette);
            EXPECT_EQ(stray, px.end()) << method.caption << " in " << mode.name;
        }
    }
}

TEST(MethodTable, PalettePicturesComeOutUnchanged)
{
    for (const Mode& mode : kModes) {
        mode.setPalette();
        for (auto [w, h] :
            { std::pair { mode.width, 240 }, { 1, 1 }, { 3, 5 }, { 7, 2 }, { 13, 9 } }) {
            // Every palette colour, scattered; and each palette colour alone.
            PictureBox scattered(w, h);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    scattered.Image().At(x, y)
                        = PackEntry(Palette[size_t(x * 5 + y * 3 + x / 3) % Palette.size()]);
            for (const Method& method : Methods()) {
                // Bayer screens each channel to 0 or 255 pixel by pixel, so they keep pictures
                // of such colours: all of Graphics 2 and Graphics 4.
                const bool bayer = method.index >= 7 && method.index <= 9;
                if (KeepsAnyPalettePicture(method.index) || (bayer && Palette.size() <= 4)) {
                    PictureBox box(w, h);
                    box.Image() = scattered.Image();
                    RunMethod(method.index, box);
                    EXPECT_EQ(box.Image(), scattered.Image())
                        << method.caption << " in " << mode.name << " at " << w << " x " << h;
                }
                // The 2 × 2 and 3 × 3 halftones keep a uniform picture of such a colour.
                const bool halftone = method.index == 5 || method.index == 6;
                if (halftone && Palette.size() <= 4)
                    for (const PaletteEntry& e : Palette) {
                        PictureBox box(w, h);
                        box.Image().Fill(PackEntry(e));
                        RunMethod(method.index, box);
                        EXPECT_EQ(box.Image(), Surface(w, h, PackEntry(e)))
                            << method.caption << " in " << mode.name << " at " << w << " x " << h;
                    }
            }
        }
    }
}

TEST(MethodTable, RunMethodEqualsTheRoutineThenMapToPalette)
{
    // RunMethod may leave out a MapToPalette that cannot change a pixel; the result must be the
    // routine followed by MapToPalette all the same.
    for (const Mode& mode : kModes) {
        mode.setPalette();
        for (auto [w, h] : { std::pair { mode.width, 240 }, { 1, 1 }, { 13, 9 } }) {
            const Surface picture = MakeSamplePicture(w, h, w * h);
            for (const Method& method : Methods()) {
                if (!method.thenMapToPalette)
                    continue;
                PictureBox run(w, h), steps(w, h);
                run.Image() = picture;
                steps.Image() = picture;
                RunMethod(method.index, run);
                RunRoutine(ProgramContext(), method, steps, steps);
                MapToPalette(steps, steps);
                EXPECT_EQ(run.Image(), steps.Image())
                    << method.caption << " in " << mode.name << " at " << w << " x " << h;
            }
        }
    }
}
