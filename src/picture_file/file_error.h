#pragma once
// The failure of writing a picture or an output file: the message names the file and the reason.
#include <stdexcept>
#include <string>

namespace pelorin::picture_file {

class FileError : public std::runtime_error {
public:
    explicit FileError(const std::string& message)
        : std::runtime_error(message)
    {
    }
};

} // namespace pelorin::picture_file
