// pelorin-convert --palette: registers given or chosen, as the command line, the pictures, the
// video memory and the summary see them.
#include "cli_error.h"
#include "convert/palette.h"
#include "options.h"
#include "testing/cli_test_util.h"

#include <gtest/gtest.h>

#include <regex>

using namespace pelorin;
using namespace pelorin::cli;
using namespace pelorin::cli::test;
using platform::Surface;

namespace {

uint32_t Colour16(int colour) { return PackEntry(kTvcPalette16[size_t(colour)]); }

void ExpectDone(const ToolResult& r)
{
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;
}

// The figure after "faithfulness: " in a summary.
double Faithfulness(const std::string& summary)
{
    std::smatch m;
    EXPECT_TRUE(std::regex_search(summary, m, std::regex("faithfulness: ([0-9.]+)"))) << summary;
    return m.empty() ? -1 : std::stod(m[1]);
}

// A photograph-like picture: smooth light and hue ramps that black, white, blue and red fit
// badly.
Surface Meadow(int width, int height, int shift)
{
    Surface s(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            s.At(x, y) = platform::Rgb(uint8_t(60 + (x + shift) % 120),
                uint8_t(110 + y * 100 / height), uint8_t(y < height / 3 ? 200 : 40 + x % 30));
    return s;
}

} // namespace

TEST(PaletteOptions, RegistersAsColourNumbersOrRegisterValues)
{
    const Options a = ParseOptions(
        std::vector<std::string> { "--mode", "4", "--palette", "0,15,9,12", "a.png", "b.png" });
    ASSERT_TRUE(a.palette);
    EXPECT_EQ(a.palette->kind, PaletteRequest::Kind::Registers);
    EXPECT_EQ(a.palette->colours, (std::vector<int> { 0, 15, 9, 12 }));
    // 0x55 is white, 0x41 bright blue, 0x14 dark yellow; letter case does not matter.
    EXPECT_EQ(ParsePaletteColours("0x55,0X41,0x14,3"), (std::vector<int> { 15, 9, 6, 3 }));
    EXPECT_EQ(
        ParseOptions(std::vector<std::string> { "--mode", "2", "--palette=BEST", "a.png", "b.png" })
            .palette->kind,
        PaletteRequest::Kind::Best);
    EXPECT_EQ(ParseOptions(std::vector<std::string> {
                               "--palette", "best-per-scene", "--mode", "4", "a.avi", "b.mkv" })
                  .palette->kind,
        PaletteRequest::Kind::BestPerScene);
    EXPECT_FALSE(ParseOptions(std::vector<std::string> { "a.png", "b.png" }).palette);
}

TEST(PaletteOptions, ColoursByNameAndByRgb)
{
    // Each name against the colour it must show: bright channels 255, dim ones 145.
    const struct {
        const char* name;
        uint32_t rgb;
    } names[] = { { "black", 0x000000 }, { "blue", 0x0000FF }, { "red", 0xFF0000 },
        { "magenta", 0xFF00FF }, { "green", 0x00FF00 }, { "cyan", 0x00FFFF },
        { "yellow", 0xFFFF00 }, { "white", 0xFFFFFF }, { "dark-blue", 0x000091 },
        { "dark-red", 0x910000 }, { "dark-magenta", 0x910091 }, { "dark-green", 0x009100 },
        { "dark-cyan", 0x009191 }, { "dark-yellow", 0x919100 }, { "dark-white", 0x919191 },
        { "GREY", 0x919191 }, { "Dark_Red", 0x910000 }, { "bright-black", 0x000000 } };
    for (const auto& n : names) {
        const std::vector<int> colours = ParsePaletteColours(n.name);
        ASSERT_EQ(colours.size(), 1u) << n.name;
        EXPECT_EQ(Colour16(colours[0]), n.rgb) << n.name;
    }
    // The docs' example: black, white, blue, green.
    EXPECT_EQ(ParsePaletteColours("black,white,blue,green"), ParsePaletteColours("0,15,9,12"));
    EXPECT_EQ(ParsePaletteColours("black"), std::vector<int> { 0 });
    // #rrggbb: the nearest; black is 0 (not 8); grey 64 is nearer 0 than 145, grey 96 nearer
    // 145 than 0.
    std::vector<std::string> nearest;
    EXPECT_EQ(ParsePaletteColours("#000000,#0000FF,#800000,#404040,#606060,#e0e0e0", &nearest),
        (std::vector<int> { 0, 9, 2, 0, 7, 15 }));
    ASSERT_EQ(nearest.size(), 6u);
    EXPECT_EQ(nearest[1], "#0000FF is colour 9, blue (#0000ff), the nearest of the sixteen");
    EXPECT_EQ(nearest[2], "#800000 is colour 2, dark-red (#910000), the nearest of the sixteen");
}

TEST(PaletteOptions, WrongRegistersAreRefusedByName)
{
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        { { "--mode", "4", "--palette", "0,15", "a.png", "b.png" },
            "--palette 0,15 gives 2 registers, but \"Graphics 4\" has 4" },
        { { "--mode", "2", "--palette", "0,16", "a.png", "b.png" },
            "--palette: '16' is no colour; give colour numbers 0 ... 15, names such as black, "
            "dark-red or white (--help lists them), #rrggbb or register values such as 0x55, "
            "separated by commas, or best, best-per-scene or best-per-line" },
        { { "--mode", "2", "--palette", "0,", "a.png", "b.png" },
            "--palette: '' is no colour; give colour numbers 0 ... 15, names such as black, "
            "dark-red or white (--help lists them), #rrggbb or register values such as 0x55, "
            "separated by commas, or best, best-per-scene or best-per-line" },
        { { "--mode", "2", "--palette", "0x00,0xAA", "a.png", "b.png" },
            "--palette: register value 0xAA sets bits 1, 3, 5 or 7; a colour uses bits 0 "
            "(blue), 2 (red), 4 (green) and 6 (bright), as 0x55 for white" },
        { { "--mode", "2", "--palette", "0x,1", "a.png", "b.png" },
            "--palette: '0x' is no colour; give colour numbers 0 ... 15, names such as black, "
            "dark-red or white (--help lists them), #rrggbb or register values such as 0x55, "
            "separated by commas, or best, best-per-scene or best-per-line" },
        { { "--mode", "2", "--palette", "0x1G,1", "a.png", "b.png" },
            "--palette: '0x1G' is no register value (0x00 ... 0x55)" },
        { { "--palette", "best", "a.png", "b.png" },
            "--palette sets the registers of --mode 2 or 4; \"Graphics 16\" shows all sixteen "
            "colours already" },
        { { "--mode", "2", "--method", "none", "--palette", "best", "a.png", "b.png" },
            "--palette needs a method: --method none leaves the picture unreduced" },
        { { "--mode", "2", "--palette", "best", "--palette", "0,15", "a.png", "b.png" },
            "--palette is given twice" },
        { { "--mode", "2", "--palette", "#12345", "a.png", "b.png" },
            "--palette: '#12345' is no colour; a colour by its RGB value is written #rrggbb, "
            "such as #0000ff" },
        { { "--mode", "4", "--method", "bayer-4x4", "--palette", "best-per-line", "a.png",
              "b.png" },
            "--palette best-per-line chooses registers by how an error-diffusion method spreads "
            "its error; give --method one of the eight (floyd, atkinson, ...)" },
        { { "--mode", "4", "--method", "floyd", "--steady", "--palette", "best-per-line", "a.avi",
              "b.mkv" },
            "--palette best-per-line and --steady do not go together: each picture's lines get "
            "registers of their own" },
        { { "--mode", "2", "--palette", "black,pink", "a.png", "b.png" },
            "--palette: 'pink' is no colour; give colour numbers 0 ... 15, names such as black, "
            "dark-red or white (--help lists them), #rrggbb or register values such as 0x55, "
            "separated by commas, or best, best-per-scene or best-per-line" },
    };
    for (const auto& c : cases) {
        const auto [status, message] = Refusal(c.args);
        EXPECT_EQ(status, kExitUsage) << c.message;
        EXPECT_EQ(message, c.message);
    }
}

