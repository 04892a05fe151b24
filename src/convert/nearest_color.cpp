#include "nearest_color.h"

#include "platform/runtime_error.h"
#include "working_bitmap.h"

#include <memory>
#include <mutex>

namespace pelorin {

namespace {
    inline int Distance(const PaletteEntry& e, int red, int green, int blue)
    {
        const int dr = red - e.Red, dg = green - e.Green, db = blue - e.Blue;
        return dr * dr + dg * dg + db * db;
    }
} // namespace

uint32_t NearestColorLinear(std::span<const PaletteEntry> palette, uint8_t red, uint8_t green,
    uint8_t blue)
{
    int best = 999999999;
    size_t bestIndex = 0;
    for (size_t i = 0; i < palette.size(); ++i) {
        const int d = Distance(palette[i], red, green, blue);
        if (d < best) {
            if (d == 0)
                return PackEntry(palette[i]);
            best = d;
            bestIndex = i;
        }
    }
    if (bestIndex >= palette.size())
        throw platform::RuntimeError(platform::ErrorNumber::SubscriptOutOfRange, "palette is empty");
    return PackEntry(palette[bestIndex]);
}

NearestColorTable::NearestColorTable(std::span<const PaletteEntry> palette)
    : m_palette(palette.begin(), palette.end())
{
    if (m_palette.empty())
        throw platform::RuntimeError(platform::ErrorNumber::SubscriptOutOfRange, "palette is empty");
    const size_t n = m_palette.size();
    std::vector<uint8_t> keep(n);
    for (int cr = 0; cr < 16; ++cr)
        for (int cg = 0; cg < 16; ++cg)
            for (int cb = 0; cb < 16; ++cb) {
                // Entry j can never be the answer inside the cell when some entry i is nearer at
                // every colour of it, or as near everywhere with a lower index. d_i − d_j is
                // affine in the colour (the squares cancel), so its maximum over the cell is
                // reached at one of the cell's eight corners.
                const int lo[3] = { cr * 16, cg * 16, cb * 16 };
                for (size_t j = 0; j < n; ++j) {
                    keep[j] = 1;
                    for (size_t i = 0; i < n && keep[j]; ++i) {
                        if (i == j)
                            continue;
                        int worst = -1 << 30;
                        for (int corner = 0; corner < 8; ++corner) {
                            const int r = lo[0] + ((corner & 4) ? 15 : 0);
                            const int g = lo[1] + ((corner & 2) ? 15 : 0);
                            const int b = lo[2] + ((corner & 1) ? 15 : 0);
                            const int diff = Distance(m_palette[i], r, g, b)
                                - Distance(m_palette[j], r, g, b);
                            worst = std::max(worst, diff);
                        }
                        if (worst < 0 || (worst == 0 && i < j))
                            keep[j] = 0;
                    }
                }
                Cell& cell = m_cells[size_t(cr) << 8 | size_t(cg) << 4 | size_t(cb)];
                cell.first = uint32_t(m_candidates.size());
                for (size_t j = 0; j < n; ++j)
                    if (keep[j])
                        m_candidates.push_back(uint8_t(j));
                cell.count = uint16_t(m_candidates.size() - cell.first);
                if (cell.count == 1)
                    cell.colour = PackEntry(m_palette[m_candidates[cell.first]]);
            }
}

uint32_t NearestColorTable::Search(const Cell& cell, int red, int green, int blue) const
{
    // The candidates are in index order, so the strict comparison keeps the lowest index on a
    // tie, as the full scan does; an exact match is the smallest distance there is, so stopping
    // early would not change the answer and is not worth a test per entry.
    int best = 999999999;
    uint32_t bestColour = 0;
    const uint8_t* c = m_candidates.data() + cell.first;
    for (unsigned k = 0; k < cell.count; ++k) {
        const PaletteEntry& e = m_palette[c[k]];
        const int d = Distance(e, red, green, blue);
        if (d < best) {
            best = d;
            bestColour = PackEntry(e);
        }
    }
    return bestColour;
}

const NearestColorTable& CurrentNearestColorTable()
{
    static std::mutex lock;
    static std::vector<std::unique_ptr<NearestColorTable>> tables;
    std::lock_guard guard(lock);
    for (auto& table : tables)
        if (table->Entries() == Palette)
            return *table;
    // A handful of distinct palettes exist in practice; cap the cache all the same.
    if (tables.size() >= 16)
        tables.erase(tables.begin());
    tables.push_back(std::make_unique<NearestColorTable>(Palette));
    return *tables.back();
}

uint32_t NearestColor(uint8_t red, uint8_t green, uint8_t blue)
{
    return CurrentNearestColorTable().Lookup(red, green, blue);
}

void MapPixels(const NearestColorTable& table, uint8_t* pixels, size_t count)
{
    uint8_t* const end = pixels + 3 * count;
    for (uint8_t* p = pixels; p < end; p += 3) {
        const uint32_t c = table.Lookup(p[2], p[1], p[0]);
        p[0] = uint8_t(c);
        p[1] = uint8_t(c >> 8);
        p[2] = uint8_t(c >> 16);
    }
}

void MapToPalette(platform::PictureBox& destination, platform::PictureBox& source)
{
    const NearestColorTable& table = CurrentNearestColorTable();
    WorkingBitmap work(source, 4, false);
    const BufferGeometry& g = work.Geometry();
    uint8_t* buffer = work.Bytes();
    // The picture rows plus the two border rows above and below them.
    MapPixels(table, buffer + g.StrideBytes() * 2, size_t(g.W) * size_t(g.H - 4));
    work.DrawTo(destination);
}

} // namespace pelorin
