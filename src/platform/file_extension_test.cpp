#include "file_extension.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

    TEST(FileExtension, LowersTheLastExtensionOfTheNameOnly)
    {
        struct Case {
            const char* path;
            const char* extension;
        };
        for (const Case& c : {
                 Case { "clip.AVI", ".avi" },
                 Case { "Dir.KEP/Pic.Cas", ".cas" },
                 Case { "archive.tar.GZ", ".gz" },
                 Case { "README", "" },
                 Case { ".Profile", "" },
                 Case { "name.", "." },
                 Case { "\xC3\x84rger.\xC3\x84VI", ".\xC3\x84vi" },
             })
            EXPECT_EQ(LowerExtension(c.path), c.extension) << "path '" << c.path << "'";
    }

} // namespace
} // namespace platform
