#pragma once
// The options of both front doors in one table: pelorin-convert's command line, the window's own
// command line, their --help texts and the commands the window writes out (the copied command,
// "Export…") are all made from it, so an option is named, ranged and explained once.
//
// The recipe's options (mode, method, steady, palette, adjustments, aspect) mean the same at both
// doors; --frames picks the frames to write in the tool and the frame to start at in the window;
// the rest belong to one door.
#include "recipe.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin::session {

// Which front door takes an option.
enum Door : unsigned {
    kTool = 1, // pelorin-convert
    kWindow = 2, // pelorin
    kBothDoors = kTool | kWindow,
};

// What pelorin-convert writes for each frame.
enum class Size { Display, Working, KeepSize };

// Everything a command line sets: the recipe, and each door's own settings.
struct Settings : Recipe {
    bool help = false;
    bool version = false;
    std::optional<FrameRange> frames;
    std::vector<std::string> files; // the words that are no options, in order

    // pelorin-convert's
    bool methodGiven = false;
    Size size = Size::Display;
    std::optional<int64_t> compareFrame;
    bool quiet = false;
    bool progress = false; // the progress line drawn whatever standard error is
    int threads = 0; // frames converted at once; 0: one per core
    bool lastOnly = false; // every frame of the range is converted, only the last one written

    // pelorin's: the context menu's items switched on from the start
    bool realTime = false; // "Step at the video's own frame rate"
    bool loop = false; // "Loop at the end of the video"
    bool showTime = false; // "Show conversion time"
    bool fit = false; // "Scroll bar fits the video"
    std::optional<int> exitAfterFrames; // scripted checks: step this many frames, then close
};

// A million frames is over eleven hours of video at 25 frames a second.
constexpr int kMaxExitAfterFrames = 1000000;

struct OptionSpec {
    std::string_view name; // "--mode"
    std::string_view alias; // "-h"; empty: none
    std::string_view argument; // what the value is called in the help ("2|4|16"); empty: a switch
    unsigned doors; // Door bits
    // The help's lines after the option's column, joined by '\n'.
    std::string_view help;
    // The window's help where the option means something else there; empty: `help`.
    std::string_view windowHelp;
    // Takes the value (empty for a switch) into `settings`; throws OptionError.
    void (*take)(Settings& settings, const std::string& value);
    // For an option of the recipe: appends the words that give `recipe`'s value, nothing while
    // it is the default. Null for the others.
    void (*write)(const Recipe& recipe, std::vector<std::string>& words) = nullptr;
    // One of the window's picture choices (palette, adjustments, shape): a variant of a frame.
    bool pictureChoice = false;
    // The value may be left out (`argument` is then shown in brackets). It is the next word only
    // when that word is letters alone, as a value is and a file name seldom is (it has an
    // extension or a folder); "--name=value" always gives one. Left out, `take` gets "".
    bool valueOptional = false;
};

std::span<const OptionSpec> OptionTable();

// Reads `args` (argv[1 ...]) as `door` takes them: options (also as --name=value), "--" ending
// them, and the other words into Settings::files. The window stops at --help or --version, which
// win over whatever else is wrong on the line; the tool reads on. Throws OptionError naming the
// argument: an unknown option, one the door does not take, a value missing or out of range, an
// option given twice.
Settings ParseSettings(std::span<const std::string> args, Door door);

// The options `door` takes, one per paragraph, as --help lists them: the name and argument in a
// column `column` characters wide after two blanks, then the help's lines.
std::string OptionsHelp(Door door, size_t column);

// The methods with their captions and other spellings, and the sixteen colours with their names,
// as both --help texts list them after the options.
std::string MethodsAndColoursHelp();

// The recipe as command-line words, in the table's order: "--mode 4 --method floyd-steinberg
// --steady --palette black,white,blue,red --brightness 20 --aspect fit". Mode and method are
// always written; the rest when not the default. ParseSettings of these words gives the same
// conversion (Recipe::SameConversion).
std::vector<std::string> RecipeArguments(const Recipe& recipe);
// Only the picture choices (palette, adjustments, shape), for naming a variant of a frame.
std::vector<std::string> PictureChoiceArguments(const Recipe& recipe);

// Whether `input` names one of the TVC's own files (.kep, .cas, .vram, in any letter case).
bool InputIsTvcFile(const std::string& input);

} // namespace pelorin::session