TEST(PaletteRun, TheModesOwnRegistersGiveTodaysBytes)
{
    ScratchFolder folder;
    WritePng(folder.Path("in.png"), Meadow(300, 170, 0));
    for (const auto& [mode, registers] :
        { std::pair { "2", "0,15" }, std::pair { "4", "0x00,0x55,0x41,0x44" } }) {
        ExpectDone(RunTool({ "-q", "--mode", mode, "--method", "floyd", folder.Path("in.png"),
            folder.Path("plain.png") }));
        const ToolResult r = RunTool({ "--mode", mode, "--method", "floyd", "--palette", registers,
            folder.Path("in.png"), folder.Path("given.png") });
        ExpectDone(r);
        EXPECT_EQ(ReadFile(folder.Path("plain.png")), ReadFile(folder.Path("given.png"))) << mode;
        EXPECT_NE(r.out.find(std::string("palette: registers ")
                      + (std::string(mode) == "2" ? "0x00 0x55 (colours 0 black, 15 white)"
                                                  : "0x00 0x55 0x41 0x44 (colours 0 black, 15 "
                                                    "white, 9 blue, 10 red)")),
            std::string::npos)
            << r.out;
    }
}

TEST(PaletteRun, NamesAndRgbGiveTheNumbersBytesAndTheSummaryNamesThem)
{
    ScratchFolder folder;
    WritePng(folder.Path("in.png"), Meadow(160, 100, 0));
    ExpectDone(RunTool({ "-q", "--mode", "4", "--palette", "0,15,9,12", folder.Path("in.png"),
        folder.Path("numbers.png") }));
    const ToolResult named = RunTool({ "--mode", "4", "--palette", "black,white,#0000ff,Green",
        folder.Path("in.png"), folder.Path("named.png") });
    ExpectDone(named);
    EXPECT_EQ(ReadFile(folder.Path("named.png")), ReadFile(folder.Path("numbers.png")));
    EXPECT_NE(named.out.find("(colours 0 black, 15 white, 9 blue, 12 green)"), std::string::npos)
        << named.out;
    EXPECT_NE(named.out.find("palette: #0000ff is colour 9, blue"), std::string::npos) << named.out;
}

