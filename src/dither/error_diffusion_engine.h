#pragma once
// The error-diffusion engine behind the eight error-diffusion methods, over the kernels of
// diffusion_kernels.h. Internal to dither/: the window and the tools call the routines of
// error_diffusion.h. Its parts: the plain reference scan (diffusion_plain.cpp), the fast scans
// (diffusion_scan.cpp) with their row updates (diffusion_rows.h, diffusion_rows_avx2.cpp) and
// their rows' pixels (diffusion_generic_row.h, diffusion_binary_row.h), and steady dithering's
// helpers (diffusion_steady.cpp); cpu_dispatch.h picks the path.
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
#include "diffusion_kernels.h"

#include <cstdint>

namespace pelorin {

// Steady dithering changes only the choice of a pixel's colour. Where the frame before left a
// palette colour p at this buffer pixel, and c, the pixel's colour with the error received, lies
// at most a tolerance further from p than from its nearest palette colour n, p is kept:
//   |c − p|² − |c − n|² < 255 · tolerance   (squared RGB distances).
// The tolerance is `still` where the pixel's input (its bytes before the scan) stayed within
// `reach` per channel of the frame before's, and `moved` where it did not; 0 is the plain choice.
// The error actually made is diffused as usual, so the local average stays right while the
// pattern stays put.
struct SteadyTolerance {
    int still;
    int moved;
    int reach;
};

// The squared distance between the palette's two closest entries, in units of 255.
int SmallestStep(const NearestColorTable& table);

// The tolerances for a palette and kernel, as shares of its smallest step: the rules of
// steady_history.h, kSteadyBinaryDiffusion for palettes of channels at 0 or 255 ("Graphics 2" and
// "Graphics 4"), kSteadyFine... for the others.
SteadyTolerance SteadyToleranceFor(const NearestColorTable& table, DiffusionMethod method);

// What the frame before left for the steady choice: its result (the buffer its scan left, so a
// palette colour at every scanned pixel) and, one bit per buffer byte, whether the input moved
// beyond reach (MarkMovedBits), or null: nothing moved.
struct SteadyPrevious {
    const uint8_t* result;
    const uint8_t* moved;
};

// Runs `method`'s scan over a bordered (b = 4) buffer of `geometry`, matching colours with
// `table`; with `previous`, with steady dithering's choice against it (same geometry, kernel and
// palette), and without it exactly the plain scan. The buffer must be geometry.SizeBytes() long;
// geometry.H must be at least 2·G + 1. Runs on the path cpu_dispatch.h chooses. With `stop`,
// the flag is read before each row and the scan throws ConversionStopped once it is set.
void DiffuseErrors(DiffusionMethod method, uint8_t* buffer, const BufferGeometry& geometry,
    const NearestColorTable& table, const SteadyPrevious* previous = nullptr,
    SteadyTolerance tolerance = {}, const std::atomic<bool>* stop = nullptr);

// The same scan written out pixel after pixel as the contract above states it: the plain
// reference every fast scan must equal (CpuPath::Plain), with any geometry whose H ≥ 2·G + 1.
void PlainDiffuseErrors(DiffusionMethod method, uint8_t* buffer, const BufferGeometry& geometry,
    const NearestColorTable& table, const SteadyPrevious* previous = nullptr,
    SteadyTolerance tolerance = {}, const std::atomic<bool>* stop = nullptr);

// For each of `count` bytes: bit i % 8 of moved[i / 8] is set where input byte i lies more than
// `reach` from `before`, else clear; then `before` takes the input, for the next frame. A bit
// rather than a byte each keeps the steady scan's extra reading small beside the buffer's own.
// `moved` holds MovedBitsBytes(count) bytes.
void MarkMovedBits(const uint8_t* input, uint8_t* before, uint8_t* moved, size_t count, int reach);

// The bytes MarkMovedBits writes for `count` input bytes: the bits, and room for the scan to read
// any byte's three bits as one four-byte word.
constexpr size_t MovedBitsBytes(size_t count) { return (count + 7) / 8 + 4; }

} // namespace pelorin
