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

#include <filesystem>
#include <fstream>
#include <regex>

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
        const std::vector<std::string> common { "--mode", mode, "--method", "floyd", "--frames",
            "40" };
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
        EXPECT_TRUE(a == shown.end())
            << "video RAM byte " << (a - shown.begin()) << " is " << int(*a) << ", not " << int(*b);
        for (const std::string& fault : machine.Faults())
            ADD_FAILURE() << fault;
        const TvcMode& row = TvcModeOf(std::stoi(mode));
        EXPECT_EQ(machine.LastWrite(0x06) & 0x03, tvc::ModePortValue(row));
        EXPECT_EQ(machine.LastWrite(0x06) & 0x03, uint8_t(kep[3]));
        for (uint8_t r = 0; r < 4; ++r)
            EXPECT_EQ(machine.LastWrite(uint8_t(0x60 + r)), uint8_t(kep[4 + r]))
                << "register " << int(r);
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
        frames.emplace_back(
            bytes.begin() + ptrdiff_t(at), bytes.begin() + ptrdiff_t(at + kVramFrameBytes));
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
    // Every fourth frame (6.25 a second), so that each frame is drawn in its time; the sample
    // moves a lot, so only the first few fit.
    const std::vector<std::string> common { "--method", "bayer-4x4", "--steady", "--frames",
        "0:79" };
    auto args = common;
    args.insert(args.end(), { "--tvc-fps", "6.25", SampleVideo(), folder.Path("c.cas") });
    const ToolResult clip = RunTool(args);
    ExpectDone(clip);
    EXPECT_NE(clip.out.find("of 20 frames kept (every 4th frame)"), std::string::npos) << clip.out;
    EXPECT_EQ(clip.out.find("--steady makes"), std::string::npos);
    EXPECT_EQ(clip.out.find("shown late"), std::string::npos) << clip.out;
    const size_t kept = FramesKept(clip.out);
    ASSERT_GE(kept, 3u) << clip.out;
    ASSERT_LT(kept, 20u) << clip.out;
    args = common;
    args.insert(args.end(), { SampleVideo(), folder.Path("c.vram") });
    ExpectDone(RunTool(args));
    auto frames = VramFrames(folder.Path("c.vram"), 4);
    ASSERT_EQ(frames.size(), 20u);
    frames.resize(kept);
    const auto due = [](int64_t frame) { return uint64_t(frame) * tvc::kTvcClockHz * 4 / 25; };
    for (const bool waits : { false, true }) {
        const tvc::test::ClipCheck check
            = tvc::test::PlayAndCheck(Bytes(ReadFile(folder.Path("c.cas"))), frames, due,
                int64_t(kept) * 2 + 1, tvc::kFieldCycles, { .videoRamWaits = waits });
        for (const std::string& p : check.problems)
            ADD_FAILURE() << p;
        EXPECT_TRUE(check.returned);
    }
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
        Bytes(ReadFile(folder.Path("c.cas"))), frames, due, 11, tvc::kFieldCycles);
    for (const std::string& p : check.problems)
        ADD_FAILURE() << p;
}

// The number after `label` in the summary, or -1.
int64_t SummaryNumber(const std::string& out, const std::string& label)
{
    const size_t at = out.find(label);
    return at == std::string::npos ? -1 : std::stoll(out.substr(at + label.size()));
}

TEST(TvcOutput, AFullClipStopsConvertingAndReportsWhatItHolds)
{
    // Floyd without --steady changes most bytes every frame: the clip is full after a few.
    ScratchFolder folder;
    for (const char* threads : { "1", "2" }) {
        int64_t handedOver = 0;
        const ToolResult clip = RunTool({ "--threads", threads, "--mode", "16", "--method",
                                            "floyd", "--frames", "0:299", SampleVideo(),
                                            folder.Path("c.cas") },
            [&](int64_t frames) { handedOver = frames; });
        ExpectDone(clip);
        const int64_t kept = SummaryNumber(clip.out, "clip: ");
        ASSERT_GT(kept, 1) << clip.out;
        ASSERT_LT(kept, 100) << clip.out;
        // The frame that did not fit is the last one converted.
        EXPECT_EQ(handedOver, kept + 1) << threads;
        EXPECT_EQ(SummaryNumber(clip.out, "frames written: "), kept) << clip.out;
    }
}