// With registers chosen for the picture each method of the sheet gets the ones a run by that
// method alone would choose.
TEST(PaletteRun, CompareChoosesRegistersForEachMethod)
{
    ScratchFolder folder;
    WritePng(folder.Path("in.png"), Meadow(160, 100, 0));
    const ToolResult sheet = RunTool({ "--mode", "4", "--palette", "best", "--compare", "0",
        folder.Path("in.png"), folder.Path("sheet.png") });
    ExpectDone(sheet);
    for (const char* method : { "2", "8" }) {
        const ToolResult alone = RunTool({ "--mode", "4", "--palette", "best", "--method", method,
            folder.Path("in.png"), folder.Path(std::string(method) + ".png") });
        ExpectDone(alone);
        std::smatch chosen;
        ASSERT_TRUE(std::regex_search(alone.out, chosen, std::regex("palette: (registers [^\n]*)")))
            << alone.out;
        std::smatch line;
        ASSERT_TRUE(std::regex_search(
            sheet.out, line, std::regex(std::string("\n  ") + method + " [^\n]*")))
            << sheet.out;
        EXPECT_NE(line.str().find(chosen[1].str()), std::string::npos) << sheet.out;
    }
}

TEST(PaletteRun, GivenRegistersReachEveryPixel)
{
    ScratchFolder folder;
    // Dark blue, white, red and black under the registers dark blue, dark yellow, green, yellow
    // by plain nearest colour: dark blue stays; white is nearest yellow (255² against
    // 2·110² + 255² for dark yellow); red is nearest dark yellow (110² + 145² = 33125, against
    // 255² for yellow); black is nearest dark blue (145², the first of the nearest).
    Surface in(4, 1);
    in.At(0, 0) = Colour16(1);
    in.At(1, 0) = 0xFFFFFF;
    in.At(2, 0) = 0xFF0000;
    in.At(3, 0) = 0x000000;
    WritePng(folder.Path("in.png"), in);
    ExpectDone(RunTool({ "-q", "--mode", "4", "--method", "treshold", "--keep-size", "--palette",
        "1,6,12,14", folder.Path("in.png"), folder.Path("out.png") }));
    const std::vector<Surface> out = DecodeAllFrames(folder.Path("out.png"));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].At(0, 0), Colour16(1));
    EXPECT_EQ(out[0].At(1, 0), Colour16(14));
    EXPECT_EQ(out[0].At(2, 0), Colour16(6));
    EXPECT_EQ(out[0].At(3, 0), Colour16(1));
}

