#include "convert/stretch_picture.h"

#include <gtest/gtest.h>

using namespace pelorin;
using namespace platform;

TEST(StretchPicture, SmoothingSetsHalftoneAndAverages)
{
    PictureBox src(320, 240), dst(160, 120, Rgb(1, 1, 1));
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            src.Image().At(x, y) = ((x + y) % 2) ? 0xFFFFFFu : 0u;
    StretchPicture(dst, src, 160, 120, 1);
    EXPECT_EQ(GetStretchBltMode(dst.hDC()), HALFTONE);
    for (uint32_t c : dst.Image().pixels)
        ASSERT_EQ(c, Rgb(128, 128, 128));
}

TEST(StretchPicture, WithoutSmoothingTheModeIsLeftAlone)
{
    PictureBox src(2, 1), dst(8, 2);
    src.Image().At(0, 0) = 0x111111;
    src.Image().At(1, 0) = 0xEEEEEE;
    StretchPicture(dst, src, 8, 2, 0);
    EXPECT_EQ(GetStretchBltMode(dst.hDC()), BLACKONWHITE);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(dst.Image().At(x, y), x < 4 ? 0x111111u : 0xEEEEEEu);
    SetStretchBltMode(dst.hDC(), HALFTONE);
    StretchPicture(dst, src, 8, 2, 0);
    EXPECT_EQ(GetStretchBltMode(dst.hDC()), HALFTONE);
}

TEST(StretchPicture, SmallerRectangleKeepsTheRestOfTheDestination)
{
    PictureBox src(4, 4, Rgb(10, 20, 30)), dst(8, 8, Rgb(200, 0, 0));
    StretchPicture(dst, src, 2, 2, 1);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ(dst.Image().At(x, y), (x < 2 && y < 2) ? Rgb(10, 20, 30) : Rgb(200, 0, 0));
}
