#pragma once
// The TVC palettes. `Palette` holds the colours of the mode in use: 2, 4 or 16 entries, filled
// by SetPalette2 / SetPalette4 / SetPalette16. Each fill replaces the whole table.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelorin {
using std::size_t;

// Byte order of a working-buffer pixel followed by a zero byte: read as a little-endian 32-bit
// value an entry is 0x00RRGGBB.
struct PaletteEntry {
    uint8_t Blue = 0;
    uint8_t Green = 0;
    uint8_t Red = 0;
    uint8_t Reserved = 0;
    bool operator==(const PaletteEntry&) const = default;
};
static_assert(sizeof(PaletteEntry) == 4);

extern std::vector<PaletteEntry> Palette;

// "Graphics 2": black, white.
void SetPalette2();
// "Graphics 4": black, white, blue, red.
void SetPalette4();
// "Graphics 16": index bit 0 blue, bit 1 red, bit 2 green; bit 3 picks the level of a lit
// channel, 145 (dim) or 255 (bright). Index 8 is black like index 0.
void SetPalette16();

constexpr uint32_t PackEntry(const PaletteEntry& e)
{
    return (uint32_t(e.Red) << 16) | (uint32_t(e.Green) << 8) | uint32_t(e.Blue);
}

} // namespace pelorin
