#pragma once
// The extension a file's name ends in, as the program tells its kinds of file apart.
#include <string>

namespace platform {

// The extension of `path`'s last component with its dot, as std::filesystem::path gives it
// (".kep" for "dir/Pic.KEP"; "" for "README" and for ".profile"; ".gz" for "a.tar.gz"), with
// the ASCII letters A-Z lowered: "PIC.Kep" and "pic.kep" are one kind of file.
std::string LowerExtension(const std::string& path);

} // namespace platform
