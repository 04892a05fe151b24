// pelorin-convert writing the TVC's own files, and what those files do in the model of the
// machine: each picture program shows exactly the .vram the tool writes for the same
// conversion, and a clip shows every .vram frame in order, on time.
#include "testing/cli_test_util.h"
#include "tvc/clip_player.h"
#include "tvc/testing/clip_check.h"
#include "tvc/testing/tvc_machine.h"
#include "tvc/tvc_files.h"

#include "pipeline/vram.h"

#include <gtest/gtest.h>

using namespace pelorin;
using namespace pelorin::cli::test;

namespace {

std::vector<uint8_t> Bytes(const std::string& text) { return { text.begin(), text.end() }; }

void ExpectDone(const ToolResult& r) { ASSERT_EQ(r.exitStatus, 0) << r.err; }

TEST(TvcOutput, PictureProgramShowsTheToolsVramInEveryMode)
{
    ScratchFolder folder;
    for (const char* mode : { "2", "4", "16" }) {
        SCOPED_TRACE(std::string("mode ") + mode);
        const std::vector<std::string> common { "--mode", mode, "--method", "floyd", "--frames", "40" };
        auto args = common;
        args.insert(args.end(), { SampleVideo(), folder.Path("p.cas") });
        ExpectDone(RunTool(args));
        args = common;
        args.insert(args.end(), { SampleVideo(), folder.Path("p.vram") });
        ExpectDone(RunTool(args));
        args = common;
        args.insert(args.end(), { SampleVideo(), folder.Path("p.kep") });
        ExpectDone(RunTool(args));
        const std::vector<uint8_t> vram = Bytes(ReadFile(folder.Path("p.vram")));
        ASSERT_EQ(vram.size(), kVramFrameBytes);
        const std::string kep = ReadFile(folder.Path("p.kep"));
        EXPECT_EQ(Bytes(kep.substr(8)), vram) << ".kep";

        tvc::test::TvcMachine machine(tvc::test::TvcMachine::Model::Tvc32K);
        ASSERT_EQ(machine.LoadCas(Bytes(ReadFile(folder.Path("p.cas")))), "");
        machine.Call(tvc::kCodeAddress, 0x7FF0, true);
        ASSERT_TRUE(machine.Run(2'000'000, [&] { return machine.KeyboardReads() > 0; }));
        const auto shown = machine.VideoRam().subspan(0, kVramFrameBytes);
        const auto [a, b] = std::mismatch(shown.begin(), shown.end(), vram.begin());
        EXPECT_TRUE(a == shown.end()) << "video RAM byte " << (a - shown.begin()) << " is "
                                      << int(*a) << ", not " << int(*b);
        for (const std::string& fault : machine.Faults())
            ADD_FAILURE() << fault;
        const TvcMode& row = TvcModeOf(std::stoi(mode));
        EXPECT_EQ(machine.LastWrite(0x06) & 0x03, tvc::ModePortValue(row));
        EXPECT_EQ(machine.LastWrite(0x06) & 0x03, uint8_t(kep[3]));
        for (uint8_t r = 0; r < 4; ++r)
            EXPECT_EQ(machine.LastWrite(uint8_t(0x60 + r)), uint8_t(kep[4 + r])) << "register " << int(r);
        // No key for a while (the program first waits for the one that started it to go up),
        // then one.
        EXPECT_FALSE(machine.Run(100'000));
        machine.SetKeyDown(true);
        ASSERT_TRUE(machine.Run(200'000));
        EXPECT_TRUE(machine.Returned());
        EXPECT_EQ(machine.Paging(), 0x70);
        EXPECT_TRUE(machine.Faults().empty()) << machine.Faults().front();
    }
}

// Frames `first` ... of a .vram file.
std::vector<std::vector<uint8_t>> VramFrames(const std::string& path, size_t step = 1)
{
    const std::string bytes = ReadFile(path);
    std::vector<std::vector<uint8_t>> frames;
    for (size_t at = 0; at + kVramFrameBytes <= bytes.size(); at += step * kVramFrameBytes)
        frames.emplace_back(bytes.begin() + ptrdiff_t(at), bytes.begin() + ptrdiff_t(at + kVramFrameBytes));
    return frames;
}

// The number of frames a clip's summary says were kept.
size_t FramesKept(const std::string& out)
{
    const size_t at = out.find("clip: ");
    return at == std::string::npos ? 0 : size_t(std::stoul(out.substr(at + 6)));
}

TEST(TvcOutput, ClipShowsEveryVramFrameInOrderOnTime)
{
    ScratchFolder folder;
    // Every second frame (12.5 a second), so that each frame is drawn in its time; the sample
    // moves a lot, so only the first few fit.
    const std::vector<std::string> common { "--method", "bayer-4x4", "--steady", "--frames", "0:39" };
    auto args = common;
    args.insert(args.end(), { "--tvc-fps", "12.5", SampleVideo(), folder.Path("c.cas") });
    const ToolResult clip = RunTool(args);
    ExpectDone(clip);
    EXPECT_NE(clip.out.find("of 20 frames kept (every 2nd frame)"), std::string::npos) << clip.out;
    EXPECT_EQ(clip.out.find("--steady makes"), std::string::npos);
    const size_t kept = FramesKept(clip.out);
    ASSERT_GE(kept, 3u) << clip.out;
    ASSERT_LT(kept, 20u) << clip.out;
    args = common;
    args.insert(args.end(), { SampleVideo(), folder.Path("c.vram") });
    ExpectDone(RunTool(args));
    auto frames = VramFrames(folder.Path("c.vram"), 2);
    ASSERT_EQ(frames.size(), 20u);
    frames.resize(kept);
    const auto due = [](int64_t frame) { return uint64_t(frame) * tvc::kTvcClockHz * 2 / 25; };
    const tvc::test::ClipCheck check = tvc::test::PlayAndCheck(Bytes(ReadFile(folder.Path("c.cas"))),
        frames, due, int64_t(kept) * 2 + 1, tvc::kTvcClockHz / 500);
    for (const std::string& p : check.problems)
        ADD_FAILURE() << p;
    EXPECT_TRUE(check.returned);
}

TEST(TvcOutput, LowerRateKeepsEveryNthFrame)
{
    ScratchFolder folder;
    const auto [num, den] = StreamFrameRate(SampleVideo());
    const double half = double(num) / den / 2;
    const ToolResult clip = RunTool({ "--mode", "4", "--method", "bayer-2x2", "--frames", "0:9",
        "--tvc-fps", std::to_string(half), SampleVideo(), folder.Path("c.cas") });
    ExpectDone(clip);
    EXPECT_NE(clip.out.find("clip: 5 of 5 frames kept (every 2nd frame)"), std::string::npos)
        << clip.out;
    EXPECT_NE(clip.out.find("--steady makes clips longer"), std::string::npos) << clip.out;
    ExpectDone(RunTool({ "--mode", "4", "--method", "bayer-2x2", "--frames", "0:9", SampleVideo(),
        folder.Path("c.vram") }));
    const auto frames = VramFrames(folder.Path("c.vram"), 2);
    ASSERT_EQ(frames.size(), 5u);
    const auto due = [num = num, den = den](int64_t frame) {
        return uint64_t((__int128(frame) * tvc::kTvcClockHz * den * 4 + num) / (2 * num));
    };
    const tvc::test::ClipCheck check = tvc::test::PlayAndCheck(
        Bytes(ReadFile(folder.Path("c.cas"))), frames, due, 11, tvc::kTvcClockHz / 500);
    for (const std::string& p : check.problems)
        ADD_FAILURE() << p;
}

TEST(TvcOutput, WrongCommandLinesAreRefused)
{
    ScratchFolder folder;
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        { { "--frames", "3:4", SampleVideo(), folder.Path("a.kep") }, "takes one picture" },
        { { "--method", "none", SampleVideo(), folder.Path("a.kep") }, "--method none" },
        { { "--tvc-fps", "5", SampleVideo(), folder.Path("a.vram") }, "*.cas" },
        { { "--tvc-fps", "0", SampleVideo(), folder.Path("a.cas") }, "--tvc-fps takes" },
        { { "--tvc-fps", "x", SampleVideo(), folder.Path("a.cas") }, "--tvc-fps takes" },
    };
    for (const auto& c : cases) {
        const ToolResult r = RunTool(c.args);
        EXPECT_EQ(r.exitStatus, 2) << c.args.front();
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(folder.Path("a.kep")));
}

} // namespace
