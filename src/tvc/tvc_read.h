#pragma once
// Reading the TVC's files back as pictures: a .kep, a .cas that Pelorin wrote (a picture or a
// clip) and a .vram (frames of 15,360 bytes one after another, which carry no mode of their
// own). Another program's .cas is refused with what it holds named.
//
// What a file may cost is bounded by its kind before it is read: a .kep at most 64 KB, a .cas
// at most a 64 KB program, and a .vram is not read whole but frame by frame as frames are asked
// for. A clip keeps its records and a screen every kClipSnapshotFrames frames, not every frame,
// so even a hostile 64 KB clip of 16,000 tiny records holds a few megabytes.
#include "pipeline/tvc_mode.h"
#include "platform/surface.h"
#include "tvc_files.h"

#include <cstdint>
#include <memory>
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

// Where a file's frames come from: its bytes in memory, a clip's records, or a .vram on disk.
class TvcFrames {
public:
    virtual ~TvcFrames() = default;
    virtual size_t Count() const = 0;
    // Frame `index`'s video memory (kVramFrameBytes) into `vram`. Throws TvcFileError when it
    // cannot be read (a .vram that shrank since it was opened).
    virtual void Read(size_t index, std::vector<uint8_t>& vram) const = 0;
};

struct TvcFile {
    const TvcMode* mode = nullptr;
    PaletteRegisters registers {};
    // A picture whose registers change from line to line: those of each of the 240 lines (the
    // first equal to `registers`); empty when `registers` hold for every line.
    std::vector<PaletteRegisters> lineRegisters;
    // The frame rate: a clip's own, in lowest terms and each term within int; 50 a second for
    // the two fields of an interlaced .kep; 25 a second for a picture and a .vram.
    int64_t rateNumerator = 25;
    int64_t rateDenominator = 1;
    std::shared_ptr<const TvcFrames> frames;

    size_t FrameCount() const { return frames ? frames->Count() : 0; }
    // Frame `index` (0 ... FrameCount() − 1) as video memory. Throws std::out_of_range past the
    // end and TvcFileError when it cannot be read.
    std::vector<uint8_t> Frame(size_t index) const;
};

// A clip keeps the screen of every this many frames; any frame is rebuilt from the one before
// it by at most this many records less one.
constexpr size_t kClipSnapshotFrames = 64;

// ".kep", ".cas" or ".vram" (lower case, with the dot).
bool IsTvcInputExtension(std::string_view extension);

// The file's content by its extension. `vramMode` is the mode a .vram is read in (it holds
// none); with it null a .vram is refused. Throws TvcFileError naming `name` and what is wrong.
TvcFile ParseTvcFile(std::span<const uint8_t> bytes, std::string_view extension,
    const TvcMode* vramMode, const std::string& name);

// The same, read from `path`, which must be a regular file of no more bytes than its kind holds
// (a .vram is opened and its frames read when asked for).
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
