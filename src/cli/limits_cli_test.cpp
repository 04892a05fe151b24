// pelorin-convert at the limits: names checked over the whole range, folders moved during a
// run, the last picture's time, sizes, frames in flight, stops inside a long conversion.
#include "cli_error.h"
#include "frames_in_flight.h"
#include "testing/cli_test_util.h"
#include "video/testing/user_media.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace pelorin;
using namespace pelorin::cli;
using namespace pelorin::cli::test;
namespace fs = std::filesystem;

namespace {

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(ConvertToolNames, AFolderOutsideTheRangeDoesNotBlockTheRun)
{
    ScratchFolder folder;
    fs::create_directory(folder.Path("s_00000.png"));
    const ToolResult r = RunTool({ "--frames", "2:3", SampleVideo(), folder.Path("s_%05d.png") });
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(fs::exists(folder.Path("s_00002.png")));
    EXPECT_TRUE(fs::exists(folder.Path("s_00003.png")));
}

TEST(ConvertToolNames, AFolderInsideTheRangeIsRefusedBeforeAnyFrameIsConverted)
{
    ScratchFolder folder;
    fs::create_directory(folder.Path("s_00007.png"));
    const ToolResult r = RunTool({ "--frames", "2:8", SampleVideo(), folder.Path("s_%05d.png") });
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(
        Contains(r.err, "cannot write '" + folder.Path("s_00007.png") + "': it is a folder"))
        << r.err;
    // No summary: nothing was converted.
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(folder.Files(), std::set<std::string> { "s_00007.png" });
}

TEST(ConvertToolFolders, AFolderMovedDuringTheRunGetsTheFinishedOutputAndNoLeftovers)
{
    ScratchFolder folder;
    for (const std::string output : { "r.mkv", "r.mp4", "r.vram", "r.gif", "s_%03d.png" }) {
        SCOPED_TRACE(output);
        const fs::path before = folder.Root() / "pd";
        const fs::path after = folder.Root() / "pd2";
        fs::create_directory(before);
        const ToolResult r = RunTool(
            { "--frames", "0:5", "--threads", "2", SampleVideo(), (before / output).string() },
            [&](int64_t written) {
                if (written == 2)
                    fs::rename(before, after);
            });
        EXPECT_EQ(r.exitStatus, 0) << r.err;
        EXPECT_FALSE(fs::exists(before));
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(after))
            names.insert(entry.path().filename().string());
        if (output == "s_%03d.png")
            EXPECT_EQ(names,
                (std::set<std::string> { "s_000.png", "s_001.png", "s_002.png", "s_003.png",
                    "s_004.png", "s_005.png" }));
        else
            EXPECT_EQ(names, std::set<std::string> { output });
        fs::remove_all(after);
    }
}

TEST(ConvertToolTiming, AGifsLastPictureKeepsItsDelay)
{
    // 0.1, 0.5, 1.0 and 1.0 s: 2.6 s. Six slots a second give each picture a slot of its own
    // (see the slot timeline's tests), and 2.6 s of them is 15.6, rounded to 16 frames.
    ScratchFolder folder;
    const std::string out = folder.Path("g.mkv");
    const ToolResult r = RunTool({ video::test::UnevenGif(), out });
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(StreamFrameRate(out), (std::pair<int, int> { 6, 1 }));
    const std::vector<platform::Surface> frames = DecodeAllFrames(out);
    ASSERT_EQ(frames.size(), 16u);
    // The last picture, from its start at slot 10 to the end.
    for (size_t i = 11; i < frames.size(); ++i)
        EXPECT_EQ(frames[i].pixels, frames[10].pixels) << i;
    EXPECT_NE(frames[10].pixels, frames[9].pixels);
}

