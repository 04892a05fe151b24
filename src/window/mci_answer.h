#pragma once
// Reading the video device's status answers, which the form asks for its own facts of the open
// video (mode, position, length, frame rate).
#include <cstdint>
#include <optional>
#include <string>

namespace pelorin::window {

// The answer's text: a status answer may arrive as a whole fixed-length answer buffer, so the
// text ends at the first NUL. Empty when no video is open.
std::string MciModeText(const std::string& answer);

// A status answer read as a whole non-negative number; empty when it is not one.
std::optional<int64_t> MciNumber(const std::string& answer);

} // namespace pelorin::window
