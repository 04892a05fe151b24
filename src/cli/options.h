#pragma once
// The command line of pelorin-convert, parsed and checked as text (no file is touched here).
#include "session/option_table.h"
#include "session/option_values.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin::cli {

enum class OutputKind { Picture, Video, Vram, Kep, Cas };
using session::FrameRange;
using session::PaletteRequest;
using session::ResolveFrameTimes;
using session::Size;
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

// The recipe and the tool's settings as the option table reads them, and the files.
struct Options : session::Settings {
    std::string input;
    std::string output;
    OutputKind outputKind = OutputKind::Picture;
    std::string outputExtension; // lower case, with the dot: ".mkv"
    std::optional<NumberedName> numbered; // picture outputs with a frame number in the name
};

// Parses argv[1...]. Throws CliError with exit status 2 and a message naming the problem. With
// --help or --version the other arguments are not required.
Options ParseOptions(std::span<const std::string> args);

using session::ColourHex;
using session::InputIsTvcFile;
using session::ParseMethodName;
using session::ParsePaletteColours;
// Throws CliError (2) when --palette does not fit options.mode: a mode of sixteen colours, or
// another number of registers than the mode has. ParseOptions leaves this to the run for a TVC
// file without --mode, whose mode is known only once it is open.
void CheckPaletteFitsMode(const session::Recipe& recipe);

// "out_%05d.png" → prefix "out_", width 5, zero padding. Empty when the name holds no number;
// throws CliError (2) for a malformed or second conversion ("%s", "%d%d", a lone "%").
std::optional<NumberedName> ParseNumberedName(const std::string& name);

std::string HelpText();
std::string VersionText();

} // namespace pelorin::cli
