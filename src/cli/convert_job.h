#pragma once
// pelorin-convert as a function: parse the command line, convert, write, report. main() only
// forwards to it, so tests run the whole tool in-process.
#include "av/ffmpeg_util.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>

namespace pelorin::cli {

struct Console {
    std::FILE* out = stdout; // --help, --version, the summary
    std::FILE* err = stderr; // messages and the progress line
    bool errIsTerminal = false; // the progress line is drawn only on a terminal
    // Called on the writing thread after each frame is handed to the output, with the number of
    // frames handed over so far; lets a test act in the middle of a run.
    std::function<void(int64_t framesWritten)> frameWritten;
    // The memory a run may plan for, in bytes; 0: half of what the machine or the process's
    // limits allow.
    uint64_t memoryBudgetBytes = 0;
};

// Runs the tool on argv[1 ...]. Returns the exit status: 0 done, 1 the work failed, 2 the
// command line is wrong; the message goes to console.err as "pelorin-convert: ...".
int RunConvert(std::span<const std::string> args, const Console& console);

// Set from a signal handler to stop: between frames, or in a read or write that was waiting for
// data. The run then fails and removes what it wrote.
using av::g_stopRequested;

} // namespace pelorin::cli
