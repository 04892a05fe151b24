// The command "Copy command line" builds, worked out by hand: the mode's number and the method's
// name from their tables, and each word quoted only where the shell would read it otherwise.
#include "command_line.h"

#include "dither/method_table.h"
#include "pipeline/tvc_mode.h"

#include <gtest/gtest.h>

using namespace pelorin;
using namespace pelorin::window;

session::Recipe RecipeOf(int mode, int method)
{
    session::Recipe recipe;
    recipe.mode = &TvcModeOf(mode);
    recipe.method = method;
    return recipe;
}

TEST(CommandLine, ModeNumberAndMethodNameComeFromTheirTables)
{
    EXPECT_EQ(ConvertCommand("pelorin-convert", RecipeOf(4, 1), 120, "clip.avi", "clip-120.png")
                  .toStdString(),
        "pelorin-convert --mode 4 --method atkinson --frames 120 clip.avi clip-120.png");
    EXPECT_EQ(ConvertCommand("/opt/p/pelorin-convert", RecipeOf(2, kNoMethod), 0, "a.mkv", "b.png")
                  .toStdString(),
        "/opt/p/pelorin-convert --mode 2 --method none --frames 0 a.mkv b.png");
    // A steady picture is the end of the steps from the sequence's start.
    EXPECT_EQ(ConvertCommand("p", RecipeOf(16, 2), 9, "a.mkv", "b.png", 3).toStdString(),
        "p --mode 16 --method floyd --steady --frames 3:9 --last a.mkv b.png");
}

TEST(CommandLine, OnlyWordsTheShellWouldSplitOrExpandAreQuoted)
{
    EXPECT_EQ(ShellQuoted("my clip.avi").toStdString(), "'my clip.avi'");
    EXPECT_EQ(ShellQuoted("it's.avi").toStdString(), "'it'\\''s.avi'");
    EXPECT_EQ(ShellQuoted("$HOME").toStdString(), "'$HOME'");
    EXPECT_EQ(ShellQuoted("a_b@c%d+e=f:g,h./-").toStdString(), "a_b@c%d+e=f:g,h./-");
}

TEST(CommandLine, MethodNameIsTheCaptionInLowerCaseWithDashesForBlanks)
{
    EXPECT_EQ(CommandLineMethodName(5).toStdString(), "halftone-2x2"); // "Halftone 2x2"
    EXPECT_EQ(CommandLineMethodName(4).toStdString(), "treshold+noise"); // "Treshold+Noise"
    EXPECT_EQ(CommandLineMethodName(kNoMethod).toStdString(), "none");
}

// Variants of one frame (palette, adjustments, shape, steady) get output names of their own; the
// defaults add nothing.
TEST(CommandLine, OutputNameCarriesWhatDiffersFromTheDefaults)
{
    EXPECT_EQ(VariantSuffix({}, false).toStdString(), "");
    EXPECT_EQ(VariantSuffix({ "--palette", "best", "--brightness", "30", "--contrast", "-40",
                                "--gamma", "1.5", "--aspect", "fit" },
                  true)
                  .toStdString(),
        "-best-brightness30-contrast-40-gamma1.5-fit-steady");
    EXPECT_NE(VariantSuffix({ "--brightness", "30" }, false),
        VariantSuffix({ "--saturation", "30" }, false));
}
