#pragma once
// Nearest palette colour by plain squared RGB distance. Among entries at the smallest distance
// the lowest index wins (so an exact match returns the first entry of that colour: black in
// "Graphics 16" is entry 0, never 8). Results are colours packed 0x00RRGGBB.
#include "palette.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace platform {
class PictureBox;
}

namespace pelorin {

// The nearest entry of `Palette` to (red, green, blue). Throws platform::RuntimeError
// (subscript out of range) when `Palette` is empty.
uint32_t NearestColor(uint8_t red, uint8_t green, uint8_t blue);

// The plain linear scan the results are defined by: best distance 999999999, replaced only by a
// strictly smaller one, stopping at the first exact match. Kept as the reference for tests.
uint32_t NearestColorLinear(std::span<const PaletteEntry> palette, uint8_t red, uint8_t green,
    uint8_t blue);

// A lookup structure giving exactly NearestColorLinear's results, fast. RGB space is cut into
// 16 × 16 × 16 cells; each cell lists, in index order, only the entries that can be nearest to
// some colour inside it. Most cells have a single candidate and answer without any arithmetic.
class NearestColorTable {
public:
    explicit NearestColorTable(std::span<const PaletteEntry> palette);

    uint32_t Lookup(uint8_t red, uint8_t green, uint8_t blue) const
    {
        const Cell& cell = m_cells[(size_t(red >> 4) << 8) | (size_t(green >> 4) << 4) | (blue >> 4)];
        if (cell.count == 1)
            return cell.colour;
        return Search(cell, red, green, blue);
    }
    const std::vector<PaletteEntry>& Entries() const { return m_palette; }

private:
    struct Cell {
        uint32_t colour = 0; // the answer when count == 1
        uint32_t first = 0; // into m_candidates
        uint16_t count = 0;
    };
    uint32_t Search(const Cell& cell, int red, int green, int blue) const;

    std::vector<PaletteEntry> m_palette;
    std::array<Cell, 4096> m_cells {};
    std::vector<uint8_t> m_candidates;
};

// Replaces `count` pixels of 3 bytes (blue, green, red) starting at `pixels` by their nearest
// colours.
void MapPixels(const NearestColorTable& table, uint8_t* pixels, size_t count);

// The table for the current contents of `Palette`. Tables are built once per distinct palette
// and kept, so the per-frame palette reload costs a comparison, not a rebuild. The reference
// stays valid until the next call. Throws like NearestColor when `Palette` is empty.
const NearestColorTable& CurrentNearestColorTable();

// Replaces every pixel of the source picture by its nearest palette colour and draws the result
// on the destination (bordered layout, b = 4, border not filled; mapped rows are buffer rows
// 2 ... H − 3).
void MapToPalette(platform::PictureBox& destination, platform::PictureBox& source);

} // namespace pelorin
