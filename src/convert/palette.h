#pragma once
// The TVC palettes. `Palette` holds the colours of the mode in use: 2, 4 or 16 entries, filled
// by SetPalette2 / SetPalette4 / SetPalette16. Each fill replaces the whole table. `Palette` is
// the palette table of the program's conversion context (conversion_context.h).
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
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

extern std::vector<PaletteEntry>& Palette;

namespace palette_detail {
    constexpr PaletteEntry Entry(int red, int green, int blue)
    {
        return { uint8_t(blue), uint8_t(green), uint8_t(red), 0 };
    }
    constexpr std::array<PaletteEntry, 16> MakeTvc16()
    {
        std::array<PaletteEntry, 16> entries {};
        for (int i = 0; i < 16; ++i) {
            // The TVC's dim level is 145, not half of 255.
            const int level = (i & 8) ? 255 : 145;
            entries[size_t(i)]
                = Entry((i & 2) ? level : 0, (i & 4) ? level : 0, (i & 1) ? level : 0);
        }
        return entries;
    }
} // namespace palette_detail

// "Graphics 2": black, white.
inline constexpr std::array<PaletteEntry, 2> kTvcPalette2 { palette_detail::Entry(0, 0, 0),
    palette_detail::Entry(255, 255, 255) };
// "Graphics 4": black, white, blue, red.
inline constexpr std::array<PaletteEntry, 4> kTvcPalette4 { palette_detail::Entry(0, 0, 0),
    palette_detail::Entry(255, 255, 255), palette_detail::Entry(0, 0, 255),
    palette_detail::Entry(255, 0, 0) };
// "Graphics 16": index bit 0 blue, bit 1 red, bit 2 green; bit 3 picks the level of a lit
// channel, 145 (dim) or 255 (bright). Index 8 is black like index 0.
inline constexpr std::array<PaletteEntry, 16> kTvcPalette16 = palette_detail::MakeTvc16();

// Fill `Palette` with the constant tables above.
void SetPalette2();
void SetPalette4();
void SetPalette16();

constexpr uint32_t PackEntry(const PaletteEntry& e)
{
    return (uint32_t(e.Red) << 16) | (uint32_t(e.Green) << 8) | uint32_t(e.Blue);
}

} // namespace pelorin
