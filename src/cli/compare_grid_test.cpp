#include "compare_grid.h"

#include "tiny_font.h"

#include <gtest/gtest.h>

using namespace pelorin::cli;
using platform::Surface;

TEST(CompareGrid, CellsLandWhereTheOriginsSayAndLabelsStayInTheirStrips)
{
    std::vector<Surface> cells;
    std::vector<std::string> labels;
    for (int i = 0; i < 6; ++i) {
        cells.emplace_back(70, 9, uint32_t(0x010101 * (i + 1)));
        labels.push_back(std::to_string(i + 1) + " Bayer 4x4");
    }
    const Surface sheet = ComposeGrid(cells, labels, 4);
    EXPECT_EQ(sheet.width, kGridGap + 4 * (70 + kGridGap));
    EXPECT_EQ(sheet.height, kGridGap + 2 * (kLabelHeight + 9 + kGridGap));
    for (int i = 0; i < 6; ++i) {
        const CellOrigin at = GridCellOrigin(i, 4, 70, 9);
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < 70; ++x)
                ASSERT_EQ(sheet.At(at.x + x, at.y + y), cells[size_t(i)].At(0, 0)) << i;
        // Some label pixels are lit in the strip right above the cell, none beside it.
        int lit = 0;
        for (int y = at.y - kLabelHeight; y < at.y; ++y)
            for (int x = at.x; x < at.x + 70; ++x)
                lit += sheet.At(x, y) == kLabelColour;
        EXPECT_GT(lit, 20) << i;
        for (int y = at.y - kLabelHeight; y < at.y + 9; ++y)
            ASSERT_EQ(sheet.At(at.x - 1, y), kGridBackground);
    }
}

TEST(CompareGrid, RefusesMismatchedCells)
{
    std::vector<Surface> cells = { Surface(4, 4), Surface(4, 5) };
    std::vector<std::string> labels = { "a", "b" };
    EXPECT_THROW(ComposeGrid(cells, labels, 4), std::invalid_argument);
    labels.pop_back();
    cells.pop_back();
    cells.push_back(Surface(4, 4));
    EXPECT_THROW(ComposeGrid(cells, labels, 4), std::invalid_argument);
    std::vector<Surface> huge = { Surface(20000, 1), Surface(20000, 1) };
    std::vector<std::string> two = { "a", "b" };
    EXPECT_THROW(ComposeGrid(huge, two, 2), std::invalid_argument);
}

TEST(TinyFont, GlyphsDifferAndClipAtTheEdges)
{
    // Each captions' character draws its own shape: no two of them identical.
    const std::string chars = "AaBbCcDdEeFfGgHhIiJjKkLlMmNnOoPpQqRrSsTtUuVvWwXxYyZz0123456789+-";
    std::vector<Surface> drawn;
    for (char c : chars) {
        Surface s(kGlyphWidth, kGlyphHeight, 0);
        DrawText(s, 0, 0, std::string(1, c), 1, 1);
        for (const Surface& other : drawn)
            ASSERT_NE(s, other) << c;
        drawn.push_back(s);
    }
    Surface small(3, 3, 0);
    DrawText(small, -2, -2, "WW", 1, 3); // partly outside: no crash, some pixels set
    EXPECT_EQ(TextWidth("ab", 2), (2 * kGlyphAdvance - 1) * 2);
}
