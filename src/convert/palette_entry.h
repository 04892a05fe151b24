#pragma once
// One colour of a palette table, laid out as the working buffers hold a pixel.
#include <cstdint>

namespace pelorin {

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

constexpr uint32_t PackEntry(const PaletteEntry& e)
{
    return (uint32_t(e.Red) << 16) | (uint32_t(e.Green) << 8) | uint32_t(e.Blue);
}

} // namespace pelorin
