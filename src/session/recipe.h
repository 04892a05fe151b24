#pragma once
// The recipe of a conversion: everything that decides how a frame of the input becomes the TVC's
// picture, the same value whether pelorin-convert's command line or the window's controls set it.
// What is done with the pictures (which frames, which files, how many threads) is the front door's
// own business and lives beside it.
#include "convert/picture_adjust.h"
#include "dither/method_table.h"
#include "pipeline/tvc_mode.h"
#include "video/frame_decoder.h"
#include "video/picture_shape.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelorin::session {

// A value a command line gives that the recipe cannot take: the message names the option and
// what is wrong with it. Each front door reports it in its own way (the tool with exit status 2).
class OptionError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// --palette: the registers of "Graphics 2" or "Graphics 4" as given, or chosen for the picture.
struct PaletteRequest {
    // BestPerLine: a set for every line of the picture, rewritten by the machine as it draws.
    enum class Kind { Registers, Best, BestPerScene, BestPerLine };
    Kind kind = Kind::Registers;
    std::vector<int> colours; // Registers: colour numbers 0 ... 15, one per register
    std::string text; // as given, for messages
    // What each #rrggbb stands for, for the summary: "#0000ff is colour 9, blue (#0000ff), the
    // nearest of the sixteen".
    std::vector<std::string> nearest;

    bool Chosen() const { return kind != Kind::Registers; }
    // The same request, whatever words gave it.
    bool operator==(const PaletteRequest& other) const
    {
        return kind == other.kind && colours == other.colours;
    }
};

// Which frames of the input: numbers, or times that stand for the frames on show at them.
struct FrameRange {
    int64_t first = 0;
    std::optional<int64_t> last; // inclusive; empty: to the last frame
    // Given as times instead: microseconds from the start of the video, each end standing for
    // the frame on show at that time; first and last are worked out once the frame rate is
    // known (ResolveFrameTimes).
    bool byTime = false;
    int64_t firstMicroseconds = 0;
    std::optional<int64_t> lastMicroseconds;
    std::string given; // the value as written, to echo it
};

// The frames of a range given by times, for a video of `rateNum` / `rateDen` frames a second:
// the frame on show at a time t is the last one that starts at or before it, floor(t · rate).
// A range of frames comes back as it is.
FrameRange ResolveFrameTimes(const FrameRange& range, int rateNum, int rateDen);

// How the error-diffusion methods keep their error: in whole numbers as the program always has
// (the default), or exactly, damped and kept within what the screen can show.
enum class Diffusion { Integer, Exact };
// How the distance between two colours is measured: plain RGB, or in a space that puts
// brightness before colour as the eye does.
enum class Distance { Rgb, Perceptual };

struct Recipe {
    const TvcMode* mode = FindTvcMode(16);
    bool modeGiven = false; // the mode was named (else a TVC file input's own mode is taken)
    int method = 1; // Atkinson; kNoMethod for "none"
    bool steady = false; // steady dithering: each frame keeps to the previous frame's pattern
    std::optional<PaletteRequest> palette; // empty: the mode's own palette
    PictureAdjustments adjustments; // applied to each frame before the capture
    video::Aspect aspect = video::Aspect::Stretch;
    std::optional<double> tvcFps; // a .cas clip's frame rate: every n-th frame of the source
    // Temporal denoising of the decoded frames, before anything else: camera noise otherwise
    // changes every frame everywhere, which steady dithering and a clip's changed bytes pay for.
    video::Denoise denoise = video::Denoise::Off;
    // A clip of this many seconds for the 64K TVC: the frames as the clip plays them, each
    // sending the changes its share of the memory allows.
    std::optional<double> tvcSeconds;
    Diffusion diffusion = Diffusion::Integer;
    bool linearLight = false; // the exact diffusion mixes colours in linear light
    Distance distance = Distance::Rgb;

    // The same conversion: what the pictures depend on, not how the recipe was written.
    bool SameConversion(const Recipe& other) const;
};

// The exact engine's settings for the recipe (dither/exact_diffusion.h), or empty with the
// integer diffusion. The kernel is left at its default: each method brings its own.
std::optional<ExactDiffusionSettings> ExactSettingsOf(const Recipe& recipe);

// Throws OptionError when --linear-light or --distance perceptual is given without
// --diffusion exact: both belong to the exact engine, and the integer one would quietly ignore
// them.
void CheckDiffusionChoices(const Recipe& recipe);

// Throws OptionError when the recipe's palette does not fit its mode: a mode of sixteen colours,
// or another number of registers than the mode has.
void CheckPaletteFitsMode(const Recipe& recipe);

} // namespace pelorin::session
