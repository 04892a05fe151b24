#include "output_files.h"

#include "cli_error.h"

#include <filesystem>

namespace pelorin::cli {

void CheckNotInput(const std::string& input, const std::string& output)
{
    std::error_code ec;
    if (std::filesystem::equivalent(input, output, ec) && !ec)
        throw UsageError("'" + output + "' is the input file; it will not be overwritten");
}

} // namespace pelorin::cli
