// pelorin-convert run whole, in-process, on the sample video and on pictures made here.
#include "testing/cli_test_util.h"
#include "compare_grid.h"
#include "convert/palette.h"
#include "convert/stretch_picture.h"
#include "dither/method_table.h"
#include "pipeline/frame_pipeline.h"
#include "platform/sample_picture.h"
#include "video/mci.h"
#include "pipeline/vram.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace pelorin;
using namespace pelorin::cli;
using namespace pelorin::cli::test;
using platform::PictureBox;
using platform::Surface;

namespace {

int IndexOf(std::string_view routine)
{
    for (const Method& m : Methods())
        if (m.routineName == routine)
            return m.index;
    return -1;
}

bool IsNoiseMethod(int method) { return method == IndexOf("DitherThresholdNoise"); }

struct WindowPictures {
    Surface working;
    Surface display;
};

// The frame as the window converts it: the video opened into Pic1 with MCI operations 1 and 9,
// sought with 14, then the frame pipeline on pictures of the window's sizes.
WindowPictures WindowPipeline(const std::string& video, int64_t frame, int mode, int method)
{
    PictureBox pic1(kHostWidth, kHostHeight);
    MciCommand(MciOperation::OpenAviVideo, video, &pic1);
    MciCommand(MciOperation::TimeFormatFrames);
    MciCommand(MciOperation::SeekTo, "", nullptr, MciValue(frame));
    const TvcMode& row = TvcModeOf(mode);
    PictureBox working(row.workingWidth, row.workingHeight), display(kDisplayWidth, kDisplayHeight);
    ConversionContext context;
    ConvertFrame(context, row, method, &pic1, working, &display);
    MciCommand(MciOperation::Close);
    return { working.Image(), display.Image() };
}

Surface OnlyFrame(const std::string& path)
{
    std::vector<Surface> frames = DecodeAllFrames(path);
    EXPECT_EQ(frames.size(), 1u) << path;
    return frames.empty() ? Surface() : frames[0];
}

void ExpectDone(const ToolResult& r)
{
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
}

} // namespace

// ---- the conversion itself ----

TEST(ConvertTool, DefaultPathEqualsTheWindowsPipeline)
{
    ScratchFolder folder;
    const struct {
        int mode;
        int method;
        int64_t frame;
    } cases[] = {
        { 16, IndexOf("DitherAtkinson"), 0 },
        { 4, IndexOf("DitherBayer4x4"), 137 },
        { 2, IndexOf("DitherFloyd"), 499 },
        { 16, kNoMethod, 250 },
        { 16, IndexOf("DitherJarvis"), 26 }, // just past a keyframe
        { 4, IndexOf("DitherHalftone3x3"), 74 },
        { 2, IndexOf("DitherSierra2Row"), 312 },
    };
    for (const auto& c : cases) {
        const std::string method = c.method == kNoMethod ? "none" : std::to_string(c.method);
        const std::string frame = std::to_string(c.frame);
        const std::string mode = std::to_string(c.mode);
        ExpectDone(RunTool({ "--mode", mode, "--method", method, "--frames", frame, SampleVideo(),
            folder.Path("display.png") }));
        ExpectDone(RunTool({ "--mode", mode, "--method", method, "--frames", frame, "--working",
            SampleVideo(), folder.Path("working.png") }));
        const WindowPictures window = WindowPipeline(SampleVideo(), c.frame, c.mode, c.method);
        EXPECT_EQ(OnlyFrame(folder.Path("display.png")), window.display)
            << "mode " << mode << " method " << method << " frame " << frame;
        EXPECT_EQ(OnlyFrame(folder.Path("working.png")), window.working)
            << "mode " << mode << " method " << method << " frame " << frame;
    }
}

TEST(ConvertTool, KeepSizeLeavesAPalettePictureUnchanged)
{
    ScratchFolder folder;
    const int keeping[]
        = { IndexOf("DitherAtkinson"), IndexOf("DitherFloyd"), IndexOf("DitherThreshold"),
              IndexOf("DitherSierra"), IndexOf("DitherBurkes"), IndexOf("DitherStucki"),
              IndexOf("DitherJarvis"), IndexOf("DitherSierraLite"), IndexOf("DitherSierra2Row") };
    uint32_t seed = 11;
    for (int mode : { 2, 4, 16 }) {
        // An odd size, so neither the working buffer's padding nor the border hides anything.
        const Surface picture = RandomPicture(37, 23, PaletteColours(mode), seed++);
        const std::string in = folder.Path("palette" + std::to_string(mode) + ".png");
        WritePng(in, picture);
        for (int method : keeping) {
            const std::string out = folder.Path("out.png");
            ExpectDone(RunTool({ "--keep-size", "--mode", std::to_string(mode), "--method",
                std::to_string(method), in, out }));
            EXPECT_EQ(OnlyFrame(out), picture)
                << "mode " << mode << ", " << FindMethod(method)->caption;
        }
    }
}

