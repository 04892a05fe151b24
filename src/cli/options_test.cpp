#include "cli_error.h"
#include "dither/method_table.h"
#include "options.h"
#include "testing/cli_test_util.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

using namespace pelorin;
using namespace pelorin::cli;
using pelorin::cli::test::Refusal;

namespace {

Options Parse(std::vector<std::string> args) { return ParseOptions(args); }

} // namespace

TEST(MethodNames, EveryCaptionInEverySpellingFindsItsOwnIndex)
{
    for (const Method& method : Methods()) {
        std::string caption(method.caption);
        std::string upper = caption, dashed = caption, plussed = caption;
        for (char& c : upper)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        for (char& c : dashed)
            if (c == ' ' || c == '+')
                c = '-';
        for (char& c : plussed)
            if (c == ' ' || c == '-')
                c = '+';
        for (const std::string& name :
            { caption, upper, dashed, plussed, std::to_string(method.index) })
            EXPECT_EQ(ParseMethodName(name), method.index) << "'" << name << "'";
    }
}

TEST(MethodNames, DocumentedExamplesAndTheUsualSpellings)
{
    const auto index = [](std::string_view caption) {
        for (const Method& m : Methods())
            if (m.caption == caption)
                return m.index;
        return -1;
    };
    const struct {
        const char* name;
        std::string_view caption;
    } cases[] = {
        { "floyd", "Floyd" },
        { "bayer-4x4", "Bayer 4x4" },
        { "treshold+noise", "Treshold+Noise" },
        { "treshold noise", "Treshold+Noise" },
        { "sierra2-row", "Sierra2 Row" },
        { "SIERRA LITE", "Sierra Lite" },
        { "threshold", "Treshold" },
        { "Threshold+Noise", "Treshold+Noise" },
        { "burkes", "Burkles" },
        { "stucki", "Stucky" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseMethodName(c.name), index(c.caption)) << c.name;
    EXPECT_EQ(ParseMethodName("none"), kNoMethod);
    EXPECT_EQ(ParseMethodName("NONE"), kNoMethod);
}

// The names other tools give the same kernels (ImageMagick, libplacebo, FFmpeg, the papers).
TEST(MethodNames, OtherToolsSpellings)
{
    const struct {
        const char* name;
        std::string_view caption;
    } cases[] = {
        { "FloydSteinberg", "Floyd" },
        { "floyd-steinberg", "Floyd" },
        { "floyd_steinberg", "Floyd" },
        { "JarvisJudiceNinke", "Jarvis" },
        { "jjn", "Jarvis" },
        { "JJN", "Jarvis" },
        { "Stucki", "Stucky" },
        { "BURKES", "Burkles" },
        { "sierra3", "Sierra" },
        { "two-row-sierra", "Sierra2 Row" },
        { "SierraLite", "Sierra Lite" },
        { "sierra2_4a", "Sierra Lite" },
    };
    for (const auto& c : cases) {
        const auto index = ParseMethodName(c.name);
        ASSERT_TRUE(index) << c.name;
        EXPECT_EQ(FindMethod(*index)->caption, c.caption) << c.name;
    }
}

TEST(MethodNames, NonNamesAreRefused)
{
    for (const char* name : { "", "0", "17", "-1", "99999999999999999999", "floy", "bayer4x4x",
             "sierra2", "1.5", " 3x", "halftone" })
        EXPECT_EQ(ParseMethodName(name), std::nullopt) << "'" << name << "'";
}

TEST(Options, Defaults)
{
    const Options o = Parse({ "in.avi", "out.mkv" });
    EXPECT_EQ(o.mode, FindTvcMode(16));
    EXPECT_EQ(FindMethod(o.method)->caption, "Atkinson");
    EXPECT_EQ(o.size, Size::Display);
    EXPECT_FALSE(o.frames);
    EXPECT_FALSE(o.compareFrame);
    EXPECT_EQ(o.outputKind, OutputKind::Video);
    EXPECT_EQ(o.outputExtension, ".mkv");
}

TEST(Options, ValuesInlineOrSeparateAndOutputKinds)
{
    const Options a
        = Parse({ "--mode=4", "--method", "bayer-8x8", "--working", "-q", "a.png", "B.VRAM" });
    EXPECT_EQ(a.mode, FindTvcMode(4));
    EXPECT_EQ(FindMethod(a.method)->caption, "Bayer 8x8");
    EXPECT_EQ(a.size, Size::Working);
    EXPECT_TRUE(a.quiet);
    EXPECT_EQ(a.outputKind, OutputKind::Vram);

    const struct {
        const char* name;
        OutputKind kind;
    } kinds[] = { { "x.png", OutputKind::Picture }, { "x.PPM", OutputKind::Picture },
        { "x.bmp", OutputKind::Picture }, { "x.avi", OutputKind::Video },
        { "x.mp4", OutputKind::Video }, { "x.gif", OutputKind::Video } };
    for (const auto& k : kinds)
        EXPECT_EQ(Parse({ "in.avi", k.name }).outputKind, k.kind) << k.name;
    // A file name that looks like an option, after "--".
    EXPECT_EQ(Parse({ "--", "-in.png", "-out.png" }).input, "-in.png");
}

TEST(Options, VramImpliesWorking)
{
    EXPECT_EQ(Parse({ "a.avi", "b.vram" }).size, Size::Working);
    EXPECT_EQ(Parse({ "--keep-size", "a.png", "b.vram" }).size, Size::KeepSize);
    EXPECT_EQ(Parse({ "a.avi", "b.png" }).size, Size::Display);
}

TEST(Options, MethodWithCompareIsRefused)
{
    const auto [status, message] = Refusal({ "--compare", "3", "--method", "2", "a.avi", "b.png" });
    EXPECT_EQ(status, kExitUsage);
    EXPECT_EQ(message, "--compare converts by all 16 methods; leave out --method");
    EXPECT_EQ(Refusal({ "--method", "none", "--compare", "3", "a.avi", "b.png" }).second, message);
}

TEST(Options, FrameRanges)
{
    const struct {
        const char* text;
        int64_t first;
        std::optional<int64_t> last;
    } cases[] = { { "0:9", 0, 9 }, { "5", 5, 5 }, { "12:", 12, std::nullopt }, { "7:7", 7, 7 } };
    for (const auto& c : cases) {
        const Options o = Parse({ "--frames", c.text, "in.avi", "out.mkv" });
        ASSERT_TRUE(o.frames) << c.text;
        EXPECT_EQ(o.frames->first, c.first) << c.text;
        EXPECT_EQ(o.frames->last, c.last) << c.text;
    }
}

// Three fields can only be a time, with or without a decimal point; two without one stay the
// frames A to B they always were.
TEST(Options, FramesAsHoursMinutesSeconds)
{
    const struct {
        const char* text;
        int64_t first;
        std::optional<int64_t> last;
    } cases[] = {
        { "00:00:05", 5'000'000, 5'000'000 },
        { "0:00:05.5", 5'500'000, 5'500'000 },
        { "1:02:03", 3'723'000'000, 3'723'000'000 },
        { "0:00:10:0:00:20", 10'000'000, 20'000'000 },
        { "00:01:00:", 60'000'000, std::nullopt },
    };
    for (const auto& c : cases) {
        const Options o = Parse({ "--frames", c.text, "in.avi", "out.mkv" });
        ASSERT_TRUE(o.frames && o.frames->byTime) << c.text;
        EXPECT_EQ(o.frames->firstMicroseconds, c.first) << c.text;
        EXPECT_EQ(o.frames->lastMicroseconds, c.last) << c.text;
    }
    const Options range = Parse({ "--frames", "0:05", "in.avi", "out.mkv" });
    EXPECT_FALSE(range.frames->byTime);
    EXPECT_EQ(range.frames->last, 5);
    for (const char* text : { "0:00:5", "0:60:00", "1:2:3", "0:00:05:x" })
        EXPECT_EQ(Refusal({ "--frames", text, "a.avi", "b.mkv" }).first, kExitUsage) << text;
}

TEST(Options, NumberedPictureNames)
{
    const struct {
        const char* pattern;
        int64_t frame;
        const char* name;
    } cases[] = {
        { "out_%05d.png", 42, "out_00042.png" },
        { "dir/f%d.png", 7, "dir/f7.png" },
        { "f%3d.bmp", 7, "f  7.bmp" },
        { "100%%_%02d.ppm", 123, "100%_123.ppm" },
    };
    for (const auto& c : cases) {
        const Options o = Parse({ "in.avi", c.pattern });
        ASSERT_TRUE(o.numbered) << c.pattern;
        EXPECT_EQ(o.numbered->For(c.frame), c.name);
    }
    EXPECT_FALSE(Parse({ "in.avi", "100%%.png" }).numbered);
    // In a video's name a "%" is just a character.
    EXPECT_FALSE(Parse({ "in.avi", "out%d.mkv" }).numbered);
}

TEST(Options, DenoiseLevelIsOptionalAndMediumWhenLeftOut)
{
    EXPECT_EQ(Parse({ "a.avi", "b.cas" }).denoise, video::Denoise::Off);
    EXPECT_EQ(Parse({ "--denoise", "a.avi", "b.cas" }).denoise, video::Denoise::Medium);
    const Options strong = Parse({ "--denoise", "Strong", "a.avi", "b.cas" });
    EXPECT_EQ(strong.denoise, video::Denoise::Strong);
    EXPECT_EQ(strong.input, "a.avi");
    EXPECT_EQ(Parse({ "a.avi", "b.png", "--denoise=light" }).denoise, video::Denoise::Light);
    // Last on the line, before the files end the options, or before a file without a dot.
    EXPECT_EQ(Parse({ "a.avi", "b.mkv", "--denoise" }).denoise, video::Denoise::Medium);
    EXPECT_EQ(Parse({ "--denoise", "--", "light", "b.mkv" }).input, "light");
}

TEST(Options, WrongCommandLinesNameTheProblem)
{
    const struct {
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        { { "--bogus", "a.png", "b.png" }, "unknown option '--bogus'" },
        { { "--method", "floyed", "a.png", "b.png" }, "unknown method 'floyed'" },
        { { "--mode", "8", "a.png", "b.png" }, "--mode must be 2, 4 or 16, got '8'" },
        { { "--mode" }, "--mode needs a value" },
        { { "a.png" }, "needs an INPUT and an OUTPUT" },
        { { "a.png", "b.png", "c.png" }, "too many file names" },
        { { "a.png", "b.tiff" }, "cannot tell what to write" },
        { { "a.png", "b" }, "cannot tell what to write" },
        { { "--frames", "3:1", "a.avi", "b.mkv" }, "comes before the first" },
        { { "--frames", "x", "a.avi", "b.mkv" }, "--frames takes A:B" },
        { { "--frames", "-2:5", "a.avi", "b.mkv" }, "--frames takes A:B" },
        { { "--working", "--keep-size", "a.png", "b.png" }, "exclude each other" },
        { { "--compare", "3", "a.avi", "b.mkv" }, "--compare writes one PNG" },
        { { "--compare", "3", "--frames", "1", "a.avi", "b.png" }, "leave out --frames" },
        { { "--compare", "x", "a.avi", "b.png" }, "--compare takes a frame number" },
        { { "--working", "--method", "none", "a.avi", "b.vram" }, "--method none" },
        // What to do instead, not only what is wrong.
        { { "--method", "none", "a.avi", "b.cas" }, "such as --method floyd" },
        { { "--method", "none", "a.avi", "b.kep" }, "such as --method floyd" },
        { { "--method", "none", "a.avi", "b.gif" }, "at most 256 colours" },
        { { "a.avi", "f%s.png" }, "written %d" },
        { { "a.avi", "f%d_%d.png" }, "more than one frame number" },
        { { "--quiet=yes", "a.avi", "b.png" }, "--quiet takes no value" },
        { { "--mode", "4", "--mode", "2", "a.avi", "b.png" }, "--mode is given twice" },
        { { "--threads", "2", "--threads=2", "a.avi", "b.png" }, "--threads is given twice" },
        { { "--denoise=heavy", "a.avi", "b.cas" }, "--denoise takes light, medium or strong" },
        // A word after --denoise is its level; a file name is not.
        { { "--denoise", "heavy", "a.avi", "b.cas" }, "got 'heavy'" },
        { { "--denoise", "--denoise", "a.avi", "b.cas" }, "--denoise is given twice" },
        { { "--denoise", "clip.cas", "b.png" }, "the TVC's own files" },
        { { "--denoise=light", "--mode", "4", "clip.VRAM", "b.png" }, "leave --denoise out" },
        { { "--diffusion", "exact", "--method", "bayer-4x4", "a.avi", "b.png" },
            "--diffusion exact carries the error of the error-diffusion methods; --method" },
        { { "--diffusion", "exact", "--method", "none", "a.avi", "b.png" }, "--method none" },
        { { "--distance", "perceptual", "a.avi", "b.png" }, "add --diffusion exact" },
    };
    for (const auto& c : cases) {
        const auto [status, message] = Refusal(c.args);
        EXPECT_EQ(status, kExitUsage) << c.message;
        EXPECT_NE(message.find(c.message), std::string::npos)
            << "expected '" << c.message << "' in '" << message << "'";
    }
}

TEST(Options, HelpListsEveryOptionAndMethod)
{
    const std::string help = HelpText();
    for (const char* option : { "--mode", "--method", "--working", "--keep-size", "--frames",
             "--compare", "--quiet", "--help", "--version" })
        EXPECT_NE(help.find(option), std::string::npos) << option;
    for (const Method& method : Methods())
        EXPECT_NE(help.find(std::string(method.caption)), std::string::npos) << method.caption;
    EXPECT_TRUE(Parse({ "--help" }).help);
    EXPECT_TRUE(Parse({ "--version" }).version);
}

// Every colour with its number and its name, each name one --palette takes for that number.
TEST(Options, HelpListsTheSixteenColours)
{
    const std::string help = HelpText();
    std::smatch m;
    const std::regex entry("(\\d+)  ([a-z-]+) +#[0-9a-f]{6}");
    std::set<int> listed;
    for (auto it = std::sregex_iterator(help.begin(), help.end(), entry);
         it != std::sregex_iterator(); ++it) {
        const int number = std::stoi((*it)[1]);
        EXPECT_EQ(ParsePaletteColours((*it)[2]), std::vector<int> { number }) << (*it)[0];
        listed.insert(number);
    }
    EXPECT_EQ(listed.size(), 16u) << help;
}
