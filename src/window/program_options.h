#pragma once
// The command line of the pelorin program, parsed as text before any window exists, so --help,
// --version and a wrong option work without a display.
//
//   pelorin [--real-time] [--loop] [--show-time] [--steady] [--fit] [--aspect SHAPE]
//           [--exit-after FRAMES] [FILE]
//
// The switches turn on the context menu's items of the same meaning from the start, --aspect
// picks the item of "Picture shape" (stretch, fit or fill, in any case); FILE is
// opened as a file dropped onto the window is. "--" ends the options (for a file whose name
// begins with a dash). --exit-after is for scripted checks of an installed program: the window
// steps FRAMES frames (of FILE, or of the sample as "Play AVI" opens it) and closes.
#include "video/picture_shape.h"

#include <optional>
#include <span>
#include <string>

namespace pelorin::window {

// A million frames is over eleven hours of video at 25 frames a second.
constexpr int kMaxExitAfterFrames = 1000000;

struct ProgramOptions {
    bool realTime = false; // "Step at the video's own frame rate"
    bool loop = false; // "Loop at the end of the video"
    bool showTime = false; // "Show conversion time"
    bool steady = false; // "Steady dithering"
    bool fit = false; // "Scroll bar fits the video"
    video::Aspect aspect = video::Aspect::Stretch; // "Picture shape"
    std::string file; // empty: no file
    std::optional<int> exitAfterFrames; // 1 ... 1000000; empty: the window stays until closed
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
