#pragma once
// The error-diffusion engine behind the eight error-diffusion methods, and their kernels as data.
// Internal to dither/: the window and the tools call the routines of error_diffusion.h.
//
// The engine works on a bordered working buffer with a border of 4 pixels (working_bitmap.h):
// W pixels of 3 bytes (blue, green, red) per row, rows 3·W bytes apart, H rows, top row first.
// It visits every pixel of buffer rows G ... H − 1 − G in increasing byte order, border and pad
// columns included, replaces the pixel by its nearest palette colour and adds weight·q to each
// kernel neighbour's channel byte, where q = (old − new) / divisor truncated toward zero and every
// single addition is clamped to 0 ... 255. The error lives in the pixel bytes themselves.
// Neighbours sit at fixed offsets on the flat buffer (3·dx + 3·W·dy bytes), so a kernel entry
// that reaches past a row end lands in the next row's first columns, and one that reaches left of
// a row's first pixel lands in the same row's last columns. Those are border columns; the border
// and the guard rows keep every offset inside the buffer.
#include "convert/nearest_color.h"
#include "convert/working_bitmap.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace pelorin {

struct KernelEntry {
    int dx; // pixels to the right (negative: left)
    int dy; // rows down
    int weight;
};

struct DiffusionKernel {
    std::string_view routineName;
    int divisor;
    int entryCount;
    std::array<KernelEntry, 12> entries; // the first entryCount, in update order
    int guardRows; // G: the scan covers buffer rows G ... H − 1 − G
    bool padBorders; // whether the border is filled from the picture's edges before the scan
};

// The order of kDiffusionKernels.
enum class DiffusionMethod {
    Atkinson,
    Floyd,
    Sierra,
    Burkes,
    Stucki,
    Jarvis,
    SierraLite,
    Sierra2Row
};
constexpr int kDiffusionMethodCount = 8;

// clang-format off
inline constexpr std::array<DiffusionKernel, kDiffusionMethodCount> kDiffusionKernels { {
    { "DitherAtkinson", 8, 6,
        { { { 1, 0, 1 }, { 2, 0, 1 },
            { -1, 1, 1 }, { 0, 1, 1 }, { 1, 1, 1 },
            { 0, 2, 1 } } },
        2, false },
    { "DitherFloyd", 16, 4,
        { { { 1, 0, 7 },
            { -1, 1, 3 }, { 0, 1, 5 }, { 1, 1, 1 } } },
        2, true },
    { "DitherSierra", 32, 10,
        { { { 1, 0, 5 }, { 2, 0, 3 },
            { -2, 1, 2 }, { -1, 1, 4 }, { 0, 1, 5 }, { 1, 1, 4 }, { 2, 1, 2 },
            { -1, 2, 2 }, { 0, 2, 3 }, { 1, 2, 2 } } },
        4, true },
    { "DitherBurkes", 32, 7,
        { { { 1, 0, 8 }, { 2, 0, 4 },
            { -2, 1, 2 }, { -1, 1, 4 }, { 0, 1, 8 }, { 1, 1, 4 }, { 2, 1, 2 } } },
        2, true },
    { "DitherStucki", 42, 12,
        { { { 1, 0, 8 }, { 2, 0, 4 },
            { -2, 1, 2 }, { -1, 1, 4 }, { 0, 1, 8 }, { 1, 1, 4 }, { 2, 1, 2 },
            { -2, 2, 1 }, { -1, 2, 2 }, { 0, 2, 4 }, { 1, 2, 2 }, { 2, 2, 1 } } },
        4, true },
    { "DitherJarvis", 48, 12,
        { { { 1, 0, 7 }, { 2, 0, 5 },
            { -2, 1, 3 }, { -1, 1, 5 }, { 0, 1, 7 }, { 1, 1, 5 }, { 2, 1, 3 },
            { -2, 2, 1 }, { -1, 2, 3 }, { 0, 2, 5 }, { 1, 2, 3 }, { 2, 2, 1 } } },
        4, true },
    { "DitherSierraLite", 4, 3,
        { { { 1, 0, 2 },
            { -1, 1, 1 }, { 0, 1, 1 } } },
        2, true },
    { "DitherSierra2Row", 16, 7,
        { { { 1, 0, 4 }, { 2, 0, 3 },
            { -2, 1, 1 }, { -1, 1, 2 }, { 0, 1, 3 }, { 1, 1, 2 }, { 2, 1, 1 } } },
        2, true },
} };
// clang-format on

constexpr const DiffusionKernel& KernelOf(DiffusionMethod method)
{
    return kDiffusionKernels[static_cast<size_t>(method)];
}

// The border width of the buffer every kernel runs on.
constexpr int kDiffusionBorder = 4;

// Runs `method`'s scan over a bordered (b = 4) buffer of `geometry`, matching colours with
// `table`. The buffer must be geometry.SizeBytes() long; geometry.H must be at least 2·G + 1.
void DiffuseErrors(DiffusionMethod method, uint8_t* buffer, const BufferGeometry& geometry,
    const NearestColorTable& table);

// Steady dithering changes only the choice of a pixel's colour: where the frame before left a
// colour p at this buffer pixel and c, the pixel's colour with the error received, is nearly as
// close to p as to its nearest palette colour n, p is kept — when
// 16·|c − p|² ≤ scale16·|c − n|² + offset (squared RGB distances). The error actually made is
// diffused as usual, so the local average stays right while the pattern stays put.
struct SteadyTolerance {
    int scale16;
    int offset;
};
inline constexpr SteadyTolerance kSteadyTolerance { 24, 16 * 1200 };

// DiffuseErrors with the steady choice. `previous` is the buffer the scan of the frame before
// left behind (same geometry, kernel and palette, so a palette colour at every scanned pixel), or
// null: then the bytes are exactly those of DiffuseErrors.
void SteadyDiffuseErrors(DiffusionMethod method, uint8_t* buffer, const BufferGeometry& geometry,
    const NearestColorTable& table, const uint8_t* previous,
    SteadyTolerance tolerance = kSteadyTolerance);

} // namespace pelorin
