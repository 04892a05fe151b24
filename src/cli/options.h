#pragma once
// The command line of pelorin-convert, parsed and checked as text (no file is touched here).
#include "convert/picture_adjust.h"
#include "dither/method_table.h"
#include "pipeline/tvc_mode.h"
#include "video/picture_shape.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin::cli {

enum class OutputKind { Picture, Video, Vram, Kep, Cas };
enum class Size { Display, Working, KeepSize };
// How a frame fills the host picture, which stands for the TVC's 4:3 screen (shared with the
// window, see video/picture_shape.h).
using video::Aspect;

// A printf-style frame number inside a picture name ("out_%05d.png"): the text around it and
// the width of the number, zero-padded or blank-padded.
struct NumberedName {
    std::string prefix;
    std::string suffix;
    int width = 0;
    bool zeroPad = false;
    // The name for frame `frameNumber` ("%%" in the pattern is already one "%" in prefix/suffix).
    std::string For(int64_t frameNumber) const;
};

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

// --palette: the registers of "Graphics 2" or "Graphics 4" as given, or chosen for the picture.
struct PaletteRequest {
    enum class Kind { Registers, Best, BestPerScene };
    Kind kind = Kind::Registers;
    std::vector<int> colours; // Registers: colour numbers 0 ... 15, one per register
    std::string text; // as given, for messages
    // What each #rrggbb stands for, for the summary: "#0000ff is colour 9, blue (#0000ff), the
    // nearest of the sixteen".
    std::vector<std::string> nearest;
};

// The frames of a range given by times, for a video of `rateNum` / `rateDen` frames a second:
// the frame on show at a time t is the last one that starts at or before it, floor(t · rate).
// A range of frames comes back as it is.
FrameRange ResolveFrameTimes(const FrameRange& range, int rateNum, int rateDen);

struct Options {
    bool help = false;
    bool version = false;
    const TvcMode* mode = FindTvcMode(16);
    bool modeGiven = false; // --mode on the command line (else a TVC file input's own mode)
    int method = 1; // Atkinson; kNoMethod for "none"
    Size size = Size::Display;
    std::optional<FrameRange> frames;
    std::optional<int64_t> compareFrame;
    bool quiet = false;
    bool progress = false; // the progress line drawn whatever standard error is
    int threads = 0; // frames converted at once; 0: one per core
    bool steady = false; // steady dithering: each frame keeps to the previous frame's pattern
    std::optional<PaletteRequest> palette; // empty: the mode's own palette
    PictureAdjustments adjustments; // applied to each frame before the capture
    Aspect aspect = Aspect::Stretch;

    bool lastOnly = false; // every frame of the range is converted, only the last one written
    std::optional<double> tvcFps; // a .cas clip's frame rate: every n-th frame of the source
    std::string input;
    std::string output;
    OutputKind outputKind = OutputKind::Picture;
    std::string outputExtension; // lower case, with the dot: ".mkv"
    std::optional<NumberedName> numbered; // picture outputs with a frame number in the name
};

// Parses argv[1...]. Throws CliError with exit status 2 and a message naming the problem. With
// --help or --version the other arguments are not required.
Options ParseOptions(std::span<const std::string> args);

// Whether `input` names one of the TVC's own files (.kep, .cas, .vram, in any letter case).
bool InputIsTvcFile(const std::string& input);
// Throws CliError (2) when --palette does not fit options.mode: a mode of sixteen colours, or
// another number of registers than the mode has. ParseOptions leaves this to the run for a TVC
// file without --mode, whose mode is known only once it is open.
void CheckPaletteFitsMode(const Options& options);

// The method for a command-line name: an index "1" ... "16", a caption as the window shows it in
// any letter case with blanks, dashes and "+" interchangeable ("treshold+noise", "Bayer-4x4",
// "sierra2 row"), the usual spellings "threshold", "burkes" and "stucki", or "none" (kNoMethod).
// Empty when the name matches nothing.
std::optional<int> ParseMethodName(std::string_view name);

// "out_%05d.png" → prefix "out_", width 5, zero padding. Empty when the name holds no number;
// throws CliError (2) for a malformed or second conversion ("%s", "%d%d", a lone "%").
std::optional<NumberedName> ParseNumberedName(const std::string& name);

// --palette's list, separated by commas: colour numbers 0 ... 15 in "Graphics 16" order, their
// names (ColourName: "black", "dark-red", "white"), register values 0xNN, or #rrggbb for the
// nearest of the sixteen colours, which is then told in `nearest` ("0,15,9,12", "0x00,0x55",
// "black,white,blue,green", "#000000,#ff0000"). Throws CliError (2) naming the wrong item.
std::vector<int> ParsePaletteColours(
    const std::string& text, std::vector<std::string>* nearest = nullptr);
// "#910000": colour 0 ... 15 as RGB.
std::string ColourHex(int colour);

std::string HelpText();
std::string VersionText();

} // namespace pelorin::cli
