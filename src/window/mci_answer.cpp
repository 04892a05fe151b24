#include "mci_answer.h"

#include <charconv>

namespace pelorin::window {

std::string MciModeText(const std::string& answer)
{
    // A status answer may arrive as a whole fixed-length answer buffer: the text ends at
    // the first NUL.
    return answer.substr(0, answer.find('\0'));
}

// A status answer read as a whole non-negative number; empty when it is not one.
std::optional<int64_t> MciNumber(const std::string& answer)
{
    const std::string text = MciModeText(answer);
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value < 0)
        return std::nullopt;
    return value;
}

} // namespace pelorin::window
