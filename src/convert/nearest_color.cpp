#include "nearest_color.h"

#include "platform/runtime_error.h"
#include "working_bitmap.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace pelorin {

namespace {
    inline int Distance(const PaletteEntry& e, int red, int green, int blue)
    {
        const int dr = red - e.Red, dg = green - e.Green, db = blue - e.Blue;
        return dr * dr + dg * dg + db * db;
    }
    size_t NearestIndex(std::span<const PaletteEntry> palette, int red, int green, int blue)
    {
        int best = 999999999;
        size_t bestIndex = 0;
        for (size_t i = 0; i < palette.size(); ++i) {
            const int d = Distance(palette[i], red, green, blue);
            if (d < best) {
                best = d;
                bestIndex = i;
            }
        }
        return bestIndex;
    }
} // namespace

TwoEntryPlane::TwoEntryPlane(const PaletteEntry& e0, const PaletteEntry& e1)
    : red(2 * (int(e1.Red) - int(e0.Red)))
    , green(2 * (int(e1.Green) - int(e0.Green)))
    , blue(2 * (int(e1.Blue) - int(e0.Blue)))
    , threshold(Distance(e1, 0, 0, 0) - Distance(e0, 0, 0, 0))
    , colour0(PackEntry(e0))
    , colour1(PackEntry(e1))
{
}

NearestColorTable::NearestColorTable(std::span<const PaletteEntry> palette)
    : m_palette(palette.begin(), palette.end())
    , m_cells(size_t(1) << 15)
{
    if (m_palette.empty())
        throw platform::RuntimeError(
            platform::ErrorNumber::SubscriptOutOfRange, "palette is empty");
    const size_t n = m_palette.size();
    for (const PaletteEntry& e : m_palette)
        m_colours.push_back(PackEntry(e));
    if (n == 2) {
        const PaletteEntry &e0 = m_palette[0], &e1 = m_palette[1];
        m_twoEntries = true;
        m_plane = TwoEntryPlane(e0, e1);
    }
    constexpr int kSide = 8; // channel values per cell side

    // Entry i rules entry j out of a cell when i is nearer at every colour of the cell, or as
    // near everywhere with a lower index: j can then never be the answer there. d_i − d_j is
    // affine in the colour (the squares cancel), so its maximum over the cell is reached at a
    // corner: in each channel the high side where d_i − d_j rises with the channel, that is
    // where i's channel is below j's, and the low side otherwise.
    auto rulesOut = [&](size_t i, size_t j, const int lo[3]) {
        const PaletteEntry &a = m_palette[i], &b = m_palette[j];
        const int r = lo[0] + (a.Red < b.Red ? kSide - 1 : 0);
        const int g = lo[1] + (a.Green < b.Green ? kSide - 1 : 0);
        const int bl = lo[2] + (a.Blue < b.Blue ? kSide - 1 : 0);
        const int worst = Distance(a, r, g, bl) - Distance(b, r, g, bl);
        return worst < 0 || (worst == 0 && i < j);
    };

    std::vector<uint8_t> candidates;
    for (int cr = 0; cr < 32; ++cr)
        for (int cg = 0; cg < 32; ++cg)
            for (int cb = 0; cb < 32; ++cb) {
                const int lo[3] = { cr * kSide, cg * kSide, cb * kSide };
                // The entry nearest to the cell's centre rules out most others at once; the rest
                // are tried only for the entries it leaves standing.
                const size_t centre = NearestIndex(
                    m_palette, lo[0] + kSide / 2, lo[1] + kSide / 2, lo[2] + kSide / 2);
                candidates.clear();
                for (size_t j = 0; j < n; ++j) {
                    bool out = j != centre && rulesOut(centre, j, lo);
                    for (size_t i = 0; i < n && !out; ++i)
                        out = i != j && rulesOut(i, j, lo);
                    if (!out)
                        candidates.push_back(uint8_t(j));
                }
                uint32_t& cell = m_cells[size_t(cr) << 10 | size_t(cg) << 5 | size_t(cb)];
                if (candidates.size() == 1) {
                    cell = m_colours[candidates[0]];
                } else {
                    cell = uint32_t(kListFlag | m_lists.size());
                    m_lists.push_back(uint8_t(candidates.size()));
                    m_lists.insert(m_lists.end(), candidates.begin(), candidates.end());
                }
            }
}

uint32_t NearestColorTable::Search(size_t list, int red, int green, int blue) const
{
    // The candidates are in index order, so the strict comparison keeps the lowest index on a
    // tie, as the full scan does; an exact match is the smallest distance there is, so stopping
    // early would not change the answer.
    int best = 999999999;
    size_t bestIndex = 0;
    const uint8_t* c = m_lists.data() + list;
    for (unsigned k = 1; k <= c[0]; ++k) {
        const int d = Distance(m_palette[c[k]], red, green, blue);
        if (d < best) {
            best = d;
            bestIndex = c[k];
        }
    }
    return m_colours[bestIndex];
}

const NearestColorTable& CurrentNearestColorTable() { return ProgramContext().NearestTable(); }

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

namespace {

    // Nearest colours of a row of 32-bit pixels.
    void MapRow(const NearestColorTable& table, const uint32_t* in, uint32_t* out, int count)
    {
        for (int x = 0; x < count; ++x) {
            const uint32_t v = in[x];
            out[x] = table.Lookup(uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v));
        }
    }

    // What the working bitmap route (bordered, b = 4, border black, buffer rows 2 ... H − 3
    // mapped, drawn back from (b, −b)) puts on the destination, written straight from the source
    // picture: destination pixel (x, y) for x < min(destination width, W − 4) and
    // y < min(destination height, SH + 4) becomes the source pixel there, black beyond the
    // source's picture, mapped to its nearest colour where y ≤ SH + 1 (buffer row y + 4 ≤ H − 3).
    // The rest of the destination is not touched.
    void MapPicture(const NearestColorTable& table, platform::PictureBox& destination,
        platform::PictureBox& source)
    {
        const BufferGeometry g = ComputeGeometry(PictureWidth(source), PictureHeight(source), 4);
        const platform::PictureLocks locks(source, destination);
        platform::Surface& out = destination.Image();
        const platform::Surface& in = source.Image();
        const int rows = std::min(out.height, g.SH + 4);
        const int columns = std::min(out.width, g.W - 4);
        const int pictureColumns = std::min(columns, g.SW);
        const uint32_t black = table.Lookup(0, 0, 0);
        for (int y = 0; y < rows; ++y) {
            uint32_t* row = out.Row(y);
            const uint32_t beyond = y <= g.SH + 1 ? black : 0u;
            int x = 0;
            if (y < g.SH) {
                MapRow(table, in.Row(y), row, pictureColumns);
                x = pictureColumns;
            }
            std::fill(row + x, row + columns, beyond);
        }
    }

} // namespace

void MapToPalette(platform::PictureBox& destination, platform::PictureBox& source)
{
    MapToPalette(ProgramContext(), destination, source);
}

void MapToPalette(
    ConversionContext& context, platform::PictureBox& destination, platform::PictureBox& source)
{
    MapPicture(context.NearestTable(), destination, source);
}

} // namespace pelorin
