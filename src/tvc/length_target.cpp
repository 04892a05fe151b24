#include "length_target.h"

#include "pipeline/vram.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace pelorin::tvc {

namespace {

    // A tile is 4 bytes of a line by 4 lines: 8 × 4 pixels in "Graphics 16", 32 × 4 in
    // "Graphics 2". Small enough that a moving edge costs little beyond its own bytes, large
    // enough that a line's part of a tile is one run of the record, not a run a byte.
    constexpr size_t kTileBytes = 4;
    constexpr size_t kTileLines = 4;
    constexpr size_t kTilesPerLine = size_t(kVramBytesPerLine) / kTileBytes;
    constexpr size_t kTileRows = kVramLines / kTileLines;
    static_assert(kVramBytesPerLine % kTileBytes == 0 && kVramLines % kTileLines == 0);

    // The palette index of pixel `n` (0 leftmost) of a byte, as vram.h lays it out.
    unsigned IndexOf(const TvcMode& mode, unsigned byte, int n)
    {
        unsigned index = 0;
        for (int k = 0; k < mode.bitsPerPixel; ++k)
            index |= ((byte >> mode.vramBit[size_t(n)][size_t(k)]) & 1u) << k;
        return index;
    }

} // namespace

LengthTarget::LengthTarget(LengthTargetSettings settings)
    : m_settings(std::move(settings))
{
    const TvcMode* mode = m_settings.mode;
    if (!mode)
        throw std::invalid_argument("a clip's length is chosen in a mode");
    if (m_settings.palette.size() != mode->palette.size())
        throw std::invalid_argument(mode->QuotedCaption() + " has "
            + std::to_string(mode->palette.size()) + " palette entries, not "
            + std::to_string(m_settings.palette.size()));
    if (m_settings.frames == 0 || !m_settings.recordCost)
        throw std::invalid_argument("a clip's length needs frames and the cost of a record");
    m_width = mode->workingWidth;
    m_pixelsPerByte = mode->pixelsPerByte;
    m_colours.resize(256 * size_t(m_pixelsPerByte) * 3);
    for (unsigned byte = 0; byte < 256; ++byte)
        for (int n = 0; n < m_pixelsPerByte; ++n) {
            const PaletteEntry& e = m_settings.palette[IndexOf(*mode, byte, n)];
            int16_t* c = &m_colours[(byte * size_t(m_pixelsPerByte) + size_t(n)) * 3];
            c[0] = e.Blue;
            c[1] = e.Green;
            c[2] = e.Red;
        }
    m_difference.resize(size_t(m_width) * kVramLines * 3);
}

std::span<const uint8_t> LengthTarget::Next(std::span<const uint8_t> target)
{
    if (target.size() != kVramFrameBytes)
        throw std::invalid_argument(
            "a frame of video memory has " + std::to_string(kVramFrameBytes) + " bytes");
    if (m_played >= m_settings.frames)
        throw std::logic_error("the clip has all its frames");
    if (m_played == 0) {
        static const std::vector<uint8_t> kEmpty(kVramFrameBytes, 0);
        const size_t first = m_settings.recordCost(kEmpty, target);
        m_emptyBytes = m_settings.recordCost(target, target);
        const size_t most = MostFrames(m_settings.budgetBytes, first, m_emptyBytes);
        if (most < m_settings.frames)
            throw std::invalid_argument("the first frame's record takes " + std::to_string(first)
                + " of the " + std::to_string(m_settings.budgetBytes)
                + " bytes, which leaves room for " + std::to_string(most) + " frames, not "
                + std::to_string(m_settings.frames));
        m_first.assign(target.begin(), target.end());
        m_screen = m_first;
        m_spent = first;
        m_loopBytes = m_emptyBytes;
    } else {
        PlayLater(target);
    }
    ++m_played;
    return m_screen;
}

