#include "file_extension.h"

#include <filesystem>

namespace platform {

std::string LowerExtension(const std::string& path)
{
    std::string extension = std::filesystem::path(path).extension().string();
    // ASCII only: the extensions compared against are ASCII, and lowering other bytes by the
    // locale could turn a byte of a UTF-8 name into a letter.
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return extension;
}

} // namespace platform
