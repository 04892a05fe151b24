// pelorin-convert: the window's frame conversion for pictures and whole videos.
#include "convert_job.h"

#include <csignal>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
extern "C" void RequestStop(int) { pelorin::cli::g_stopRequested.store(true); }
} // namespace

int main(int argc, char** argv)
{
    // Ctrl-C stops between frames, so the run can remove its unfinished outputs.
    struct sigaction action = {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    const std::vector<std::string> args(argv + 1, argv + argc);
    pelorin::cli::Console console;
    console.errIsTerminal = isatty(STDERR_FILENO) == 1;
    return pelorin::cli::RunConvert(args, console);
}