void LengthTarget::FindChanges(std::span<const uint8_t> target)
{
    m_tiles.clear();
    std::fill(m_difference.begin(), m_difference.end(), int16_t(0));
    const size_t ppb = size_t(m_pixelsPerByte);
    for (size_t tile = 0; tile < kTilesPerLine * kTileRows; ++tile) {
        const size_t x0 = (tile % kTilesPerLine) * kTileBytes;
        const size_t y0 = (tile / kTilesPerLine) * kTileLines;
        size_t changed = 0;
        for (size_t y = y0; y < y0 + kTileLines; ++y)
            for (size_t x = x0; x < x0 + kTileBytes; ++x) {
                const size_t at = y * size_t(kVramBytesPerLine) + x;
                if (m_screen[at] == target[at])
                    continue;
                ++changed;
                const int16_t* played = &m_colours[m_screen[at] * ppb * 3];
                const int16_t* wanted = &m_colours[target[at] * ppb * 3];
                int16_t* d = &m_difference[(y * size_t(m_width) + x * ppb) * 3];
                for (size_t i = 0; i < ppb * 3; ++i)
                    d[i] = int16_t(played[i] - wanted[i]);
            }
        if (changed > 0)
            m_tiles.push_back({ tile, changed, 0 });
    }
    // The blur reaches one pixel into the neighbouring tiles, so every tile's difference is in
    // place before any gain is worked out.
    for (Tile& t : m_tiles)
        t.gain = Gain(t.index);
}

// How much the blurred difference between the played picture and the target shrinks when the
// tile alone takes the target's bytes: over every pixel the 3 × 3 box around the tile reaches
// (edge pixels repeated outward, as BlurredDifference blurs), |box sum| before less after.
double LengthTarget::Gain(size_t tile) const
{
    const int ppb = m_pixelsPerByte;
    const int x0 = int((tile % kTilesPerLine) * kTileBytes) * ppb;
    const int x1 = x0 + int(kTileBytes) * ppb;
    const int y0 = int((tile / kTilesPerLine) * kTileLines);
    const int y1 = y0 + int(kTileLines);
    const int w = m_width, h = int(kVramLines);
    int64_t gain = 0;
    if (x0 >= 2 && x1 + 1 < w && y0 >= 2 && y1 + 1 < h) {
        // Away from the picture's edges (most tiles) no neighbour is repeated: the same sums
        // without the clamping, which the compiler can keep in registers.
        for (int qy = y0 - 1; qy <= y1; ++qy)
            for (int qx = x0 - 1; qx <= x1; ++qx) {
                int all[3] = { 0, 0, 0 }, inside[3] = { 0, 0, 0 };
                for (int y = qy - 1; y <= qy + 1; ++y) {
                    const int16_t* row = &m_difference[(size_t(y) * size_t(w)) * 3];
                    const bool rowInside = y >= y0 && y < y1;
                    for (int x = qx - 1; x <= qx + 1; ++x) {
                        const int16_t* d = row + size_t(x) * 3;
                        const bool in = rowInside && x >= x0 && x < x1;
                        for (int c = 0; c < 3; ++c) {
                            all[c] += d[c];
                            inside[c] += in ? d[c] : 0;
                        }
                    }
                }
                for (int c = 0; c < 3; ++c)
                    gain += std::abs(all[c]) - std::abs(all[c] - inside[c]);
            }
        return double(gain);
    }
    for (int qy = std::max(0, y0 - 1); qy <= std::min(h - 1, y1); ++qy)
        for (int qx = std::max(0, x0 - 1); qx <= std::min(w - 1, x1); ++qx) {
            int all[3] = { 0, 0, 0 }, inside[3] = { 0, 0, 0 };
            for (int dy = -1; dy <= 1; ++dy) {
                const int y = std::clamp(qy + dy, 0, h - 1);
                const bool rowInside = y >= y0 && y < y1;
                for (int dx = -1; dx <= 1; ++dx) {
                    const int x = std::clamp(qx + dx, 0, w - 1);
                    const int16_t* d = &m_difference[(size_t(y) * size_t(w) + size_t(x)) * 3];
                    const bool in = rowInside && x >= x0 && x < x1;
                    for (int c = 0; c < 3; ++c) {
                        all[c] += d[c];
                        if (in)
                            inside[c] += d[c];
                    }
                }
            }
            for (int c = 0; c < 3; ++c)
                gain += std::abs(all[c]) - std::abs(all[c] - inside[c]);
        }
    return double(gain);
}

void LengthTarget::Apply(
    std::vector<uint8_t>& screen, std::span<const uint8_t> target, size_t tile) const
{
    const size_t x0 = (tile % kTilesPerLine) * kTileBytes;
    const size_t y0 = (tile / kTilesPerLine) * kTileLines;
    for (size_t y = y0; y < y0 + kTileLines; ++y) {
        const size_t at = y * size_t(kVramBytesPerLine) + x0;
        std::memcpy(screen.data() + at, target.data() + at, kTileBytes);
    }
}

