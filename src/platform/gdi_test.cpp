#include "platform/gdi.h"
#include "platform/picture_box.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

BITMAPINFO Header24(int width, int height)
{
    BITMAPINFO info {};
    info.bmiHeader.biSize = 40;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    return info;
}

// Every pixel a distinct colour, so any misplaced copy shows.
void Number(Surface& s)
{
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            s.At(x, y) = Rgb(uint8_t(x * 7 + 1), uint8_t(y * 13 + 2), uint8_t(x + y));
}

} // namespace

TEST(BitBlt, CopiesInsideAndYieldsBlackOutsideTheSource)
{
    PictureBox src(3, 2), dst(5, 4, Rgb(9, 9, 9));
    Number(src.Image());
    ASSERT_TRUE(BitBlt(dst.hDC(), 1, 1, 4, 3, src.hDC(), 0, 0, SRCCOPY));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) {
            uint32_t expected = Rgb(9, 9, 9);
            if (x >= 1 && y >= 1)
                expected = src.Image().Contains(x - 1, y - 1) ? src.Image().At(x - 1, y - 1) : 0u;
            EXPECT_EQ(dst.Image().At(x, y), expected) << x << "," << y;
        }
}

TEST(DibSection, RowOrderFollowsTheHeightSign)
{
    PictureBox src(4, 3);
    Number(src.Image());
    for (int sign : { +1, -1 }) {
        BITMAPINFO info = Header24(4, 3 * sign);
        HDC dc = CreateCompatibleDC(nullptr);
        HBITMAP bmp = CreateDIBSection(dc, &info, DIB_RGB_COLORS, nullptr, nullptr, 0);
        ASSERT_NE(bmp, nullptr);
        SelectObject(dc, bmp);
        BitBlt(dc, 0, 0, 4, 3, src.hDC(), 0, 0, SRCCOPY);
        std::vector<uint8_t> bits(DibStrideBytes(4) * 3);
        ASSERT_EQ(GetDIBits(dc, bmp, 0, 3, bits.data(), &info, DIB_RGB_COLORS), 3);
        // Bottom-up: buffer row 0 is the picture's bottom row.
        const int firstRowY = sign > 0 ? 2 : 0;
        const uint32_t c = src.Image().At(1, firstRowY);
        EXPECT_EQ(bits[3], BlueOf(c));
        EXPECT_EQ(bits[4], GreenOf(c));
        EXPECT_EQ(bits[5], RedOf(c));
        // Drawn back one to one, the picture is upright again.
        PictureBox back(4, 3);
        SetDIBitsToDevice(back.hDC(), 0, 0, 4, 3, 0, sign > 0 ? 0 : 0, 0, 3, bits.data(), &info,
            DIB_RGB_COLORS);
        EXPECT_EQ(back.Image(), src.Image());
        EXPECT_FALSE(DeleteObject(bmp)) << "a selected bitmap must not be deleted";
        EXPECT_TRUE(DeleteDC(dc));
        EXPECT_TRUE(DeleteObject(bmp));
    }
}

TEST(DibSection, TopDownDrawFromOriginBMinusBSkipsTheBorder)
{
    // A 6 × 5 top-down buffer with a border of 1: pixel (x + 1, y + 1) lands on (x, y).
    const int W = 6, H = 5, b = 1;
    BITMAPINFO info = Header24(W, -H);
    std::vector<uint8_t> bits(DibStrideBytes(W) * H);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            uint8_t* p = bits.data() + y * DibStrideBytes(W) + 3 * x;
            p[0] = uint8_t(x), p[1] = uint8_t(y), p[2] = 77;
        }
    PictureBox dst(8, 8, Rgb(1, 2, 3));
    SetDIBitsToDevice(dst.hDC(), 0, 0, W, H, b, -b, 0, H, bits.data(), &info, DIB_RGB_COLORS);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) {
            const uint32_t expected
                = (x < W - b && y < H - b) ? Rgb(77, uint8_t(y + b), uint8_t(x + b)) : Rgb(1, 2, 3);
            EXPECT_EQ(dst.Image().At(x, y), expected) << x << "," << y;
        }
}

