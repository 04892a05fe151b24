#include "convert/nearest_color.h"
#include "threshold.h"

#include <gtest/gtest.h>

using namespace pelorin;
using namespace platform;

TEST(Threshold, GreyRampSplitsAt128WithoutPattern)
{
    SetPalette2();
    PictureBox box(256, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 256; ++x)
            box.Image().At(x, y) = Rgb(uint8_t(x), uint8_t(x), uint8_t(x));
    DitherThreshold(box, box, 128);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 256; ++x)
            ASSERT_EQ(box.Image().At(x, y), x < 128 ? 0u : 0xFFFFFFu) << x;
}

TEST(Threshold, PaletteColoursStayAndTheLevelIsIgnored)
{
    SetPalette16();
    for (int w : { 1, 2, 3, 4, 5, 128 }) {
        PictureBox box(w, 5), other(w, 5);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < w; ++x) {
                box.Image().At(x, y) = PackEntry(Palette[size_t(x * 3 + y) % 16]);
                other.Image().At(x, y) = Rgb(uint8_t(x * 40), uint8_t(y * 60), 90);
            }
        const Surface before = box.Image();
        DitherThreshold(box, box, 128);
        EXPECT_EQ(box.Image(), before) << w;
        PictureBox a(w, 5), b(w, 5);
        DitherThreshold(a, other, 128);
        DitherThreshold(b, other, 3);
        EXPECT_EQ(a.Image(), b.Image());
    }
}