TEST(ConvertTool, FrameNumbersAreTheVideosOwn)
{
    // Frame i of this video is sample picture i; with --keep-size and no method the tool must
    // hand back exactly the frames asked for, under their own numbers.
    ScratchFolder folder;
    std::vector<Surface> frames;
    for (int i = 0; i < 8; ++i)
        frames.push_back(platform::MakeSamplePicture(64, 48, i));
    MakeTestVideo(folder.Path("clip.mkv"), frames);
    ExpectDone(RunTool({ "--keep-size", "--method", "none", "--frames", "3:5",
        folder.Path("clip.mkv"), folder.Path("f_%d.png") }));
    for (int i = 3; i <= 5; ++i)
        EXPECT_EQ(OnlyFrame(folder.Path("f_" + std::to_string(i) + ".png")), frames[size_t(i)])
            << i;
    EXPECT_FALSE(std::filesystem::exists(folder.Path("f_2.png")));
    EXPECT_FALSE(std::filesystem::exists(folder.Path("f_6.png")));
}

TEST(ConvertTool, KeepSizeTakesYuvVideoOfAnyWidth)
{
    // The YUV-to-RGB conversion works in blocks of pixels; widths that are no multiple of a
    // block once made it write past the end of the frame's picture.
    ScratchFolder folder;
    for (int width : { 328, 330, 331, 332, 333, 336 }) {
        const std::string video = folder.Path("yuv" + std::to_string(width) + ".mkv");
        MakeYuvTestVideo(video,
            { platform::MakeSamplePicture(width, 10, 0),
                platform::MakeSamplePicture(width, 10, 1) });
        ExpectDone(RunTool({ "--keep-size", "--method", "none", video, folder.Path("k%d.png") }));
        const std::vector<Surface> decoded = DecodeAllFrames(video);
        for (int i = 0; i < 2; ++i) {
            const Surface kept = OnlyFrame(folder.Path("k" + std::to_string(i) + ".png"));
            ASSERT_EQ(kept.width, width);
            ASSERT_EQ(kept.height, 10);
            // Two YUV-to-RGB conversions may round a channel differently, so the check is that
            // each written picture lies far closer to its own frame than to the other one.
            const auto distance = [&](const Surface& x, const Surface& y) {
                double sum = 0;
                for (size_t p = 0; p < x.pixels.size(); ++p)
                    for (int shift : { 0, 8, 16 })
                        sum += std::abs(
                            int(x.pixels[p] >> shift & 0xFF) - int(y.pixels[p] >> shift & 0xFF));
                return sum / double(x.pixels.size() * 3);
            };
            EXPECT_LT(distance(kept, decoded[size_t(i)]), 3.0) << width;
            EXPECT_GT(
                distance(kept, decoded[size_t(1 - i)]), 4 * distance(kept, decoded[size_t(i)]))
                << width;
        }
    }
}

// ---- outputs ----