TEST(PaletteRun, VideoMemoryHoldsRegisterNumbers)
{
    ScratchFolder folder;
    // All yellow. With the registers 1, 6, 12, 14 yellow is register 3: both index bits of all
    // four pixels of a byte set. With the mode's own registers yellow lies as far from white as
    // from red, and the lower index, white (1), wins: the low bits alone, 0xF0.
    WritePng(folder.Path("in.png"), Surface(256, 240, Colour16(14)));
    ExpectDone(RunTool({ "-q", "--mode", "4", "--method", "floyd", "--palette", "1,6,12,14",
        folder.Path("in.png"), folder.Path("given.vram") }));
    ExpectDone(RunTool({ "-q", "--mode", "4", "--method", "floyd", folder.Path("in.png"),
        folder.Path("own.vram") }));
    EXPECT_EQ(ReadFile(folder.Path("given.vram")), std::string(15360, '\xFF'));
    EXPECT_EQ(ReadFile(folder.Path("own.vram")), std::string(15360, '\xF0'));
}

// A sky over a meadow: lines of each their own colours beat one set for the whole picture.
TEST(PaletteRun, RegistersPerLineBeatOneSetAndAClipRefusesThem)
{
    ScratchFolder folder;
    WritePng(folder.Path("in.png"), Meadow(320, 200, 0));
    for (const char* mode : { "2", "4" }) {
        const ToolResult best = RunTool({ "--mode", mode, "--method", "floyd", "--palette", "best",
            folder.Path("in.png"), folder.Path("best.png") });
        const ToolResult lines = RunTool({ "--mode", mode, "--method", "floyd", "--palette",
            "best-per-line", folder.Path("in.png"), folder.Path("lines.png") });
        ExpectDone(lines);
        EXPECT_LT(Faithfulness(lines.out), Faithfulness(best.out)) << mode;
        EXPECT_NE(lines.out.find("palette: registers chosen for each line"), std::string::npos)
            << lines.out;
    }
    MakeTestVideo(folder.Path("in.mkv"), { Meadow(320, 200, 0), Meadow(320, 200, 9) });
    const ToolResult clip = RunTool({ "--mode", "4", "--method", "floyd", "--palette",
        "best-per-line", "--tvc-fps", "25", folder.Path("in.mkv"), folder.Path("clip.cas") });
    EXPECT_EQ(clip.exitStatus, kExitFailure);
    EXPECT_NE(clip.err.find("--palette best-per-line makes pictures"), std::string::npos)
        << clip.err;
    EXPECT_FALSE(std::filesystem::exists(folder.Path("clip.cas")));
}

TEST(PaletteRun, BestIsNeverLessFaithfulAndNamesItsRegisters)
{
    ScratchFolder folder;
    WritePng(folder.Path("in.png"), Meadow(320, 200, 0));
    for (const char* mode : { "2", "4" }) {
        const ToolResult own = RunTool(
            { "--mode", mode, "--method", "floyd", folder.Path("in.png"), folder.Path("own.png") });
        const ToolResult best = RunTool({ "--mode", mode, "--method", "floyd", "--palette", "best",
            folder.Path("in.png"), folder.Path("best.png") });
        ExpectDone(own);
        ExpectDone(best);
        EXPECT_LE(Faithfulness(best.out), Faithfulness(own.out)) << mode;
        EXPECT_TRUE(std::regex_search(best.out,
            std::regex(
                std::string("palette: registers (0x[0-9A-F]{2} ?){") + mode + "} \\(colours")))
            << best.out;
    }
}

