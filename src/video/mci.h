#pragma once
// The module `mci`: numbered video operations built as MCI command strings and sent to the
// MCI string interpreter, which drives one video device under the alias "video1".
#include "platform/picture_box.h"

#include <cstdint>
#include <string>
#include <variant>

namespace pelorin {

// The optional value argument of MciCommand: absent, a number, or a text.
using MciValue = std::variant<std::monostate, int64_t, double, std::string>;

// Performs operation `command` (1 ... 17); any other number does nothing. Returns the status
// answer for operations 11, 12 and 13 and an empty string otherwise. Never reports an MCI
// failure.
std::string MciCommand(int command, const std::string& fileName = {},
    platform::PictureBox* parent = nullptr, const MciValue& value = {});

// The MCI string interpreter. Returns 0 on success or an MCI error code; when `answer` is given
// and capacity > 0, the status answer is written there (at most capacity − 1 characters).
uint32_t mciSendStringA(const std::string& command, std::string* answer, unsigned capacity,
    int callbackWindow);

} // namespace pelorin
