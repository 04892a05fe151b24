// pelorin-convert with --tvc-seconds: every output shows the frames as the clip plays them, the
// clip holds them all and plays them in the model of the machine, and a length that cannot be
// had is refused before the work.
#include "testing/cli_test_util.h"
#include "tvc/clip_player.h"
#include "tvc/testing/clip_check.h"
#include "tvc/tvc_read.h"

#include "pipeline/vram.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace pelorin;
using namespace pelorin::cli::test;

namespace {

using Frame = std::vector<uint8_t>;

std::vector<Frame> VramFrames(const std::string& path)
{
    const std::string bytes = ReadFile(path);
    std::vector<Frame> frames;
    for (size_t at = 0; at + kVramFrameBytes <= bytes.size(); at += kVramFrameBytes)
        frames.emplace_back(
            bytes.begin() + ptrdiff_t(at), bytes.begin() + ptrdiff_t(at + kVramFrameBytes));
    return frames;
}

// The sample video is all motion: its exact frames fill a clip's memory in under a second.
const std::vector<std::string> kClip { "--mode", "16", "--method", "bayer-4x4", "--steady",
    "--tvc-fps", "5", "--tvc-seconds", "4" };

ToolResult RunOnSample(std::vector<std::string> args, const std::string& output)
{
    args.insert(args.end(), { SampleVideo(), output });
    return RunTool(args);
}

TEST(TvcSeconds, EveryOutputShowsTheClipAsItPlaysIt)
{
    ScratchFolder folder;
    const ToolResult cas = RunOnSample(kClip, folder.Path("c.cas"));
    ASSERT_EQ(cas.exitStatus, 0) << cas.err;
    EXPECT_NE(cas.out.find("clip: 20 of 20 frames kept"), std::string::npos) << cas.out;
    EXPECT_NE(cas.out.find("faithfulness as it plays"), std::string::npos) << cas.out;
    ASSERT_EQ(RunOnSample(kClip, folder.Path("c.vram")).exitStatus, 0);
    ASSERT_EQ(RunOnSample(kClip, folder.Path("c.mkv")).exitStatus, 0);
    // Without the length: the exact conversion of the same frames, every 5th.
    std::vector<std::string> exact(kClip.begin(), kClip.end() - 4);
    exact.insert(exact.end(), { "--frames", "0:99" });
    ASSERT_EQ(RunOnSample(exact, folder.Path("e.vram")).exitStatus, 0);

    // Each of the clip's frames shown as long as the TVC shows it: five of the source's.
    const std::vector<Frame> shown = VramFrames(folder.Path("c.vram"));
    ASSERT_EQ(shown.size(), 96u);
    std::vector<Frame> played;
    for (size_t k = 0; k < shown.size(); ++k) {
        if (k % 5 == 0)
            played.push_back(shown[k]);
        EXPECT_EQ(shown[k], played.back()) << "frame " << k;
    }
    const std::vector<Frame> exactFrames = VramFrames(folder.Path("e.vram"));
    EXPECT_EQ(played[0], exactFrames[0]);
    EXPECT_NE(played.back(), exactFrames[95]) << "the exact frames would have fitted";

    // The clip plays those frames, and the video shows them at its own size.
    const auto [num, den] = StreamFrameRate(SampleVideo());
    const auto due = [num = num, den = den](int64_t frame) {
        return uint64_t((__int128(frame) * tvc::kTvcClockHz * den * 10 + num) / (2 * num));
    };
    const std::string casBytes = ReadFile(folder.Path("c.cas"));
    const tvc::test::ClipCheck check = tvc::test::PlayAndCheck(
        Frame(casBytes.begin(), casBytes.end()), played, due, 41, tvc::kFieldCycles);
    for (const std::string& p : check.problems)
        ADD_FAILURE() << p;
    const std::vector<platform::Surface> video = DecodeAllFrames(folder.Path("c.mkv"));
    ASSERT_EQ(video.size(), shown.size());
    const tvc::TvcFile file = tvc::ReadTvcFile(folder.Path("c.vram"), &TvcModeOf(16));
    for (size_t k = 0; k < video.size(); k += 7) {
        const platform::Surface expected
            = tvc::EnlargeWhole(tvc::WorkingPicture(file, k), video[k].width, video[k].height);
        EXPECT_TRUE(expected.pixels == video[k].pixels) << "frame " << k;
    }
}

TEST(TvcSeconds, ALengthWithRoomPlaysTheExactFrames)
{
    // A still scene with two pixels changed a frame: every change fits at once.
    ScratchFolder folder;
    std::vector<platform::Surface> frames(4, RandomPicture(32, 24, PaletteColours(16), 1));
    for (size_t i = 1; i < frames.size(); ++i)
        for (int p = 0; p < 2; ++p)
            frames[i].At(int(i * 5 + p), int(i * 3)) = frames[i - 1].At(0, 0) ^ 0xFFFFFF;
    MakeTestVideo(folder.Path("in.mkv"), frames);
    const auto run = [&](const std::vector<std::string>& more, const std::string& output) {
        std::vector<std::string> args { "--mode", "16", "--method", "bayer-4x4", "--steady" };
        args.insert(args.end(), more.begin(), more.end());
        args.insert(args.end(), { folder.Path("in.mkv"), folder.Path(output) });
        return RunTool(args).exitStatus;
    };
    ASSERT_EQ(run({ "--tvc-seconds", "0.16" }, "c.vram"), 0);
    ASSERT_EQ(run({}, "e.vram"), 0);
    EXPECT_EQ(ReadFile(folder.Path("c.vram")), ReadFile(folder.Path("e.vram")));
}

TEST(TvcSeconds, ALengthPastTheInputIsRefusedNamingIt)
{
    ScratchFolder folder;
    std::vector<std::string> args(kClip.begin(), kClip.end() - 1);
    args.push_back("1000");
    const ToolResult r = RunOnSample(args, folder.Path("c.cas"));
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("needs 5000 frames at 5 frames/s"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("tom.avi' has"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(folder.Path("c.cas")));
    EXPECT_EQ(Refusal({ "--keep-size", "--tvc-seconds", "3", "in.mkv", "out.cas" }).first, 2);
    EXPECT_EQ(Refusal({ "--tvc-seconds", "0", "in.mkv", "out.cas" }).first, 2);
}

} // namespace
