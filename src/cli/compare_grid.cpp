#include "compare_grid.h"

#include "tiny_font.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace pelorin::cli {

CellOrigin GridCellOrigin(int index, int columns, int cellWidth, int cellHeight)
{
    const int column = index % columns, row = index / columns;
    return { kGridGap + column * (cellWidth + kGridGap),
        kGridGap + kLabelHeight + row * (kLabelHeight + cellHeight + kGridGap) };
}

GridSize GridSheetSize(int64_t count, int columns, int cellWidth, int cellHeight)
{
    const int64_t usedColumns = std::min<int64_t>(columns, count);
    const int64_t rows = (count + columns - 1) / columns;
    return { kGridGap + usedColumns * (int64_t(cellWidth) + kGridGap),
        kGridGap + rows * (int64_t(kLabelHeight) + cellHeight + kGridGap) };
}

platform::Surface ComposeGrid(
    std::span<const platform::Surface> pictures, std::span<const std::string> labels, int columns)
{
    if (pictures.empty() || pictures.size() != labels.size() || columns <= 0)
        throw std::invalid_argument("a comparison grid needs one label per picture");
    const int w = pictures[0].width, h = pictures[0].height;
    for (const platform::Surface& p : pictures)
        if (p.width != w || p.height != h)
            throw std::invalid_argument("the pictures of a comparison grid differ in size");
    const int64_t count = int64_t(pictures.size());
    const auto [sheetWidth, sheetHeight] = GridSheetSize(count, columns, w, h);
    if (sheetWidth > platform::kMaxSurfaceSide || sheetHeight > platform::kMaxSurfaceSide)
        throw std::invalid_argument("a grid of " + std::to_string(count) + " pictures of "
            + std::to_string(w) + " x " + std::to_string(h) + " pixels would be "
            + std::to_string(sheetWidth) + " x " + std::to_string(sheetHeight)
            + ", larger than a picture may be");

    platform::Surface sheet(int(sheetWidth), int(sheetHeight), kGridBackground);
    for (int i = 0; i < int(count); ++i) {
        const CellOrigin at = GridCellOrigin(i, columns, w, h);
        for (int y = 0; y < h; ++y)
            std::memcpy(sheet.Row(at.y + y) + at.x, pictures[size_t(i)].Row(y), size_t(w) * 4);
        // The label sits in its strip, 3 pixels above the picture, cut at the cell's width.
        std::string label = labels[size_t(i)];
        while (!label.empty() && TextWidth(label, kLabelScale) > w)
            label.pop_back();
        DrawText(sheet, at.x, at.y - kLabelHeight + 3, label, kLabelColour, kLabelScale);
    }
    return sheet;
}

} // namespace pelorin::cli
