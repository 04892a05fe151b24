// --frames given by times, --last, the echo of a range past the end and the unreduced cell of
// the comparison sheet.
#include "cli_error.h"
#include "compare_grid.h"
#include "options.h"
#include "testing/cli_test_util.h"

#include "pipeline/frame_pipeline.h"
#include "platform/sample_picture.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace pelorin;
using namespace pelorin::cli;
using namespace pelorin::cli::test;
using platform::Surface;

namespace {

FrameRange Frames(const std::string& value)
{
    const std::vector<std::string> args = { "--frames", value, "in.avi", "out.png" };
    return *ParseOptions(args).frames;
}

std::string Refusal(const std::string& value)
{
    const std::vector<std::string> args = { "--frames", value, "in.avi", "out.png" };
    try {
        ParseOptions(args);
    } catch (const CliError& e) {
        EXPECT_EQ(e.ExitStatus(), 2);
        return e.what();
    }
    return "(accepted)";
}

// ---- times ----

TEST(FramesByTime, SecondsAndClockTimesAreReadToTheMicrosecond)
{
    const struct {
        const char* text;
        int64_t first;
        std::optional<int64_t> last;
    } cases[] = {
        { "12.5s", 12'500'000, 12'500'000 },
        { "80s", 80'000'000, 80'000'000 },
        { "0.04s", 40'000, 40'000 },
        { "1:20.5", 80'500'000, 80'500'000 },
        { "01:02:03.25", 3'723'250'000, 3'723'250'000 },
        { "10s:12.5s", 10'000'000, 12'500'000 },
        { "1:20.5:", 80'500'000, std::nullopt },
        { "0:10.0:0:12.5", 10'000'000, 12'500'000 },
        { "2.5s:1:00.0", 2'500'000, 60'000'000 },
    };
    for (const auto& c : cases) {
        const FrameRange range = Frames(c.text);
        EXPECT_TRUE(range.byTime) << c.text;
        EXPECT_EQ(range.firstMicroseconds, c.first) << c.text;
        EXPECT_EQ(range.lastMicroseconds, c.last) << c.text;
        EXPECT_EQ(range.given, c.text);
    }
}

TEST(FramesByTime, FrameNumbersStayFrameNumbers)
{
    // Without a decimal point or an "s", a colon separates frame numbers as it always has.
    const FrameRange range = Frames("1:20");
    EXPECT_FALSE(range.byTime);
    EXPECT_EQ(range.first, 1);
    EXPECT_EQ(range.last, 20);
    EXPECT_FALSE(Frames("600:").last);
}

TEST(FramesByTime, MalformedTimesAreRefusedNamingTheValue)
{
    for (const char* text : { "1:2.5", "1:60.0", "1:60.0s", "s", "1.s", "12.1234567s", "-1s",
             "1:20.5:1", "12.5", "10s:5s", "1:75:00.0", "5s:", "" }) {
        if (std::string(text) == "5s:")
            continue; // an open range: accepted below
        const std::string message = Refusal(text);
        EXPECT_NE(message.find("--frames"), std::string::npos) << text << ": " << message;
    }
    EXPECT_NE(Refusal("10s:5s").find("the last time comes before the first"), std::string::npos);
    EXPECT_FALSE(Frames("5s:").lastMicroseconds);
}

// The frame on show at a time is the one that started last at or before it: at 25 frames a
// second frame 312 starts at 12.48 s and 313 at 12.52 s, so 12.5 s shows frame 312.
TEST(FramesByTime, ATimeStandsForTheFrameOnShowThen)
{
    EXPECT_EQ(ResolveFrameTimes(Frames("12.5s"), 25, 1).first, 312);
    EXPECT_EQ(ResolveFrameTimes(Frames("12.52s"), 25, 1).first, 313);
    EXPECT_EQ(ResolveFrameTimes(Frames("0.039999s"), 25, 1).first, 0);
    // NTSC: 30000/1001 a second; 1:20.5 is 80.5 s, 80.5 × 30000 / 1001 = 2412.58...
    const FrameRange ntsc = ResolveFrameTimes(Frames("1:20.5:1:21.0"), 30000, 1001);
    EXPECT_EQ(ntsc.first, 2412);
    EXPECT_EQ(ntsc.last, 2427); // 81 × 30000 / 1001 = 2427.57...
    const FrameRange numbers = ResolveFrameTimes(Frames("3:9"), 25, 1);
    EXPECT_EQ(numbers.first, 3);
    EXPECT_EQ(numbers.last, 9);
}

// The sample runs at 25 frames a second: "12.5s" is frame 312, written by its own number.
TEST(FramesByTime, TheToolWritesTheFrameOnShowAtTheTime)
{
    ScratchFolder folder;
    const ToolResult byTime
        = RunTool({ "--quiet", "--frames", "12.5s", SampleVideo(), folder.Path("t_%d.png") });
    EXPECT_EQ(byTime.exitStatus, 0) << byTime.err;
    EXPECT_TRUE(std::filesystem::exists(folder.Path("t_312.png")));
    const ToolResult byNumber
        = RunTool({ "--quiet", "--frames", "312", SampleVideo(), folder.Path("n.png") });
    EXPECT_EQ(byNumber.exitStatus, 0) << byNumber.err;
    EXPECT_EQ(ReadFile(folder.Path("t_312.png")), ReadFile(folder.Path("n.png")));
    // Both ends included: 0:01.0 to 0:01.2 are frames 25 to 30.
    ScratchFolder range;
    EXPECT_EQ(
        RunTool({ "--quiet", "--frames", "0:01.0:0:01.2", SampleVideo(), range.Path("r_%d.png") })
            .exitStatus,
        0);
    for (int frame = 24; frame <= 31; ++frame)
        EXPECT_EQ(std::filesystem::exists(range.Path("r_" + std::to_string(frame) + ".png")),
            frame >= 25 && frame <= 30)
            << frame;
}

TEST(FramesByTime, PastTheEndIsEchoedAsWritten)
{
    ScratchFolder folder;
    const ToolResult open = RunTool({ "--frames", "600:", SampleVideo(), folder.Path("o.mkv") });
    EXPECT_EQ(open.exitStatus, 1);
    EXPECT_NE(open.err.find("--frames 600: goes past the end: "), std::string::npos) << open.err;
    EXPECT_EQ(open.err.find("600:499"), std::string::npos) << open.err;
    const ToolResult late = RunTool({ "--frames", "30s", SampleVideo(), folder.Path("o.png") });
    EXPECT_EQ(late.exitStatus, 1);
    EXPECT_NE(late.err.find("--frames 30s (frames 750) goes past the end"), std::string::npos)
        << late.err;
}

// ---- --last ----

TEST(LastFrame, ConvertsTheRangeAndWritesOnlyItsLastFrame)
{
    ScratchFolder folder;
    // Without steady dithering each frame converts by itself: the last of a range is the frame
    // converted alone.
    ASSERT_EQ(RunTool({ "--quiet", "--method", "floyd", "--frames", "5", SampleVideo(),
                          folder.Path("alone.png") })
                  .exitStatus,
        0);
    const ToolResult last = RunTool({ "--quiet", "--method", "floyd", "--frames", "2:5", "--last",
        SampleVideo(), folder.Path("last.png") });
    EXPECT_EQ(last.exitStatus, 0) << last.err;
    EXPECT_EQ(ReadFile(folder.Path("last.png")), ReadFile(folder.Path("alone.png")));
    // Numbered: one file, named by its frame.
    ASSERT_EQ(RunTool({ "--quiet", "--frames", "2:5", "--last", "--threads", "3", SampleVideo(),
                          folder.Path("n_%d.png") })
                  .exitStatus,
        0);
    for (int frame = 2; frame <= 5; ++frame)
        EXPECT_EQ(
            std::filesystem::exists(folder.Path("n_" + std::to_string(frame) + ".png")), frame == 5)
            << frame;
    // With steady dithering the last frame carries the range's history: another picture.
    ASSERT_EQ(RunTool({ "--quiet", "--steady", "--method", "floyd", "--frames", "2:5", "--last",
                          SampleVideo(), folder.Path("steady.png") })
                  .exitStatus,
        0);
    EXPECT_NE(ReadFile(folder.Path("steady.png")), ReadFile(folder.Path("alone.png")));
}

TEST(LastFrame, CompareRefusesIt)
{
    const std::vector<std::string> args = { "--compare", "3", "--last", "in.avi", "out.png" };
    EXPECT_THROW(ParseOptions(args), CliError);
}

// ---- the comparison sheet ----

TEST(CompareSheet, TheCellAfterTheMethodsIsTheUnreducedFrame)
{
    ScratchFolder folder;
    ASSERT_EQ(RunTool({ "--compare", "42", "--mode", "4", SampleVideo(), folder.Path("cmp.png") })
                  .exitStatus,
        0);
    ASSERT_EQ(RunTool({ "--mode", "4", "--method", "none", "--frames", "42", SampleVideo(),
                          folder.Path("none.png") })
                  .exitStatus,
        0);
    const std::vector<Surface> sheet = DecodeAllFrames(folder.Path("cmp.png"));
    const std::vector<Surface> none = DecodeAllFrames(folder.Path("none.png"));
    ASSERT_EQ(sheet.size(), 1u);
    ASSERT_EQ(none.size(), 1u);
    // Five rows now: the sixteen methods, then the unreduced frame first in the fifth.
    const CellOrigin at = GridCellOrigin(16, 4, kDisplayWidth, kDisplayHeight);
    ASSERT_EQ(sheet[0].height, at.y + kDisplayHeight + kGridGap);
    int differing = 0;
    for (int y = 0; y < kDisplayHeight; ++y)
        for (int x = 0; x < kDisplayWidth; ++x)
            differing += sheet[0].At(at.x + x, at.y + y) != none[0].At(x, y);
    EXPECT_EQ(differing, 0);
}

} // namespace
