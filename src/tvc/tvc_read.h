#pragma once
// Reading the TVC's files back as pictures: a .kep, a .cas that Pelorin wrote (a picture or a
// clip) and a .vram (frames of 15,360 bytes one after another, which carry no mode of their
// own). Another program's .cas is refused with what it holds named.
#include "pipeline/tvc_mode.h"
#include "platform/surface.h"
#include "tvc_files.h"

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin::tvc {

class TvcFileError : public std::runtime_error {
public:
    explicit TvcFileError(const std::string& message)
        : std::runtime_error(message)
    {
    }
};

struct TvcFile {
    const TvcMode* mode = nullptr;
    PaletteRegisters registers {};
    std::vector<std::vector<uint8_t>> frames; // video memory, kVramFrameBytes each
    // The frame rate: a clip's own; 25 a second for a picture and a .vram.
    int64_t rateNumerator = 25;
    int64_t rateDenominator = 1;
};

// ".kep", ".cas" or ".vram" (lower case, with the dot).
bool IsTvcInputExtension(std::string_view extension);

// The file's content by its extension. `vramMode` is the mode a .vram is read in (it holds
// none); with it null a .vram is refused. Throws TvcFileError naming `name` and what is wrong.
TvcFile ParseTvcFile(std::span<const uint8_t> bytes, std::string_view extension,
    const TvcMode* vramMode, const std::string& name);

// The same, read from `path`.
TvcFile ReadTvcFile(const std::string& path, const TvcMode* vramMode);

// Frame `index` as the working picture (the mode's working size) in Pelorin's colours: in
// "Graphics 2" and "Graphics 4" each pixel's palette index picks a register and the register's
// colour is shown; in "Graphics 16" each pixel's colour number is shown.
platform::Surface WorkingPicture(const TvcFile& file, size_t index);

// `working` enlarged to `width` × `height` by repeating pixels (each working pixel becomes a
// block of whole pixels); a box-filter reduction back to the working size gives `working`.
// `width` and `height` must be whole multiples of the working size.
platform::Surface EnlargeWhole(const platform::Surface& working, int width, int height);

} // namespace pelorin::tvc
