#pragma once
// The failures pelorin-convert reports: a message with the facts, and the exit status it ends
// with — 2 when the command line itself is wrong, 1 when the work fails.
#include <stdexcept>
#include <string>

namespace pelorin::cli {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

class CliError : public std::runtime_error {
public:
    CliError(int exitStatus, const std::string& message)
        : std::runtime_error(message)
        , m_exitStatus(exitStatus)
    {
    }
    int ExitStatus() const { return m_exitStatus; }

private:
    int m_exitStatus;
};

inline CliError UsageError(const std::string& message) { return CliError(kExitUsage, message); }
inline CliError Failure(const std::string& message) { return CliError(kExitFailure, message); }

} // namespace pelorin::cli