TEST(StretchBlt, HalftoneAveragesWhatEachPixelCovers)
{
    // A one-pixel checkerboard halved in both directions is flat grey (the average of 2 black
    // and 2 white, 127.5, rounds up).
    PictureBox src(320, 240), dst(160, 120);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x)
            src.Image().At(x, y) = ((x + y) % 2) ? 0xFFFFFFu : 0u;
    SetStretchBltMode(dst.hDC(), HALFTONE);
    StretchBlt(dst.hDC(), 0, 0, 160, 120, src.hDC(), 0, 0, 320, 240, SRCCOPY);
    for (uint32_t c : dst.Image().pixels)
        ASSERT_EQ(c, Rgb(128, 128, 128));

    // Quarter width with uneven weights: 3 source pixels into 2 → middle pixel split in halves.
    PictureBox row(3, 1), two(2, 1);
    row.Image().At(0, 0) = Rgb(30, 0, 0);
    row.Image().At(1, 0) = Rgb(90, 0, 0);
    row.Image().At(2, 0) = Rgb(210, 0, 0);
    SetStretchBltMode(two.hDC(), HALFTONE);
    StretchBlt(two.hDC(), 0, 0, 2, 1, row.hDC(), 0, 0, 3, 1, SRCCOPY);
    EXPECT_EQ(RedOf(two.Image().At(0, 0)), 50); // (30·1 + 90·0.5) / 1.5
    EXPECT_EQ(RedOf(two.Image().At(1, 0)), 170); // (90·0.5 + 210·1) / 1.5
}

TEST(StretchBlt, EqualSizeIsExactAndFlatStaysFlat)
{
    PictureBox src(37, 11), dst(37, 11);
    Number(src.Image());
    SetStretchBltMode(dst.hDC(), HALFTONE);
    StretchBlt(dst.hDC(), 0, 0, 37, 11, src.hDC(), 0, 0, 37, 11, SRCCOPY);
    EXPECT_EQ(dst.Image(), src.Image());

    PictureBox flat(512, 240, Rgb(17, 200, 93)), small(128, 240);
    SetStretchBltMode(small.hDC(), HALFTONE);
    StretchBlt(small.hDC(), 0, 0, 128, 240, flat.hDC(), 0, 0, 512, 240, SRCCOPY);
    for (uint32_t c : small.Image().pixels)
        ASSERT_EQ(c, Rgb(17, 200, 93));
}

TEST(StretchBlt, WithoutHalftoneEachSourcePixelBecomesASolidBlock)
{
    PictureBox src(128, 240), dst(512, 480);
    Number(src.Image());
    StretchBlt(dst.hDC(), 0, 0, 512, 480, src.hDC(), 0, 0, 128, 240, SRCCOPY);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 512; ++x)
            ASSERT_EQ(dst.Image().At(x, y), src.Image().At(x / 4, y / 2)) << x << "," << y;
}

TEST(StretchMode, OnlyTheFourModesAreAccepted)
{
    PictureBox box(2, 2);
    EXPECT_EQ(GetStretchBltMode(box.hDC()), BLACKONWHITE);
    EXPECT_EQ(SetStretchBltMode(box.hDC(), HALFTONE), BLACKONWHITE);
    EXPECT_EQ(SetStretchBltMode(box.hDC(), 0), 0);
    EXPECT_EQ(GetStretchBltMode(box.hDC()), HALFTONE);
}

TEST(DibSection, RejectsHeadersItCannotHold)
{
    BITMAPINFO info = Header24(4, 4);
    info.bmiHeader.biBitCount = 8;
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, nullptr, nullptr, 0), nullptr);
    info = Header24(0, 4);
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(GetDIBits(nullptr, nullptr, 0, 1, nullptr, &info, 0), 0);
}

