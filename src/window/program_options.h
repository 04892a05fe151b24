#pragma once
// The command line of the pelorin program, parsed as text before any window exists, so --help,
// --version and a wrong option work without a display.
//
//   pelorin [options] [FILE]
//
// The window's own switches turn on the context menu's items of the same meaning from the
// start; the recipe's options (--mode, --method, --palette, --steady, the adjustments, --aspect)
// are pelorin-convert's, from the same table, so a command can be opened in the window and
// fine-tuned; --frames picks the frame to start at. FILE is opened as a file dropped onto the
// window is. "--" ends the options (for a file whose name begins with a dash). --exit-after is
// for scripted checks of an installed program: the window steps FRAMES frames (of FILE, or of
// the sample as "Play AVI" opens it) and closes.
#include "session/option_table.h"

#include <optional>
#include <span>
#include <string>

namespace pelorin::window {

using session::kMaxExitAfterFrames;

// The options from the table both programs share (session/option_table.h), and the file.
struct ProgramOptions : session::Settings {
    std::string file; // empty: no file
};

struct ProgramCommandLine {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    ProgramOptions options;
    std::string error; // for Error: what is wrong, naming the argument
};

// Parses argv[1...].
ProgramCommandLine ParseProgramCommandLine(std::span<const std::string> args);

std::string ProgramHelpText();
std::string ProgramVersionText();

} // namespace pelorin::window