TEST(TvcOutput, RegistersChosenForAClipLookOnlyAtTheFramesItHolds)
{
    ScratchFolder folder;
    const ToolResult clip = RunTool({ "--mode", "4", "--method", "floyd", "--palette", "best",
        "--frames", "0:499", SampleVideo(), folder.Path("c.cas") });
    ExpectDone(clip);
    const int64_t upTo = SummaryNumber(clip.out, "palette chosen over frames 0 ... ");
    ASSERT_GE(upTo, 1) << clip.out;
    EXPECT_LT(upTo, 499) << clip.out;
    // The clip holds at least the frames the choice looked at, and the registers are those of a
    // choice over those frames alone.
    const int64_t kept = SummaryNumber(clip.out, "clip: ");
    EXPECT_GE(kept, upTo + 1) << clip.out;
    const ToolResult alone = RunTool({ "--mode", "4", "--method", "floyd", "--palette", "best",
        "--frames", "0:" + std::to_string(upTo), SampleVideo(), folder.Path("alone.vram") });
    ExpectDone(alone);
    const std::regex registers("palette: registers [0-9A-Fx ]+");
    std::smatch a, b;
    ASSERT_TRUE(std::regex_search(clip.out, a, registers)) << clip.out;
    ASSERT_TRUE(std::regex_search(alone.out, b, registers)) << alone.out;
    EXPECT_EQ(a.str(), b.str());
}

TEST(TvcOutput, StepPastTheRangeKeepsItsFirstFrame)
{
    ScratchFolder folder;
    ExpectDone(RunTool({ "-q", "--mode", "4", "--method", "bayer-2x2", "--frames", "0",
        SampleVideo(), folder.Path("first.cas") }));
    // 1e-20 frames a second: a step no whole number holds.
    for (const char* fps : { "0.5", "1e-20" }) {
        ExpectDone(RunTool({ "-q", "--mode", "4", "--method", "bayer-2x2", "--frames", "0:9",
            "--tvc-fps", fps, SampleVideo(), folder.Path("c.cas") }));
        EXPECT_EQ(ReadFile(folder.Path("c.cas")), ReadFile(folder.Path("first.cas"))) << fps;
    }
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
        // Written as no other number option takes it.
        { { "--tvc-fps", "0x19", SampleVideo(), folder.Path("a.cas") }, "--tvc-fps takes" },
        { { "--tvc-fps", " 5", SampleVideo(), folder.Path("a.cas") }, "--tvc-fps takes" },
    };
    for (const auto& c : cases) {
        const ToolResult r = RunTool(c.args);
        EXPECT_EQ(r.exitStatus, 2) << c.args.front();
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
    EXPECT_FALSE(std::filesystem::exists(folder.Path("a.kep")));
}

} // namespace

