#pragma once
// The TVC's three bitmap modes as data: one row per mode holds everything that differs between
// them — the frame pipeline, the video-memory packing and the writers read the row instead of
// asking which mode it is. What the window shows a mode with (its controls) is the window's own,
// in its layout.
#include "convert/conversion_context.h"
#include "convert/palette.h"

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace pelorin {

struct TvcMode {
    int number; // 2, 4 or 16: the colours, and the mode's name on the command line
    std::string_view caption; // the window's Option2 caption, "Graphics 16"
    int workingWidth; // the working picture at TVC resolution, pixels
    int workingHeight;
    std::span<const PaletteEntry> palette; // the palette table's entries, in index order
    // Video memory: a line of 64 bytes, `pixelsPerByte` pixels of `bitsPerPixel` index bits in
    // each byte; bit k of the index of the byte's pixel n (n = 0 leftmost) goes to bit
    // vramBit[n][k] of the byte.
    int pixelsPerByte;
    int bitsPerPixel;
    std::array<std::array<uint8_t, 4>, 8> vramBit;

    // The name users read: "Graphics 16" in quotes.
    std::string QuotedCaption() const;
};

constexpr int kTvcModeCount = 3;
constexpr int kWorkingHeight = 240;
constexpr int kVramBytesPerLine = 64;

// In Option2 index order: "Graphics 2", "Graphics 4", "Graphics 16".
std::span<const TvcMode> TvcModes();

// The row of mode 2, 4 or 16; null for any other number.
const TvcMode* FindTvcMode(int number);
// The row of mode 2, 4 or 16; throws std::out_of_range for any other number.
const TvcMode& TvcModeOf(int number);

// The colours (convert/tvc_colours.h) of the mode's own palette, in register order: 0, 15 in
// "Graphics 2"; 0, 15, 9, 10 in "Graphics 4"; 0 ... 15 in "Graphics 16", where entry 8 is black
// and so colour 0.
std::vector<int> DefaultColours(const TvcMode& mode);

// Fills `context`'s palette table with the mode's colours.
void LoadPalette(ConversionContext& context, const TvcMode& mode);

} // namespace pelorin
