#pragma once
// A clip of the length the user asks for: which of each frame's changes the clip sends, so that
// the frames fit the clip's memory at the best likeness it allows.
//
// The targets T_j are the exact conversion's frames (kVramFrameBytes of video memory each), in
// order; the played frames P_j are what the clip shows. P_0 = T_0. Every later P_j is P_{j−1}
// with some of the places where P_{j−1} differs from T_j set to T_j's bytes; the places left out
// still differ from the next target, so they compete again there. Places are tiles of a few
// bytes by a few lines; a frame takes the tiles that bring the played picture nearest the target
// for their bytes first, as the summary's faithfulness figure measures nearness (the colour
// difference blurred with a 3 × 3 box, pipeline/picture_difference.h).
//
// Memory: the records of frames 0 … N−1 and the record back from P_{N−1} to P_0 together take at
// most the budget. After every frame the bytes spent, the record back to P_0 from the frame just
// played, and the least each frame still to come takes (a record that changes nothing) fit the
// budget; repeating a frame keeps that true, so the clip always fits whatever comes later. The
// bytes above that least are spread over the frames still to come: a frame may draw a few fair
// shares of them, and what a quiet frame leaves is there for the frames after it.
//
// Time: a frame after the first changes at most a given number of bytes, so that the player
// draws it in a part of a field.
#include "pipeline/tvc_mode.h"
#include "platform/surface.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>
#include <vector>

namespace pelorin::tvc {

// The bytes a clip's record takes that turns the screen `before` into `after`, all overheads
// included. The chooser knows the clip's format through this alone.
using RecordCost
    = std::function<size_t(std::span<const uint8_t> before, std::span<const uint8_t> after)>;

// The player draws a frame after the machine's field flag; drawn within about a third of a field
// (20,000 cycles of the Z80 at 3.125 MHz, about 21 cycles a byte copied) it is shown on time.
constexpr size_t kFrameChangeLimitBytes = 950;

struct LengthTargetSettings {
    const TvcMode* mode = nullptr;
    // The colours of the palette indices the video memory holds (the mode's own or the
    // registers chosen), as many as the mode has.
    std::span<const PaletteEntry> palette;
    size_t frames = 1; // N, at least 1
    size_t budgetBytes = 0; // for the records of frames 0 … N−1 and the one back to frame 0
    RecordCost recordCost;
    // A quicker cost, about the same, for narrowing down how many changes a frame sends; what
    // is sent is then measured with recordCost. Empty: recordCost throughout.
    RecordCost quickCost;
    size_t changeLimitBytes = kFrameChangeLimitBytes; // bytes a frame after the first may change
    // The largest record a frame after the first, and the record back to frame 0, may take.
    size_t recordLimitBytes = std::numeric_limits<size_t>::max();
    size_t loopRecordLimitBytes = std::numeric_limits<size_t>::max();
    // How many fair shares of the bytes still free one frame may draw.
    double drawShares = 3.0;
};

class LengthTarget {
public:
    // Throws std::invalid_argument for settings it cannot work with (no mode, a palette of
    // another size, no frames, no record cost).
    explicit LengthTarget(LengthTargetSettings settings);

    // Takes the next target T_j and gives P_j, valid until the next call. Throws
    // std::invalid_argument for a frame of another size, and when frame 0 leaves no room for
    // N frames (MostFrames tells how many fit); std::logic_error past frame N − 1.
    std::span<const uint8_t> Next(std::span<const uint8_t> target);

    size_t FramesPlayed() const { return m_played; }
    // The records of the frames played so far and the record back to frame 0 from the last.
    size_t BytesUsed() const { return m_spent + m_loopBytes; }
    // Bytes of the targets so far that the played frames left out, summed over the frames.
    uint64_t BytesLeftOut() const { return m_leftOut; }

private:
    struct Tile {
        size_t index; // tile number, row by row
        size_t changed; // bytes that differ from the target
        double gain; // how much nearer the target the played picture comes
    };
    void PlayLater(std::span<const uint8_t> target);
    void FindChanges(std::span<const uint8_t> target);
    double Gain(size_t tile) const;
    void Apply(std::vector<uint8_t>& screen, std::span<const uint8_t> target, size_t tile) const;

    LengthTargetSettings m_settings;
    int m_width = 0; // pixels a line
    int m_pixelsPerByte = 1;
    std::vector<int16_t> m_colours; // by byte value: its pixels' blue, green, red, left first
    std::vector<uint8_t> m_first; // P_0
    std::vector<uint8_t> m_screen; // P_j
    std::vector<uint8_t> m_trial;
    std::vector<int16_t> m_difference; // P − T per pixel and channel, in changed tiles only
    std::vector<Tile> m_tiles; // the changed tiles of the frame being chosen
    size_t m_played = 0;
    size_t m_spent = 0; // the records of frames 0 … j
    size_t m_loopBytes = 0; // the record from P_j back to P_0
    size_t m_emptyBytes = 0; // a record that changes nothing
    uint64_t m_leftOut = 0;
};

// The most frames a clip holds when frame 0's record takes `firstRecordBytes` and every later
// frame, and the way back, takes `emptyRecordBytes` (a record that changes nothing); 0 when not
// even frame 0 fits.
size_t MostFrames(size_t budgetBytes, size_t firstRecordBytes, size_t emptyRecordBytes);

// The way back from PackVram: frame `vram` (kVramFrameBytes) as the mode's working picture, each
// pixel the colour of its palette index in `palette` (as many entries as the mode has), into
// `picture` of the mode's working size.
void UnpackVram(std::span<const uint8_t> vram, const TvcMode& mode,
    std::span<const PaletteEntry> palette, platform::Surface& picture);

} // namespace pelorin::tvc
