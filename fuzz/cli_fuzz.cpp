// The command line of pelorin-convert from arbitrary bytes: the input is split at NUL bytes into
// arguments and parsed. Parsing either gives options or throws the tool's own error with an
// exit status of 2; anything else (a crash, another exception, a status other than 2) is a
// fault. The method-name and numbered-name parsers get each argument on its own as well.
#include "cli/cli_error.h"
#include "cli/options.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> args;
    std::string current;
    for (size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(char(data[i]));
        }
    }
    args.push_back(current);
    using namespace pelorin::cli;
    try {
        const Options options = ParseOptions(args);
        if (!options.help && !options.version && (options.input.empty() || options.output.empty()))
            __builtin_trap(); // accepted without the two file names
    } catch (const CliError& e) {
        if (e.ExitStatus() != kExitUsage)
            __builtin_trap();
    }
    for (const std::string& arg : args) {
        if (auto method = ParseMethodName(arg); method && (*method < 0 || *method > 16))
            __builtin_trap();
        try {
            if (auto name = ParseNumberedName(arg))
                (void)name->For(12345);
        } catch (const CliError& e) {
            if (e.ExitStatus() != kExitUsage)
                __builtin_trap();
        }
    }
    return 0;
}
