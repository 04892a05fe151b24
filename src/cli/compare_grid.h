#pragma once
// The comparison sheet: pictures of one size in a grid, row by row, each under a label strip.
#include "platform/surface.h"

#include <span>
#include <string>

namespace pelorin::cli {

constexpr int kGridGap = 8; // pixels between cells and around the sheet
constexpr int kLabelScale = 2; // font pixels are 2 × 2
constexpr int kLabelHeight = 7 * kLabelScale + 6; // the strip above each cell
constexpr uint32_t kGridBackground = 0x202020;
constexpr uint32_t kLabelColour = 0xFFFFFF;

// Cell i goes to column i mod columns, row i / columns; its picture's top-left corner is at
// (gap + column·(W + gap), gap + kLabelHeight + row·(kLabelHeight + H + gap)). Throws
// std::invalid_argument when the pictures differ in size, the counts differ, or the sheet would
// exceed platform::kMaxSurfaceSide.
platform::Surface ComposeGrid(
    std::span<const platform::Surface> pictures, std::span<const std::string> labels, int columns);

// The size of the sheet ComposeGrid makes of `count` pictures of `cellWidth` × `cellHeight`.
struct GridSize {
    int64_t width;
    int64_t height;
};
GridSize GridSheetSize(int64_t count, int columns, int cellWidth, int cellHeight);

// Where ComposeGrid puts cell `index`'s picture.
struct CellOrigin {
    int x;
    int y;
};
CellOrigin GridCellOrigin(int index, int columns, int cellWidth, int cellHeight);

} // namespace pelorin::cli