TEST(ConvertTool, VideoExportsDecodeBackToThePictureFrames)
{
    ScratchFolder folder;
    const std::vector<std::string> common
        = { "--mode", "4", "--method", "floyd", "--frames", "100:139" };
    const auto run = [&](const std::string& output) {
        std::vector<std::string> args = common;
        args.push_back(SampleVideo());
        args.push_back(output);
        return RunTool(args);
    };
    const ToolResult pictures = run(folder.Path("f_%03d.png"));
    ExpectDone(pictures);
    EXPECT_NE(pictures.out.find("frames written: 40"), std::string::npos) << pictures.out;
    std::vector<Surface> expected;
    for (int i = 100; i <= 139; ++i)
        expected.push_back(OnlyFrame(folder.Path("f_" + std::to_string(i) + ".png")));

    // .mp4 of the display picture is 4:2:0, not lossless: see the shell tests.
    for (const char* name : { "out.mkv", "out.avi", "out.gif" }) {
        const ToolResult r = run(folder.Path(name));
        ExpectDone(r);
        const std::vector<Surface> decoded = DecodeAllFrames(folder.Path(name));
        ASSERT_EQ(decoded.size(), expected.size()) << name;
        for (size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(decoded[i], expected[i]) << name << " frame " << 100 + i;
        if (std::string_view(name) != "out.gif") {
            EXPECT_EQ(StreamFrameRate(folder.Path(name)), std::make_pair(25, 1)) << name;
        }
    }
}

TEST(ConvertTool, VramHoldsEachWorkingFramePacked)
{
    ScratchFolder folder;
    for (int mode : { 2, 4, 16 }) {
        const std::vector<std::string> common = { "--working", "--mode", std::to_string(mode),
            "--method", "bayer-4x4", "--frames", "10:12" };
        std::vector<std::string> args = common;
        args.insert(args.end(), { SampleVideo(), folder.Path("tvc.vram") });
        ExpectDone(RunTool(args));
        args = common;
        args.insert(args.end(), { SampleVideo(), folder.Path("w%d.png") });
        ExpectDone(RunTool(args));
        std::vector<uint8_t> expected;
        for (int i = 10; i <= 12; ++i)
            PackVram(
                OnlyFrame(folder.Path("w" + std::to_string(i) + ".png")), TvcModeOf(mode), expected);
        const std::string vram = ReadFile(folder.Path("tvc.vram"));
        ASSERT_EQ(vram.size(), 3 * kVramFrameBytes);
        EXPECT_EQ(vram, std::string(expected.begin(), expected.end())) << "mode " << mode;
    }
}

TEST(ConvertTool, ConvertingOnSeveralThreadsGivesTheOneThreadBytes)
{
    // Every method in one mode, and "Treshold+Noise" (whose generator runs on from frame to
    // frame) in every mode and at the input's own size.
    ScratchFolder folder;
    struct Case {
        std::string mode, method, size;
    };
    std::vector<Case> cases;
    for (const Method& method : Methods())
        cases.push_back({ "4", std::to_string(method.index), "--working" });
    for (const std::string mode : { "2", "16" })
        cases.push_back({ mode, "treshold+noise", "--working" });
    cases.push_back({ "16", "treshold+noise", "--keep-size" });
    for (const Case& c : cases) {
        std::string outputs[2];
        for (int run = 0; run < 2; ++run) {
            const std::string path = folder.Path("run" + std::to_string(run) + ".vram");
            const std::string out = c.size == "--keep-size" ? folder.Path("k%d.png") : path;
            ExpectDone(RunTool({ "--threads", run == 0 ? "1" : "3", "--mode", c.mode, "--method",
                c.method, c.size, "--frames", "20:28", SampleVideo(), out }));
            if (c.size == "--keep-size")
                for (int i = 20; i <= 28; ++i)
                    outputs[run] += ReadFile(folder.Path("k" + std::to_string(i) + ".png"));
            else
                outputs[run] = ReadFile(path);
        }
        EXPECT_FALSE(outputs[0].empty());
        EXPECT_TRUE(outputs[0] == outputs[1])
            << "mode " << c.mode << ", method " << c.method << ", " << c.size;
    }
}

TEST(ConvertTool, SteadyOnSeveralThreadsGivesTheOneThreadBytes)
{
    ScratchFolder folder;
    for (const std::string method : { "floyd", "treshold+noise", "bayer-4x4", "jarvis" }) {
        std::string outputs[2];
        for (int run = 0; run < 2; ++run) {
            const std::string path = folder.Path("run" + std::to_string(run) + ".vram");
            ExpectDone(RunTool({ "--steady", "--threads", run == 0 ? "1" : "3", "--mode", "16",
                "--method", method, "--working", "--frames", "20:28", SampleVideo(), path }));
            outputs[run] = ReadFile(path);
        }
        EXPECT_FALSE(outputs[0].empty());
        EXPECT_TRUE(outputs[0] == outputs[1]) << method;
    }
}

namespace {

// The summary's number after `label` ("flicker: 3.50 % ..." gives 3.5).
double SummaryFigure(const std::string& out, const std::string& label)
{
    const size_t at = out.find(label);
    EXPECT_NE(at, std::string::npos) << label << " is missing from:\n" << out;
    return at == std::string::npos ? -1 : std::stod(out.substr(at + label.size()));
}

} // namespace

TEST(ConvertTool, SteadyTradesLittleFaithfulnessForMuchLessFlicker)
{
    // A still scene from a noisy sensor: smooth colour ramps, every channel of every frame moved
    // by a few steps at random.
    ScratchFolder folder;
    std::vector<Surface> frames;
    uint32_t state = 12345;
    for (int f = 0; f < 8; ++f) {
        Surface frame(160, 80);
        for (int y = 0; y < frame.height; ++y)
            for (int x = 0; x < frame.width; ++x) {
                const int base[3] = { x * 255 / 159, y * 255 / 79, (x + y) * 255 / 238 };
                uint32_t pixel = 0;
                for (int ch = 0; ch < 3; ++ch) {
                    state = state * 1664525u + 1013904223u;
                    const int v = std::clamp(base[ch] + int(state >> 28) - 8, 0, 255);
                    pixel |= uint32_t(v) << (8 * ch);
                }
                frame.At(x, y) = pixel;
            }
        frames.push_back(frame);
    }
    const std::string clip = folder.Path("still.mkv");
    MakeTestVideo(clip, frames);
    for (const std::string mode : { "4", "16" })
        for (const std::string method : { "floyd", "stucki", "treshold+noise" }) {
            double flicker[2], faithfulness[2];
            for (int steady = 0; steady < 2; ++steady) {
                std::vector<std::string> args { "--mode", mode, "--method", method, "--working",
                    clip, folder.Path("out.vram") };
                if (steady)
                    args.insert(args.begin(), "--steady");
                const ToolResult r = RunTool(args);
                ExpectDone(r);
                flicker[steady] = SummaryFigure(r.out, "flicker: ");
                faithfulness[steady] = SummaryFigure(r.out, "faithfulness: ");
            }
            EXPECT_GT(flicker[0], 1.0) << method << " in mode " << mode;
            EXPECT_LE(flicker[1] * 3, flicker[0]) << method << " in mode " << mode;
            EXPECT_GT(faithfulness[0], 0) << method << " in mode " << mode;
            EXPECT_LE(faithfulness[1], faithfulness[0] * 1.1) << method << " in mode " << mode;
        }
}

TEST(ConvertTool, CompareShowsEveryMethodOnTheFrame)
{
    ScratchFolder folder;
    ExpectDone(
        RunTool({ "--compare", "42", "--mode", "4", SampleVideo(), folder.Path("cmp.png") }));
    const Surface sheet = OnlyFrame(folder.Path("cmp.png"));
    ASSERT_EQ(sheet.width, kGridGap + 4 * (kDisplayWidth + kGridGap));
    for (const Method& method : Methods()) {
        if (IsNoiseMethod(method.index))
            continue;
        ExpectDone(RunTool({ "--mode", "4", "--method", std::to_string(method.index), "--frames",
            "42", SampleVideo(), folder.Path("one.png") }));
        const Surface one = OnlyFrame(folder.Path("one.png"));
        const CellOrigin at = GridCellOrigin(method.index - 1, 4, kDisplayWidth, kDisplayHeight);
        for (int y = 0; y < kDisplayHeight; y += 7)
            for (int x = 0; x < kDisplayWidth; ++x)
                ASSERT_EQ(sheet.At(at.x + x, at.y + y), one.At(x, y)) << method.caption;
    }
}

TEST(ConvertTool, ProgressOnlyOnATerminalAndNotWhenQuiet)
{
    ScratchFolder folder;
    for (bool quiet : { false, true }) {
        Console console;
        console.out = std::tmpfile();
        console.err = std::tmpfile();
        console.errIsTerminal = true;
        std::vector<std::string> args = { "--frames", "0:30", SampleVideo(), folder.Path("p.mkv") };
        if (quiet)
            args.insert(args.begin(), "--quiet");
        EXPECT_EQ(RunConvert(args, console), 0);
        std::fseek(console.err, 0, SEEK_END);
        const long errBytes = std::ftell(console.err);
        std::fseek(console.out, 0, SEEK_END);
        if (quiet)
            EXPECT_EQ(std::ftell(console.out), 0) << "--quiet prints nothing but errors";
        else
            EXPECT_GT(std::ftell(console.out), 0) << "the summary is written";
        std::fclose(console.out);
        std::fclose(console.err);
        if (quiet)
            EXPECT_EQ(errBytes, 0);
        else
            EXPECT_GT(errBytes, 0);
    }
    // Not a terminal (as RunTool runs it): no progress line.
    const ToolResult r = RunTool({ "--frames", "0:30", SampleVideo(), folder.Path("p.mkv") });
    ExpectDone(r);
    EXPECT_NE(r.out.find("conversion per frame (stopwatch): min"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("flicker: "), std::string::npos) << r.out;
}

TEST(ConvertTool, VramWithoutWorkingWritesWhatWorkingWrites)
{
    ScratchFolder folder;
    ExpectDone(RunTool({ "--frames", "7:8", SampleVideo(), folder.Path("plain.vram") }));
    ExpectDone(
        RunTool({ "--working", "--frames", "7:8", SampleVideo(), folder.Path("working.vram") }));
    const std::string plain = ReadFile(folder.Path("plain.vram"));
    EXPECT_EQ(plain.size(), 2 * kVramFrameBytes);
    EXPECT_EQ(plain, ReadFile(folder.Path("working.vram")));
}

TEST(ConvertTool, QuietPrintsNothingButErrors)
{
    ScratchFolder folder;
    const ToolResult run
        = RunTool({ "-q", "--frames", "0:2", SampleVideo(), folder.Path("q.mkv") });
    ExpectDone(run);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    const ToolResult compare
        = RunTool({ "--quiet", "--compare", "3", SampleVideo(), folder.Path("q.png") });
    ExpectDone(compare);
    EXPECT_EQ(compare.out, "");
    EXPECT_TRUE(std::filesystem::exists(folder.Path("q.png")));
    const ToolResult failed
        = RunTool({ "-q", "--frames", "0:600", SampleVideo(), folder.Path("f.mkv") });
    EXPECT_EQ(failed.exitStatus, 1);
    EXPECT_NE(failed.err.find("goes past the end"), std::string::npos) << failed.err;
}

// ---- refusals and failures ----

TEST(ConvertTool, BadInputsAreNamedAndLeaveNoFile)
{
    ScratchFolder folder;
    const std::string picture = folder.Path("in.png");
    WritePng(picture, platform::MakeSamplePicture(320, 240));
    std::ofstream(folder.Path("notes.avi")) << "not a video at all\n";
    {
        // A valid WAV file: sound, but no picture.
        std::ofstream wav(folder.Path("sound.wav"), std::ios::binary);
        const auto u32 = [&](uint32_t v) { wav.write(reinterpret_cast<const char*>(&v), 4); };
        const auto u16 = [&](uint16_t v) { wav.write(reinterpret_cast<const char*>(&v), 2); };
        wav << "RIFF";
        u32(36 + 1600);
        wav << "WAVEfmt ";
        u32(16), u16(1), u16(1), u32(8000), u32(16000), u16(2), u16(16);
        wav << "data";
        u32(1600);
        wav << std::string(1600, '\0');
    }
    std::filesystem::create_directory(folder.Path("sub"));
    std::filesystem::create_hard_link(picture, folder.Path("link.png"));
    std::ofstream(folder.Path("keep.mkv")) << "an older file";

    const struct {
        std::vector<std::string> args;
        int status;
        std::string message;
    } cases[] = {
        { { "--bogus", picture, folder.Path("o.png") }, 2, "unknown option '--bogus'" },
        { { "--method", "floyed", picture, folder.Path("o.png") }, 2, "unknown method 'floyed'" },
        { { "--mode", "8", picture, folder.Path("o.png") }, 2, "--mode must be 2, 4 or 16" },
        { { folder.Path("nope.avi"), folder.Path("o.png") }, 1, "no such file" },
        { { folder.Path("sub"), folder.Path("o.png") }, 1, "it is a folder" },
        { { folder.Path("notes.avi"), folder.Path("o.png") }, 1,
            "cannot open '" + folder.Path("notes.avi") + "'" },
        { { folder.Path("sound.wav"), folder.Path("o.png") }, 1, "has no video stream" },
        { { "--frames", "0:500", SampleVideo(), folder.Path("o.mkv") }, 1,
            "goes past the end: '" + SampleVideo() + "' has 500 frames, numbered 0 ... 499" },
        { { "--frames", "1", picture, folder.Path("o.png") }, 1, "has 1 frame, numbered 0" },
        { { "--compare", "500", SampleVideo(), folder.Path("o.png") }, 1,
            "--compare 500 is past the end" },
        { { picture, folder.Path("missing/o.png") }, 1,
            "the output folder '" + folder.Path("missing") + "' does not exist" },
        { { picture, picture }, 2, "is the input file" },
        { { picture, folder.Path("sub/../in.png") }, 2, "is the input file" },
        { { picture, folder.Path("link.png") }, 2, "is the input file" },
        { { SampleVideo(), folder.Path("o.png") }, 2, "takes one picture, but 500 frames" },
        { { "--keep-size", picture, folder.Path("o.vram") }, 2, "--keep-size keeps" },
        { { "--frames", "0:600", SampleVideo(), folder.Path("keep.mkv") }, 1, "goes past the end" },
    };
    const std::set<std::string> before = folder.Files();
    for (const auto& c : cases) {
        const ToolResult r = RunTool(c.args);
        EXPECT_EQ(r.exitStatus, c.status) << c.message << "\n" << r.err;
        EXPECT_NE(r.err.find("pelorin-convert: "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos)
            << "expected '" << c.message << "' in '" << r.err << "'";
        EXPECT_TRUE(r.out.empty()) << r.out;
        EXPECT_EQ(folder.Files(), before) << c.message;
        EXPECT_TRUE(std::filesystem::is_empty(folder.Path("sub"))) << c.message;
    }
    EXPECT_EQ(ReadFile(folder.Path("keep.mkv")), "an older file");
}

TEST(ConvertTool, OneFramePastTheEndIsEchoedAsItsNumber)
{
    ScratchFolder folder;
    const ToolResult r = RunTool({ "--frames", "500", SampleVideo(), folder.Path("o.png") });
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("--frames 500 goes past the end"), std::string::npos) << r.err;
}

TEST(ConvertTool, AFailureHalfwayRemovesWhatTheRunWrote)
{
    ScratchFolder folder;
    // Frame 2's name is taken by a folder, so the third picture cannot be written.
    std::filesystem::create_directory(folder.Path("f_00002.png"));
    const ToolResult r = RunTool({ "--frames", "0:4", SampleVideo(), folder.Path("f_%05d.png") });
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("cannot write '" + folder.Path("f_00002.png") + "'"), std::string::npos)
        << r.err;
    EXPECT_EQ(folder.Files(), std::set<std::string> { "f_00002.png" });
}

TEST(ConvertTool, AStopRequestLeavesNoOutput)
{
    ScratchFolder folder;
    const std::pair<const char*, const char*> cases[]
        = { { "s.mkv", "0:3" }, { "s.vram", "0:3" }, { "s_%d.png", "0:3" }, { "s.png", "0" } };
    for (const auto& [name, frames] : cases) {
        g_stopRequested = true;
        const ToolResult r
            = RunTool({ "--working", "--frames", frames, SampleVideo(), folder.Path(name) });
        g_stopRequested = false;
        EXPECT_EQ(r.exitStatus, 1) << name;
        EXPECT_NE(r.err.find("stopped"), std::string::npos) << r.err;
        EXPECT_TRUE(folder.Files().empty()) << name;
    }
}

TEST(ConvertTool, HelpAndVersion)
{
    const ToolResult help = RunTool({ "--help" });
    ExpectDone(help);
    EXPECT_NE(help.out.find("Usage: pelorin-convert"), std::string::npos);
    const ToolResult version = RunTool({ "--version" });
    ExpectDone(version);
    EXPECT_EQ(version.out.rfind("pelorin-convert ", 0), 0u) << version.out;
    const ToolResult none = RunTool({});
    EXPECT_EQ(none.exitStatus, 2);
}

// The summary names the frames written, by number and by the time each starts (the sample runs
// at 25 frames a second), and keeps the run's one-off set-up out of the frames' own times.
TEST(ConvertTool, SummaryNamesTheFramesWrittenAndKeepsTheSetUpApart)
{
    ScratchFolder folder;
    const ToolResult one
        = RunTool({ "--frames", "0:00:01.2", SampleVideo(), folder.Path("one.png") });
    ExpectDone(one);
    EXPECT_NE(one.out.find("\nframe 30 (1.200 s)\n"), std::string::npos) << one.out;
    EXPECT_NE(one.out.find("\nset-up (stopwatch): "), std::string::npos) << one.out;
    EXPECT_NE(one.out.find("\nconversion of the frame (stopwatch): "), std::string::npos)
        << one.out;
    const ToolResult many = RunTool({ "--frames", "30:59", SampleVideo(), folder.Path("m.mkv") });
    ExpectDone(many);
    EXPECT_NE(many.out.find("\nframes 30 ... 59 (1.200 s ... 2.360 s)\n"), std::string::npos)
        << many.out;
    EXPECT_NE(many.out.find("\nconversion per frame (stopwatch): min"), std::string::npos)
        << many.out;
}
