#pragma once
// Which palette registers each frame of a run is converted with, when --palette asks for other
// registers than the mode's own: one set for every frame (given, or chosen on frames spread over
// the run), or a set per scene, chosen anew where the picture cuts to another scene.
#include "convert/palette.h"
#include "platform/picture_box.h"
#include "recipe.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pelorin::session {

// The frames a choice reads: the input as each conversion starts from it (the host picture, or
// the frame at its own size), one frame shown at a time.
class FrameReader {
public:
    virtual ~FrameReader() = default;
    virtual int64_t FrameCount() const = 0;
    // Draws frame `index` into Picture(); throws when it cannot be read.
    virtual void Show(int64_t index) = 0;
    virtual platform::PictureBox& Picture() = 0;
};

struct PaletteScene {
    int64_t first = 0; // the scene's first frame
    std::vector<int> colours; // register contents, colour numbers 0 ... 15
    std::vector<PaletteEntry> entries; // the palette table they make
};

struct PalettePlan {
    std::vector<PaletteScene> scenes; // by first frame, the first at the run's first frame
    // Registers chosen for every line of every frame as it converts (pipeline/line_palettes.h):
    // then the one scene holds no colours of its own, and its entries are all sixteen colours,
    // which is what the lines together may show.
    bool perLine = false;

    // The scene frame `frame` belongs to.
    const PaletteScene& For(int64_t frame) const;
    // Whether `frame` starts a scene after the first: where the palette may change.
    bool StartsLaterScene(int64_t frame) const;
    // The summary's lines: "palette: registers 0x00 0x55 0x14 0x41 (colours 0 black, 15 white,
    // 6 dark-yellow, 9 blue)", one line per scene when there are several.
    std::string Summary(int64_t last) const;
};

// What choosing per scene keeps of the scene being read, at most, beside the search itself.
constexpr uint64_t kSceneSampleBytes = uint64_t(64) << 20;

// "registers 0x00 0x55 (colours 0 black, 15 white)": register values, then colour numbers with
// their names, in register order.
std::string ColoursText(std::span<const int> colours);

// The plan for frames first ... last of `source` as `recipe` asks (recipe.palette set); with
// `keepSize` the frames are converted at their own size. Choosing reads frames through `source`
// (the frame last shown is then any of them): `best` the few it looks at; `best-per-scene` every
// frame once, in order, finding the cuts and choosing for each scene as it ends. Lets the
// source's failure to read a frame through.
PalettePlan MakePalettePlan(
    const Recipe& recipe, bool keepSize, FrameReader& source, int64_t first, int64_t last);

} // namespace pelorin::session