namespace {

// The area average written the slow, obvious way: every source pixel weighed by the area it
// shares with the destination pixel, in units of 1/(wDst·hDst) of a source pixel.
uint32_t ReferenceAverage(const Surface& s, int wSrc, int hSrc, int wDst, int hDst, int x, int y)
{
    uint64_t sum[3] = { 0, 0, 0 }, total = 0;
    // Only the source pixels whose span can meet the destination pixel's.
    const int sx0 = int(int64_t(x) * wSrc / wDst), sx1 = int((int64_t(x + 1) * wSrc + wDst - 1) / wDst);
    const int sy0 = int(int64_t(y) * hSrc / hDst), sy1 = int((int64_t(y + 1) * hSrc + hDst - 1) / hDst);
    for (int sy = sy0; sy < sy1; ++sy)
        for (int sx = sx0; sx < sx1; ++sx) {
            const int64_t ox = std::max<int64_t>(0,
                std::min<int64_t>(int64_t(x + 1) * wSrc, int64_t(sx + 1) * wDst)
                    - std::max<int64_t>(int64_t(x) * wSrc, int64_t(sx) * wDst));
            const int64_t oy = std::max<int64_t>(0,
                std::min<int64_t>(int64_t(y + 1) * hSrc, int64_t(sy + 1) * hDst)
                    - std::max<int64_t>(int64_t(y) * hSrc, int64_t(sy) * hDst));
            const uint64_t w = uint64_t(ox * oy);
            const uint32_t c = s.Contains(sx, sy) ? s.At(sx, sy) : 0u;
            sum[0] += w * RedOf(c), sum[1] += w * GreenOf(c), sum[2] += w * BlueOf(c);
            total += w;
        }
    auto avg = [&](uint64_t v) { return uint8_t((v + total / 2) / total); };
    return Rgb(avg(sum[0]), avg(sum[1]), avg(sum[2]));
}

} // namespace

TEST(StretchBlt, HalftoneMatchesTheSlowAreaAverage)
{
    // Shrinking by whole and fractional factors, enlarging, one-pixel results, and a source
    // rectangle reaching past the source (which counts as black).
    const int cases[][4] = { { 512, 240, 128, 240 }, { 512, 240, 256, 240 }, { 13, 7, 5, 3 },
        { 7, 5, 13, 9 }, { 9, 9, 1, 1 }, { 1, 1, 3, 2 }, { 30, 20, 30, 7 }, { 17, 4, 6, 4 } };
    for (const auto& c : cases) {
        const int wSrc = c[0], hSrc = c[1], wDst = c[2], hDst = c[3];
        PictureBox src(std::max(1, wSrc - 2), hSrc), dst(wDst, hDst);
        Number(src.Image());
        SetStretchBltMode(dst.hDC(), HALFTONE);
        StretchBlt(dst.hDC(), 0, 0, wDst, hDst, src.hDC(), 0, 0, wSrc, hSrc, SRCCOPY);
        for (int y = 0; y < hDst; ++y)
            for (int x = 0; x < wDst; ++x)
                ASSERT_EQ(dst.Image().At(x, y),
                    ReferenceAverage(src.Image(), wSrc, hSrc, wDst, hDst, x, y))
                    << wSrc << "x" << hSrc << " -> " << wDst << "x" << hDst << " at " << x << ","
                    << y;
    }
    // Sources of exactly the stretched size, so whole runs of 2 and 4 are averaged four and two
    // output pixels at a time, with remainders of every length.
    for (int wDst : { 1, 2, 3, 4, 5, 6, 7, 128, 256 })
        for (int k : { 2, 4 }) {
            PictureBox src(wDst * k, 3), dst(wDst, 3);
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < wDst * k; ++x)
                    src.Image().At(x, y) = Rgb(uint8_t(x * 97 + y * 31),
                        uint8_t(x * 13 + 200 * (x & 1)), uint8_t(255 - x * 7 - y));
            SetStretchBltMode(dst.hDC(), HALFTONE);
            StretchBlt(dst.hDC(), 0, 0, wDst, 3, src.hDC(), 0, 0, wDst * k, 3, SRCCOPY);
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < wDst; ++x)
                    ASSERT_EQ(dst.Image().At(x, y),
                        ReferenceAverage(src.Image(), wDst * k, 3, wDst, 3, x, y))
                        << k << " to 1, " << wDst << " wide, at " << x << "," << y;
        }
}

