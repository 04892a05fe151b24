#include "program_options.h"

#include "pelorin_version.h"

namespace pelorin::window {

ProgramCommandLine ParseProgramCommandLine(std::span<const std::string> args)
{
    ProgramCommandLine result;
    try {
        static_cast<session::Settings&>(result.options)
            = session::ParseSettings(args, session::kWindow);
    } catch (const session::OptionError& e) {
        result.action = ProgramCommandLine::Action::Error;
        result.error = e.what();
        return result;
    }
    if (result.options.help || result.options.version) {
        result.action = result.options.help ? ProgramCommandLine::Action::Help
                                            : ProgramCommandLine::Action::Version;
        return result;
    }
    const std::vector<std::string>& files = result.options.files;
    result.action = ProgramCommandLine::Action::Error;
    if (files.size() > 1)
        result.error = "more than one file was given ('" + files[0] + "', '" + files[1]
            + "'); the window opens one (a command of pelorin-convert opens without its OUTPUT)";
    else if (!files.empty() && files[0].empty())
        result.error = "an empty file name was given";
    else if (result.options.exitAfterFrames && result.options.frames)
        result.error = "--exit-after steps frames, but --frames shows its frames and stops "
                       "stepping; leave one of them out";
    else if (result.options.palette && !result.options.modeGiven
        && (files.empty() || !session::InputIsTvcFile(files[0])))
        result.error = "--palette sets the registers of --mode 2 or 4; name the mode too";
    else if (result.options.palette
        && result.options.palette->kind == session::PaletteRequest::Kind::BestPerLine)
        result.error = "--palette best-per-line is pelorin-convert's: the window shows one set of "
                       "registers for a picture";
    else
        result.action = ProgramCommandLine::Action::Run;
    // A TVC file without --mode opens in its own mode, which the form checks the palette against.
    if (result.action == ProgramCommandLine::Action::Run && result.options.palette
        && result.options.modeGiven) {
        try {
            session::CheckPaletteFitsMode(result.options);
        } catch (const session::OptionError& e) {
            result.action = ProgramCommandLine::Action::Error;
            result.error = e.what();
        }
    }
    if (!files.empty())
        result.options.file = files[0];
    return result;
}

std::string ProgramHelpText()
{
    return R"(Usage: pelorin [options] [FILE]

Opens the Pelorin window, which steps through a video and shows each frame as the TVC computer
would in one of its bitmap modes. FILE (a video or a picture) is opened as a file dropped onto the
window is, and stepping starts. Without FILE, "Play AVI" opens the sample tom.avi.

Options (the window's own turn on the items of its context menu from the start; the others are
pelorin-convert's and set the picture as they set it there):
)" + session::OptionsHelp(session::kWindow, 21)
        + "\n" + session::MethodsAndColoursHelp() + R"(
Exit status: 0 when the window was closed, 1 after an error, 2 when the command line is wrong.
)";
}

std::string ProgramVersionText() { return std::string("pelorin ") + PELORIN_VERSION + "\n"; }

} // namespace pelorin::window
