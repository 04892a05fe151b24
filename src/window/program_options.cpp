#include "program_options.h"

#include "pelorin_version.h"

#include <cctype>
#include <charconv>

namespace pelorin::window {

ProgramCommandLine ParseProgramCommandLine(std::span<const std::string> args)
{
    ProgramCommandLine result;
    auto fail = [&](std::string message) {
        result.action = ProgramCommandLine::Action::Error;
        result.error = std::move(message);
        return result;
    };
    bool optionsEnded = false;
    bool fileGiven = false;
    bool sawAspect = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool isOption = !optionsEnded && arg.size() > 1 && arg[0] == '-';
        if (!isOption) {
            if (fileGiven)
                return fail("more than one file was given ('" + result.options.file + "', '" + arg
                    + "'); the window opens one");
            if (arg.empty())
                return fail("an empty file name was given");
            result.options.file = arg;
            fileGiven = true;
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--real-time") {
            result.options.realTime = true;
        } else if (arg == "--loop") {
            result.options.loop = true;
        } else if (arg == "--show-time") {
            result.options.showTime = true;
        } else if (arg == "--steady") {
            result.options.steady = true;
        } else if (arg == "--fit") {
            result.options.fit = true;
        } else if (arg == "--aspect") {
            if (i + 1 == args.size())
                return fail("--aspect needs a value: stretch, fit or fill");
            if (sawAspect)
                return fail("--aspect is given twice");
            sawAspect = true;
            std::string value = args[++i];
            std::string lower = value;
            for (char& c : lower)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            if (lower == "stretch")
                result.options.aspect = video::Aspect::Stretch;
            else if (lower == "fit")
                result.options.aspect = video::Aspect::Fit;
            else if (lower == "fill")
                result.options.aspect = video::Aspect::Fill;
            else
                return fail("--aspect takes stretch, fit or fill, got '" + value + "'");
        } else if (arg == "--exit-after") {
            if (i + 1 == args.size())
                return fail("--exit-after needs a count of frames");
            if (result.options.exitAfterFrames)
                return fail("--exit-after is given twice");
            const std::string& value = args[++i];
            int frames = 0;
            const auto [end, ec]
                = std::from_chars(value.data(), value.data() + value.size(), frames);
            if (value.empty() || ec != std::errc() || end != value.data() + value.size()
                || frames < 1 || frames > kMaxExitAfterFrames)
                return fail("--exit-after takes a count of frames from 1 to "
                    + std::to_string(kMaxExitAfterFrames) + ", got '" + value + "'");
            result.options.exitAfterFrames = frames;
        } else if (arg == "--help" || arg == "-h") {
            // Asking for help wins over whatever else is wrong on the line.
            result.action = ProgramCommandLine::Action::Help;
            return result;
        } else if (arg == "--version") {
            result.action = ProgramCommandLine::Action::Version;
            return result;
        } else {
            return fail("unknown option '" + arg + "' (--help lists the options)");
        }
    }
    return result;
}

std::string ProgramHelpText()
{
    return R"(Usage: pelorin [options] [FILE]

Opens the Pelorin window, which steps through a video and shows each frame as the TVC computer
would in one of its bitmap modes. FILE (a video or a picture) is opened as a file dropped onto the
window is, and stepping starts. Without FILE, "Play AVI" opens the sample tom.avi.

Options (the same as the items of the window's context menu, switched on from the start):
  --real-time          step at the video's own frame rate instead of as fast as frames
                       convert
  --loop               go back to frame 1 after the video's last frame
  --show-time          show each frame's conversion time in milliseconds
  --steady             steady dithering: each frame keeps to the previous frame's pattern
                       where the picture has not changed, so still areas do not shimmer
  --fit                the scroll bar fits the video: it runs from frame 0 to the video's
                       last frame, and stepping ends there (or goes round with --loop)
  --aspect SHAPE       the picture's shape on the TVC's 4:3 screen: stretch (the default)
                       fills it whatever the video's shape; fit keeps the video's display
                       aspect with black bars; fill keeps it and crops the overflow equally
                       on both sides

For scripted checks:
  --exit-after FRAMES  step FRAMES frames, then close the window and print the frame
                       reached; without FILE the sample plays, as "Play AVI" plays it. A
                       message the window would show is printed instead and ends the
                       program, as stepping that stops first does (a still picture is not
                       stepped)

  --help, -h           this text
  --version            the program's version

Exit status: 0 when the window was closed, 1 after an error, 2 when the command line is wrong.
)";
}

std::string ProgramVersionText() { return std::string("pelorin ") + PELORIN_VERSION + "\n"; }

} // namespace pelorin::window