TEST(PaletteRun, EachSceneGetsItsOwnRegistersAndSteadyDitheringStartsAfresh)
{
    ScratchFolder folder;
    // Two scenes of six frames: a drifting meadow, then a drifting sunset of reds and yellows.
    std::vector<Surface> frames;
    for (int i = 0; i < 6; ++i)
        frames.push_back(Meadow(160, 120, i));
    for (int i = 0; i < 6; ++i) {
        Surface s(160, 120);
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 160; ++x)
                s.At(x, y) = platform::Rgb(uint8_t(150 + (x + i) % 100), uint8_t(y), uint8_t(20));
        frames.push_back(s);
    }
    MakeTestVideo(folder.Path("clip.mkv"), frames);
    const ToolResult r = RunTool({ "--mode", "4", "--method", "floyd", "--steady", "--working",
        "--palette", "best-per-scene", folder.Path("clip.mkv"), folder.Path("out.mkv") });
    ExpectDone(r);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(r.out, m,
        std::regex("palette: 2 scenes, each its own\n  frames 0 ... 5: registers [^\n]*\n"
                   "  frames 6 ... 11: registers ([0-9A-Fx ]+) \\(colours")))
        << r.out;
    std::string second = m[1];
    for (char& c : second)
        if (c == ' ')
            c = ',';
    // The second scene converted as a run of its own with those registers gives the same frames.
    ExpectDone(
        RunTool({ "-q", "--mode", "4", "--method", "floyd", "--steady", "--working", "--frames",
            "6:11", "--palette", second, folder.Path("clip.mkv"), folder.Path("alone.mkv") }));
    const std::vector<Surface> whole = DecodeAllFrames(folder.Path("out.mkv"));
    const std::vector<Surface> alone = DecodeAllFrames(folder.Path("alone.mkv"));
    ASSERT_EQ(whole.size(), 12u);
    ASSERT_EQ(alone.size(), 6u);
    for (size_t i = 0; i < 6; ++i)
        EXPECT_TRUE(whole[6 + i] == alone[i]) << "frame " << 6 + i;
}

TEST(PaletteRun, GifHoldsTheColoursOfEveryScenesRegisters)
{
    ScratchFolder folder;
    // A meadow, then a sunset of reds and yellows: registers chosen per scene differ.
    std::vector<Surface> frames;
    for (int i = 0; i < 3; ++i)
        frames.push_back(Meadow(96, 64, i));
    for (int i = 0; i < 3; ++i) {
        Surface s(96, 64);
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 96; ++x)
                s.At(x, y) = platform::Rgb(uint8_t(150 + (x + i) % 100), uint8_t(y * 4), 20);
        frames.push_back(s);
    }
    MakeTestVideo(folder.Path("clip.mkv"), frames);
    // The GIF must show what the lossless video shows, frame by frame.
    for (const char* palette : { "0,15,9,12", "best-per-scene" }) {
        for (const char* name : { "out.mkv", "out.gif" }) {
            const ToolResult r = RunTool({ "--mode", "4", "--method", "floyd", "--palette", palette,
                folder.Path("clip.mkv"), folder.Path(name) });
            ExpectDone(r);
            if (palette == std::string("best-per-scene")) {
                EXPECT_NE(r.out.find("palette: 2 scenes"), std::string::npos) << r.out;
            }
        }
        const std::vector<Surface> video = DecodeAllFrames(folder.Path("out.mkv"));
        const std::vector<Surface> gif = DecodeAllFrames(folder.Path("out.gif"));
        ASSERT_EQ(gif.size(), video.size()) << palette;
        for (size_t i = 0; i < gif.size(); ++i)
            EXPECT_TRUE(gif[i] == video[i]) << palette << ", frame " << i;
    }
}