TEST(StretchBlt, HalftoneFastPathsMatchTheSlowAreaAverageOnWholeSources)
{
    // The capture's own shapes: the whole source, same height, shrunk by 1, 2, 3 and 4 (the 2:1
    // and 4:1 paths and the general one), at the capture's width and at odd widths. Random
    // pixels make every rounding of the averages matter.
    const int cases[][2] = { { 512, 512 }, { 512, 256 }, { 512, 128 }, { 513, 171 }, { 10, 5 },
        { 14, 7 }, { 36, 9 }, { 44, 11 }, { 12, 3 }, { 15, 5 }, { 7, 7 } };
    uint32_t seed = 7;
    for (const auto& c : cases) {
        const int wSrc = c[0], wDst = c[1], h = 5;
        PictureBox src(wSrc, h), dst(wDst, h);
        for (uint32_t& p : src.Image().pixels) {
            seed = seed * 1664525u + 1013904223u;
            p = seed >> 8;
        }
        SetStretchBltMode(dst.hDC(), HALFTONE);
        StretchBlt(dst.hDC(), 0, 0, wDst, h, src.hDC(), 0, 0, wSrc, h, SRCCOPY);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < wDst; ++x) {
                const uint32_t expected = ReferenceAverage(src.Image(), wSrc, h, wDst, h, x, y);
                ASSERT_EQ(dst.Image().At(x, y), expected)
                    << wSrc << " -> " << wDst << " wide, pixel (" << x << ", " << y
                    << "): source colour there " << std::hex << src.Image().At(x * wSrc / wDst, y)
                    << ", got " << dst.Image().At(x, y) << ", the area average is " << expected;
            }
    }
}

TEST(StretchBlt, SamplingMatchesThePixelCentreRuleAtWholeAndOtherRatios)
{
    // Each destination pixel takes the source pixel under its centre: column
    // (2x + 1)·wSrc / (2·wDst), row likewise. Whole enlargements (the display copies) and others.
    const int cases[][4] = { { 512, 240, 512, 480 }, { 256, 240, 512, 480 }, { 128, 240, 512, 480 },
        { 7, 3, 21, 6 }, { 5, 4, 15, 4 }, { 6, 5, 9, 7 }, { 9, 9, 4, 3 } };
    uint32_t seed = 3;
    for (const auto& c : cases) {
        const int wSrc = c[0], hSrc = c[1], wDst = c[2], hDst = c[3];
        PictureBox src(wSrc, hSrc), dst(wDst, hDst);
        for (uint32_t& p : src.Image().pixels) {
            seed = seed * 1664525u + 1013904223u;
            p = seed >> 8;
        }
        StretchBlt(dst.hDC(), 0, 0, wDst, hDst, src.hDC(), 0, 0, wSrc, hSrc, SRCCOPY);
        for (int y = 0; y < hDst; ++y)
            for (int x = 0; x < wDst; ++x) {
                const int sx = int((2 * int64_t(x) + 1) * wSrc / (2 * int64_t(wDst)));
                const int sy = int((2 * int64_t(y) + 1) * hSrc / (2 * int64_t(hDst)));
                ASSERT_EQ(dst.Image().At(x, y), src.Image().At(sx, sy))
                    << wSrc << "x" << hSrc << " -> " << wDst << "x" << hDst << " at " << x << ","
                    << y;
            }
    }
}