namespace {

// A PNG that is only its header: the signature and an IHDR chunk stating `width` × `height`
// (8-bit RGB), then an empty IDAT and the end. Enough for a size check, which reads no further.
void WritePngHeaderOnly(const std::string& path, uint32_t width, uint32_t height)
{
    std::string bytes("\x89PNG\r\n\x1a\n", 8);
    const auto be32 = [&](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes.push_back(char((v >> shift) & 0xFF));
    };
    be32(13);
    bytes += "IHDR";
    be32(width);
    be32(height);
    bytes += std::string("\x08\x02\x00\x00\x00", 5);
    be32(0); // CRC, which FFmpeg checks only when asked to
    be32(0);
    bytes += "IDAT";
    be32(0);
    be32(0);
    bytes += "IEND";
    be32(0);
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

TEST(ConvertToolSizes, AHugePictureBeyondFfmpegsLimitIsCalledTooLargeNotEmpty)
{
    ScratchFolder folder;
    // 16384 x 16128 is the tallest FFmpeg decodes at 16384 wide: (16384 + 128) x (16128 + 128)
    // x 8 bytes stays under 2^31; one row more does not, nor does 16384 x 16385.
    for (const uint32_t height : { 16129u, 16385u }) {
        const std::string picture = folder.Path("huge_" + std::to_string(height) + ".png");
        WritePngHeaderOnly(picture, 16384, height);
        const ToolResult r = RunTool({ "--keep-size", picture, folder.Path("out.png") });
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_TRUE(Contains(r.err, "16384 x " + std::to_string(height) + " is too large"))
            << r.err;
    }
}

TEST(ConvertToolSizes, ATallOnePixelWidePictureGoesIntoFfv1)
{
    // FFV1's usual four slices need two columns; a picture one pixel wide gets one slice.
    ScratchFolder folder;
    const std::string picture = folder.Path("tall.png");
    const platform::Surface tall = RandomPicture(1, 4096, PaletteColours(16), 3);
    WritePng(picture, tall);
    for (const std::string output : { "tall.mkv", "tall.avi" }) {
        const ToolResult r
            = RunTool({ "--keep-size", "--method", "none", picture, folder.Path(output) });
        ASSERT_EQ(r.exitStatus, 0) << r.err;
        const std::vector<platform::Surface> frames = DecodeAllFrames(folder.Path(output));
        ASSERT_EQ(frames.size(), 1u);
        // Colours already in the palette pass --method none unchanged.
        EXPECT_EQ(frames[0].pixels, tall.pixels);
    }
}

TEST(ConvertToolSizes, AComparisonSheetTooWideIsRefusedBeforeTheWork)
{
    // 4 cells of 8190 with 8-pixel gaps: 8 + 4 x 8198 = 32800 pixels, beyond the 32768 a
    // picture may have.
    ScratchFolder folder;
    const std::string picture = folder.Path("wide.png");
    WritePng(picture, RandomPicture(8190, 4, PaletteColours(16), 4));
    const ToolResult r
        = RunTool({ "--keep-size", "--compare", "0", picture, folder.Path("sheet.png") });
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_TRUE(Contains(r.err, "8190 x 4 pixels on a sheet of 32800 x")) << r.err;
    EXPECT_TRUE(Contains(r.err, "leave out --keep-size")) << r.err;
    EXPECT_EQ(folder.Files(), std::set<std::string> { "wide.png" });
}

// ---- frames in flight ----

TEST(FramesInFlight, ThreadsBeyondTwoPerCoreAreNotUsed)
{
    const FrameCost cost { 1000, 100, 10, 100 };
    // 2 cores: 4 converters at most, holding 2 x 4 + 2 frames, whatever --threads asks.
    for (const int threads : { 4, 5, 64, 256 }) {
        const FramesInFlight plan = PlanFramesInFlight(threads, 2, 1000, cost, UINT64_MAX, 8, 8);
        EXPECT_EQ(plan.converters, 4) << threads;
        EXPECT_EQ(plan.frames, 10) << threads;
        EXPECT_EQ(plan.bytes, 1000u + 10 * 100 + 4 * 10) << threads;
    }
    EXPECT_EQ(PlanFramesInFlight(3, 2, 1000, cost, UINT64_MAX, 8, 8).converters, 3);
    EXPECT_EQ(PlanFramesInFlight(0, 2, 1000, cost, UINT64_MAX, 8, 8).converters, 2);
    // Never more converters than frames; one is a serial run holding one frame.
    EXPECT_EQ(PlanFramesInFlight(64, 8, 3, cost, UINT64_MAX, 8, 8).converters, 3);
    const FramesInFlight one = PlanFramesInFlight(64, 8, 1, cost, UINT64_MAX, 8, 8);
    EXPECT_EQ(one.converters, 1);
    EXPECT_EQ(one.frames, 1);
    EXPECT_EQ(one.bytes, 1110u);
}

TEST(FramesInFlight, TheBudgetLowersTheConvertersAndRefusesWhatCannotFit)
{
    const FrameCost cost { 1000, 100, 10, 100 };
    // 3 converters: 1000 + 8 x 100 + 30 = 1830; 4 would need 2040.
    EXPECT_EQ(PlanFramesInFlight(4, 2, 100, cost, 2039, 8, 8).converters, 3);
    EXPECT_EQ(PlanFramesInFlight(4, 2, 100, cost, 2040, 8, 8).converters, 4);
    // 2 converters need 1000 + 6 x 100 + 20 = 1620: below that, one frame at a time (1110).
    EXPECT_EQ(PlanFramesInFlight(4, 2, 100, cost, 1619, 8, 8).frames, 1);
    EXPECT_EQ(PlanFramesInFlight(4, 2, 100, cost, 1110, 8, 8).frames, 1);
    try {
        PlanFramesInFlight(4, 2, 100, cost, 1109, 640, 480);
        ADD_FAILURE() << "a run beyond the budget was planned";
    } catch (const CliError& e) {
        EXPECT_EQ(e.ExitStatus(), 1);
        EXPECT_TRUE(Contains(e.what(), "640 x 480")) << e.what();
    }
}

TEST(FramesInFlight, ARunThatCannotFitItsBudgetSaysSoAndWritesNothing)
{
    ScratchFolder folder;
    const std::string picture = folder.Path("in.png");
    WritePng(picture, RandomPicture(256, 128, PaletteColours(16), 6));
    Console console;
    console.out = std::tmpfile();
    console.err = std::tmpfile();
    console.memoryBudgetBytes = 1 << 20; // 1 MB: not even the display picture fits
    const std::vector<std::string> args = { "--keep-size", picture, folder.Path("out.mkv") };
    EXPECT_EQ(RunConvert(args, console), 1);
    std::rewind(console.err);
    char message[512] = {};
    const size_t got = std::fread(message, 1, sizeof message - 1, console.err);
    const std::string err(message, got);
    EXPECT_TRUE(Contains(err, "a frame of 256 x 128 pixels needs about")) << err;
    EXPECT_TRUE(Contains(err, "memory budget of 1 MB")) << err;
    EXPECT_EQ(folder.Files(), std::set<std::string> { "in.png" });
    std::fclose(console.out);
    std::fclose(console.err);
}

TEST(FramesInFlight, ThePaletteSearchIsPlannedInTheBudgetToo)
{
    ScratchFolder folder;
    const std::string picture = folder.Path("in.png");
    WritePng(picture, RandomPicture(1000, 1000, PaletteColours(16), 6));
    const auto run = [&](const std::vector<std::string>& args) {
        Console console;
        console.out = std::tmpfile();
        console.err = std::tmpfile();
        // Room for the run itself (with its working bitmap and writer), not for the search too.
        const FrameCost cost = EstimateFrameCost(1000, 1000, 1000, 1000, true, 1'000'000, 8);
        console.memoryBudgetBytes = cost.fixedBytes + cost.serialFrameBytes + cost.converterBytes
            + PaletteSearchBytes(1000, 1000) / 2;
        const int status = RunConvert(args, console);
        std::rewind(console.err);
        char message[512] = {};
        const size_t got = std::fread(message, 1, sizeof message - 1, console.err);
        std::fclose(console.out);
        std::fclose(console.err);
        return std::pair { status, std::string(message, got) };
    };
    EXPECT_EQ(run({ "--keep-size", "--mode", "4", picture, folder.Path("plain.png") }).first, 0);
    const auto [status, err] = run({ "--keep-size", "--mode", "4", "--palette", "best", picture,
        folder.Path("best.png") });
    EXPECT_EQ(status, 1);
    EXPECT_TRUE(Contains(err, "a frame of 1000 x 1000 pixels needs about")) << err;
    EXPECT_FALSE(std::filesystem::exists(folder.Path("best.png")));
}
