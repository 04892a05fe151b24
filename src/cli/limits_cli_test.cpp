// pelorin-convert at the limits: names checked over the whole range, folders moved during a
// run, the last picture's time, sizes, frames in flight, stops inside a long conversion.
#include "testing/cli_test_util.h"
#include "video/testing/user_media.h"

#include <gtest/gtest.h>

#include <filesystem>

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
    const ToolResult r
        = RunTool({ "--frames", "2:3", SampleVideo(), folder.Path("s_%05d.png") });
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(fs::exists(folder.Path("s_00002.png")));
    EXPECT_TRUE(fs::exists(folder.Path("s_00003.png")));
}

TEST(ConvertToolNames, AFolderInsideTheRangeIsRefusedBeforeAnyFrameIsConverted)
{
    ScratchFolder folder;
    fs::create_directory(folder.Path("s_00007.png"));
    const ToolResult r
        = RunTool({ "--frames", "2:8", SampleVideo(), folder.Path("s_%05d.png") });
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_TRUE(Contains(r.err, "cannot write '" + folder.Path("s_00007.png") + "': it is a folder"))
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
                (std::set<std::string> {
                    "s_000.png", "s_001.png", "s_002.png", "s_003.png", "s_004.png", "s_005.png" }));
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
