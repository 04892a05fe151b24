#pragma once
// Nearest palette colour by plain squared RGB distance. Among entries at the smallest distance
// the lowest index wins (so an exact match returns the first entry of that colour: black in
// "Graphics 16" is entry 0, never 8). Results are colours packed 0x00RRGGBB.
#include "conversion_context.h"
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

// The plane between a two-entry palette's entries: entry 1 is nearer exactly where the plane's
// linear form exceeds the threshold (on the plane itself entry 0, the lower index, wins):
// d1 < d0 ⟺ 2·(e1 − e0)·c > |e1|² − |e0|².
struct TwoEntryPlane {
    int red = 0, green = 0, blue = 0; // the form's weight per channel
    int threshold = 0;
    uint32_t colour0 = 0, colour1 = 0; // packed 0x00RRGGBB

    TwoEntryPlane() = default;
    TwoEntryPlane(const PaletteEntry& e0, const PaletteEntry& e1);
    int Form(int r, int g, int b) const { return red * r + green * g + blue * b; }
    bool EntryOne(int r, int g, int b) const { return Form(r, g, b) > threshold; }
};

// A lookup structure giving exactly NearestColorLinear's results, fast. RGB space is cut into
// 32 × 32 × 32 cells; each cell lists, in index order, only the entries that can be nearest to
// some colour inside it. Most cells have a single candidate and answer with one table read.
// A palette of two entries is answered by the side of the plane between them instead.
class NearestColorTable {
public:
    explicit NearestColorTable(std::span<const PaletteEntry> palette);

    uint32_t Lookup(uint8_t red, uint8_t green, uint8_t blue) const
    {
        if (m_twoEntries)
            return m_plane.EntryOne(red, green, blue) ? m_plane.colour1 : m_plane.colour0;
        const uint32_t cell
            = m_cells[(size_t(red >> 3) << 10) | (size_t(green >> 3) << 5) | (blue >> 3)];
        if (cell < kListFlag)
            return cell;
        return Search(cell & ~kListFlag, red, green, blue);
    }
    const std::vector<PaletteEntry>& Entries() const { return m_palette; }
    // The plane between the two entries of a two-entry palette (else all zero).
    const TwoEntryPlane& Plane() const { return m_plane; }

private:
    // A cell holds the colour of its only candidate (0x00RRGGBB), or kListFlag + the offset of
    // its list in m_lists: a count, then that many indices. One read answers most pixels.
    static constexpr uint32_t kListFlag = 0x80000000u;
    uint32_t Search(size_t list, int red, int green, int blue) const;

    std::vector<PaletteEntry> m_palette;
    std::vector<uint32_t> m_colours; // packed 0x00RRGGBB per entry
    // Two entries ("Graphics 2"): the side of the plane between them, no table needed.
    bool m_twoEntries = false;
    TwoEntryPlane m_plane;
    std::vector<uint32_t> m_cells;
    std::vector<uint8_t> m_lists;
};

// Replaces `count` pixels of 3 bytes (blue, green, red) starting at `pixels` by their nearest
// colours.
void MapPixels(const NearestColorTable& table, uint8_t* pixels, size_t count);

// The table for the current contents of `Palette` (ProgramContext().NearestTable()). The
// reference stays valid until the next call. Throws like NearestColor when `Palette` is empty.
const NearestColorTable& CurrentNearestColorTable();

// Replaces every pixel of the source picture by its nearest palette colour and draws the result
// on the destination (bordered layout, b = 4, border not filled; mapped rows are buffer rows
// 2 ... H − 3).
void MapToPalette(platform::PictureBox& destination, platform::PictureBox& source);
// The same on `context`'s palette and storage.
void MapToPalette(
    ConversionContext& context, platform::PictureBox& destination, platform::PictureBox& source);

} // namespace pelorin
