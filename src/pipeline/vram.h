#pragma once
// The TVC's video memory for one frame: 240 lines of 64 bytes, line y at offset 64·y; how the
// palette indices of a line's pixels share its bytes is the mode's row (tvc_mode.h):
//  - "Graphics 2" (512 pixels a line, 8 a byte): bit 7 is the leftmost pixel; the bit is the
//    palette index (0 black, 1 white).
//  - "Graphics 4" (256 pixels a line, 4 a byte): pixel n (n = 0 leftmost) has its palette
//    index's low bit in bit 7 − n and its high bit in bit 3 − n.
//  - "Graphics 16" (128 pixels a line, 2 a byte): the palette index's bits are I, G, R, B
//    (3 intensity, 2 green, 1 red, 0 blue); the left pixel's go to bits 7, 5, 3, 1 and the
//    right pixel's to bits 6, 4, 2, 0.
#include "platform/surface.h"
#include "tvc_mode.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pelorin {

constexpr size_t kVramLines = 240;
constexpr size_t kVramFrameBytes = size_t(kVramBytesPerLine) * kVramLines;

// Appends the frame's 15,360 bytes to `out`. `picture` must be the mode's working size
// (512 / 256 / 128 × 240) and every pixel a colour of the mode's palette; a colour that appears
// twice in the palette (black in "Graphics 16") takes its first index. Throws
// std::invalid_argument naming the size or the first pixel that breaks this, before appending.
// With `palette` given (the registers chosen for the picture, as many as the mode's), the
// indices are those of its entries instead of the mode's own.
void PackVram(const platform::Surface& picture, const TvcMode& mode, std::vector<uint8_t>& out,
    std::span<const PaletteEntry> palette = {});
// The same with a palette for each of the 240 lines (registers rewritten as the picture is
// drawn): each line's indices are those of its own palette's entries.
void PackVramLines(const platform::Surface& picture, const TvcMode& mode,
    std::vector<uint8_t>& out, std::span<const std::vector<PaletteEntry>> lines);

} // namespace pelorin
