#include "convert/working_bitmap.h"
#include "platform/runtime_error.h"

#include <gtest/gtest.h>

#include <vector>

using namespace pelorin;
using namespace platform;

namespace {

void Number(Surface& s)
{
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x)
            s.At(x, y) = Rgb(uint8_t(x * 7 + 1), uint8_t(y * 13 + 2), uint8_t(x + y + 100));
}

uint32_t PixelAt(const WorkingBitmap& work, int x, int y)
{
    const BufferGeometry& g = work.Geometry();
    const uint8_t* p = work.Bytes() + 3 * (size_t(y) * g.W + x);
    return Rgb(p[2], p[1], p[0]);
}

} // namespace

TEST(BufferGeometry, PadAndWidthForEveryRemainder)
{
    // SW = 160 … 163: pad 0, 3, 2, 1; W always a multiple of 4.
    for (int sw : { 160, 161, 162, 163 }) {
        const int pad = (4 - sw % 4) % 4;
        for (int b : { 0, 4, 8 }) {
            const BufferGeometry g = ComputeGeometry(sw, 10, b);
            EXPECT_EQ(g.pad, pad);
            EXPECT_EQ(g.W % 4, 0);
            EXPECT_EQ(g.W, sw + pad + (b == 8 ? 16 : 8));
            EXPECT_EQ(g.H, 10 + 2 * b);
        }
    }
    EXPECT_EQ(ComputeGeometry(160, 1, 4).W, 168);
    EXPECT_EQ(ComputeGeometry(160, 1, 8).W, 176);
    EXPECT_EQ(ComputeGeometry(160, 1, 0).W, 168);
    EXPECT_EQ(ComputeGeometry(161, 1, 4).W, 172);
    EXPECT_THROW(ComputeGeometry(0, 5, 4), RuntimeError);
}

TEST(PadBorders, TwoByTwoPicture)
{
    PictureBox box(2, 2);
    Number(box.Image());
    WorkingBitmap work(ProgramContext(), box, 4, true);
    const BufferGeometry& g = work.Geometry();
    ASSERT_EQ(g.W, 12);
    ASSERT_EQ(g.H, 10);
    for (int y = 0; y < g.H; ++y)
        for (int x = 0; x < g.W; ++x) {
            const bool pictureColumn = x >= 4 && x <= 5, pictureRow = y >= 4 && y <= 5;
            uint32_t expected = 0; // corners and pad columns 10 … 11 stay black
            if (pictureColumn && pictureRow)
                expected = box.Image().At(x - 4, y - 4);
            else if (pictureColumn && y < 4)
                expected = box.Image().At(x - 4, 0);
            else if (pictureColumn && y > 5)
                expected = box.Image().At(x - 4, 1);
            else if (pictureRow && x < 4)
                expected = box.Image().At(0, y - 4);
            else if (pictureRow && x >= 6 && x <= 9)
                expected = box.Image().At(1, y - 4);
            EXPECT_EQ(PixelAt(work, x, y), expected) << x << "," << y;
        }
}

TEST(WorkingBitmap, BorderedRoundTripLeavesThePictureInPlace)
{
    // Odd sizes on purpose: every remainder of the width mod 4, and a single row.
    for (int sw : { 1, 2, 3, 4, 5, 13 })
        for (int sh : { 1, 7 })
            for (int b : { 4, 8 })
                for (bool pad : { false, true }) {
                    PictureBox box(sw, sh);
                    Number(box.Image());
                    const Surface before = box.Image();
                    {
                        WorkingBitmap work(ProgramContext(), box, b, pad);
                        work.DrawTo(box);
                    }
                    EXPECT_EQ(box.Image(), before) << sw << "x" << sh << " b=" << b;
                    EXPECT_EQ(WorkDC, nullptr);
                    EXPECT_EQ(WorkBitmap, nullptr);
                }
}

TEST(WorkingBitmap, PlainLayoutIsBottomUpWithBlackBeyondTheRightEdge)
{
    PictureBox box(5, 3);
    Number(box.Image());
    WorkingBitmap work(ProgramContext(), box, 0, false);
    const BufferGeometry& g = work.Geometry();
    ASSERT_EQ(g.W, 16);
    ASSERT_EQ(g.H, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < g.W; ++x)
            EXPECT_EQ(PixelAt(work, x, y), x < 5 ? box.Image().At(x, 2 - y) : 0u);
    PictureBox out(5, 3);
    work.DrawTo(out);
    EXPECT_EQ(out.Image(), box.Image());
}

TEST(WorkingBitmap, BufferEqualsTheDibSectionRoute)
{
    // The buffer is written straight from the picture; here it is made the long way, through a
    // 24-bit DIB section: copied in, border filled, read back.
    for (int sw : { 1, 2, 3, 4, 5, 6, 7, 13 })
        for (int sh : { 1, 2, 5 })
            for (int b : { 0, 4, 8 })
                for (bool pad : { false, true }) {
                    if (b == 0 && pad)
                        continue;
                    PictureBox box(sw, sh);
                    Number(box.Image());
                    const BufferGeometry g = ComputeGeometry(sw, sh, b);
                    BITMAPINFO info {};
                    info.bmiHeader = { 40, g.W, b == 0 ? g.H : -g.H, 1, 24, BI_RGB };
                    WorkDC = CreateCompatibleDC(nullptr);
                    WorkBitmap
                        = CreateDIBSection(WorkDC, &info, DIB_RGB_COLORS, nullptr, nullptr, 0);
                    SelectObject(WorkDC, WorkBitmap);
                    if (b == 0)
                        BitBlt(WorkDC, 0, 0, g.W, sh, box.hDC(), 0, 0, SRCCOPY);
                    else
                        BitBlt(WorkDC, b, b, sw, g.H, box.hDC(), 0, 0, SRCCOPY);
                    if (pad)
                        PadBorders(box, b);
                    std::vector<uint8_t> expected(g.SizeBytes(), 0xAB);
                    ASSERT_EQ(GetDIBits(WorkDC, WorkBitmap, 0, unsigned(g.H), expected.data(),
                                  &info, DIB_RGB_COLORS),
                        g.H);
                    DeleteDC(WorkDC);
                    DeleteObject(WorkBitmap);
                    WorkDC = nullptr;
                    WorkBitmap = nullptr;

                    const WorkingBitmap work(ProgramContext(), box, b, pad);
                    ASSERT_EQ(std::vector<uint8_t>(work.Bytes(), work.Bytes() + g.SizeBytes()),
                        expected)
                        << sw << "x" << sh << " b=" << b << " pad=" << pad;
                }
}

TEST(WorkingBitmap, BorderedCopyBringsBlackBelowThePicture)
{
    // Without the border fill, the rows below the picture hold what the copy found below the
    // source: black, since nothing lies there.
    PictureBox box(3, 2, Rgb(50, 60, 70));
    WorkingBitmap work(ProgramContext(), box, 4, false);
    for (int y = 0; y < work.Geometry().H; ++y)
        for (int x = 0; x < work.Geometry().W; ++x) {
            const bool picture = x >= 4 && x < 7 && y >= 4 && y < 6;
            EXPECT_EQ(PixelAt(work, x, y), picture ? Rgb(50, 60, 70) : 0u) << x << "," << y;
        }
}