namespace {

TEST(TvcInput, PictureFilesConvertBackToTheSameBytesWithTreshold)
{
    ScratchFolder folder;
    for (const char* mode : { "2", "4", "16" }) {
        SCOPED_TRACE(std::string("mode ") + mode);
        for (const char* extension : { ".kep", ".cas" }) {
            const std::string first = folder.Path(std::string("first") + extension);
            const std::string again = folder.Path(std::string("again") + extension);
            ExpectDone(RunTool(
                { "--mode", mode, "--method", "stucki", "--frames", "60", SampleVideo(), first }));
            // In its own mode without --mode, and with it.
            ExpectDone(RunTool({ "--method", "treshold", first, again }));
            EXPECT_EQ(ReadFile(again), ReadFile(first)) << extension;
            ExpectDone(RunTool({ "--mode", mode, "--method", "treshold", first, again }));
            EXPECT_EQ(ReadFile(again), ReadFile(first)) << extension;
        }
    }
}

TEST(TvcInput, ClipAndVramReadBackAsTheirFrames)
{
    ScratchFolder folder;
    ExpectDone(RunTool({ "--mode", "4", "--method", "bayer-8x8", "--steady", "--frames", "0:5",
        SampleVideo(), folder.Path("c.cas") }));
    ExpectDone(RunTool({ "--mode", "4", "--method", "bayer-8x8", "--steady", "--frames", "0:5",
        SampleVideo(), folder.Path("c.vram") }));
    // The clip's frames, converted again, are the .vram's; so are the .vram's own.
    const ToolResult fromClip
        = RunTool({ "--method", "treshold", folder.Path("c.cas"), folder.Path("clip.vram") });
    ExpectDone(fromClip);
    EXPECT_EQ(ReadFile(folder.Path("clip.vram")), ReadFile(folder.Path("c.vram")));
    ExpectDone(RunTool({ "--mode", "4", "--method", "treshold", folder.Path("c.vram"),
        folder.Path("again.vram") }));
    EXPECT_EQ(ReadFile(folder.Path("again.vram")), ReadFile(folder.Path("c.vram")));
    // A .vram says nothing of its mode.
    const ToolResult noMode = RunTool({ folder.Path("c.vram"), folder.Path("x.png") });
    EXPECT_EQ(noMode.exitStatus, 1);
    EXPECT_NE(noMode.err.find("--mode"), std::string::npos) << noMode.err;
}

TEST(TvcInput, PaletteAppliesToTheFilesOwnModeWithoutMode)
{
    ScratchFolder folder;
    const std::string four = folder.Path("four.kep"), sixteen = folder.Path("sixteen.kep");
    ExpectDone(RunTool({ "--mode", "4", "--frames", "60", SampleVideo(), four }));
    ExpectDone(RunTool({ "--mode", "16", "--frames", "60", SampleVideo(), sixteen }));
    const ToolResult given
        = RunTool({ "--palette", "0,15,9,10", "--method", "floyd", four, folder.Path("g.kep") });
    ExpectDone(given);
    EXPECT_EQ(Bytes(ReadFile(folder.Path("g.kep")).substr(3, 5)),
        (std::vector<uint8_t> { 1, 0x00, 0x55, 0x41, 0x44 }));
    const ToolResult refused = RunTool({ "--palette", "best", sixteen, folder.Path("s.png") });
    EXPECT_EQ(refused.exitStatus, 2);
    EXPECT_NE(refused.err.find("all sixteen colours"), std::string::npos) << refused.err;
}

TEST(TvcInput, AnotherProgramsCasIsRefusedNamingWhatItHolds)
{
    ScratchFolder folder;
    // "10 END" in a file of the same layout, as another tool would write it.
    std::vector<uint8_t> bytes = tvc::CasBytes({}, {});
    bytes.resize(tvc::kCasHeaderBytes);
    for (const uint8_t b : { 5, 10, 0, 0xEE, 0xFF, 0 })
        bytes.push_back(b);
    bytes[0x82] = 6;
    {
        std::ofstream out(folder.Path("other.cas"), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    }
    const ToolResult r = RunTool({ folder.Path("other.cas"), folder.Path("x.png") });
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("Pelorin did not write"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("a BASIC program of 1 line"), std::string::npos) << r.err;
}

} // namespace

namespace {

TEST(TvcInput, ChosenRegistersAreCarriedAndReadBack)
{
    ScratchFolder folder;
    // Black, white, dim yellow (6), bright blue (9): registers 00h 55h 14h 41h.
    for (const char* extension : { ".kep", ".cas" }) {
        const std::string first = folder.Path(std::string("first") + extension);
        const std::string again = folder.Path(std::string("again") + extension);
        ExpectDone(RunTool({ "--mode", "4", "--palette", "0,15,6,9", "--method", "floyd",
            "--frames", "60", SampleVideo(), first }));
        const std::string bytes = ReadFile(first);
        const size_t at = std::string(extension) == ".kep" ? 4 : bytes.size() - kVramFrameBytes - 5;
        EXPECT_EQ(Bytes(bytes.substr(at, 4)), (std::vector<uint8_t> { 0x00, 0x55, 0x14, 0x41 }))
            << extension;
        // Read back in its own mode and registers: the same bytes again.
        ExpectDone(RunTool({ "--method", "treshold", first, again }));
        EXPECT_EQ(ReadFile(again), bytes) << extension;
    }
}

} // namespace