void LengthTarget::PlayLater(std::span<const uint8_t> target)
{
    const size_t framesLeft = m_settings.frames - m_played; // this one included
    const size_t least = framesLeft * m_emptyBytes;
    // Kept after every frame: what is spent, the way back and the least of the frames to come
    // fit the budget.
    assert(m_spent + m_loopBytes + least <= m_settings.budgetBytes);
    const size_t free = m_settings.budgetBytes - m_spent - m_loopBytes - least;
    const size_t allowance = std::min(
        free, size_t(double(free) / double(framesLeft) * std::max(1.0, m_settings.drawShares)));

    FindChanges(target);
    // Most nearness for the bytes first. Tiles that bring the blurred picture no nearer (a
    // change between two blacks, a change that its neighbour's cancels) come last: they are
    // sent when the bytes are there, so a clip with room enough plays the targets exactly.
    std::stable_sort(m_tiles.begin(), m_tiles.end(), [](const Tile& a, const Tile& b) {
        return a.gain * double(b.changed) > b.gain * double(a.changed);
    });
    // Within the drawing time: the best tiles whose bytes still fit the frame's limit.
    size_t changed = 0;
    std::erase_if(m_tiles, [&](const Tile& t) {
        if (changed + t.changed > m_settings.changeLimitBytes)
            return true;
        changed += t.changed;
        return false;
    });

    // The first `count` tiles as the next screen, and whether its record and the way back from
    // it keep within the frame's allowance and the limits.
    size_t frameBytes = 0, loopBytes = 0;
    const auto fits = [&](size_t count, const RecordCost& cost) {
        m_trial = m_screen;
        for (size_t i = 0; i < count; ++i)
            Apply(m_trial, target, m_tiles[i].index);
        frameBytes = cost(m_screen, m_trial);
        loopBytes = cost(m_trial, m_first);
        return frameBytes <= m_settings.recordLimitBytes
            && loopBytes <= m_settings.loopRecordLimitBytes
            && frameBytes + loopBytes <= allowance + m_emptyBytes + m_loopBytes;
    };
    // A record grows with the tiles it holds (nearly always; where it does not, a few tiles
    // fewer are sent): the most that fit, by halving with the quick cost, then measured, and
    // fewer while the measure says no.
    const RecordCost& exact = m_settings.recordCost;
    const RecordCost& quick = m_settings.quickCost ? m_settings.quickCost : exact;
    size_t count = m_tiles.size();
    if (!fits(count, exact)) {
        size_t fitting = 0, failing = count;
        while (failing - fitting > 1) {
            const size_t middle = fitting + (failing - fitting) / 2;
            (fits(middle, quick) ? fitting : failing) = middle;
        }
        count = fitting;
        while (!fits(count, exact))
            count = count * 7 / 8; // 0 always fits: it changes nothing
    }
    assert(frameBytes + loopBytes <= allowance + m_emptyBytes + m_loopBytes);
    m_screen.swap(m_trial);
    m_spent += frameBytes;
    m_loopBytes = loopBytes;
    for (size_t i = 0; i < kVramFrameBytes; ++i)
        m_leftOut += m_screen[i] != target[i];
}

size_t MostFrames(size_t budgetBytes, size_t firstRecordBytes, size_t emptyRecordBytes)
{
    // Frame 0, then frames 1 … N−1 and the way back, each changing nothing.
    if (budgetBytes < firstRecordBytes + emptyRecordBytes)
        return 0;
    if (emptyRecordBytes == 0)
        return std::numeric_limits<size_t>::max();
    return (budgetBytes - firstRecordBytes) / emptyRecordBytes;
}

void UnpackVram(std::span<const uint8_t> vram, const TvcMode& mode,
    std::span<const PaletteEntry> palette, platform::Surface& picture)
{
    if (vram.size() != kVramFrameBytes || palette.size() != mode.palette.size()
        || picture.width != mode.workingWidth || picture.height != int(kVramLines))
        throw std::invalid_argument("video memory unpacks into the working picture of its mode");
    uint32_t colours[256 * 8];
    for (unsigned byte = 0; byte < 256; ++byte)
        for (int n = 0; n < mode.pixelsPerByte; ++n)
            colours[byte * 8 + unsigned(n)] = PackEntry(palette[IndexOf(mode, byte, n)]);
    for (size_t y = 0; y < kVramLines; ++y) {
        const uint8_t* line = vram.data() + y * size_t(kVramBytesPerLine);
        uint32_t* row = picture.Row(int(y));
        for (int x = 0; x < mode.workingWidth; ++x)
            row[x] = colours[unsigned(line[x / mode.pixelsPerByte]) * 8
                + unsigned(x % mode.pixelsPerByte)];
    }
}

} // namespace pelorin::tvc
