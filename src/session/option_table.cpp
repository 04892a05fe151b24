#include "option_table.h"

#include "option_values.h"
#include "dither/method_table.h"
#include "convert/tvc_colours.h"
#include "pipeline/tvc_mode.h"
#include "tvc/tvc_read.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>

namespace pelorin::session {

namespace {

    std::string Number(double value)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%g", value);
        return text;
    }

    void TakeMode(Settings& s, const std::string& v)
    {
        const auto number = ParseCount(v);
        s.mode = number && *number <= 16 ? FindTvcMode(int(*number)) : nullptr;
        if (!s.mode)
            throw OptionError("--mode must be 2, 4 or 16, got '" + v + "'");
        s.modeGiven = true;
    }

    void TakeMethod(Settings& s, const std::string& v)
    {
        const auto method = ParseMethodName(v);
        if (!method)
            throw OptionError("unknown method '" + v
                + "'; use 1 ... 16, a name such as floyd, bayer-4x4 or treshold+noise, or "
                  "none (--help lists them)");
        s.method = *method;
        s.methodGiven = true;
    }

    void TakePalette(Settings& s, const std::string& v)
    {
        PaletteRequest request;
        request.text = v;
        const std::string lower = Lower(v);
        if (lower == "best")
            request.kind = PaletteRequest::Kind::Best;
        else if (lower == "best-per-scene")
            request.kind = PaletteRequest::Kind::BestPerScene;
        else if (lower == "best-per-line")
            request.kind = PaletteRequest::Kind::BestPerLine;
        else
            request.colours = ParsePaletteColours(v, &request.nearest);
        s.palette = request;
    }

    void WritePalette(const Recipe& r, std::vector<std::string>& words)
    {
        if (!r.palette)
            return;
        std::string text;
        if (r.palette->kind == PaletteRequest::Kind::Best)
            text = "best";
        else if (r.palette->kind == PaletteRequest::Kind::BestPerScene)
            text = "best-per-scene";
        else if (r.palette->kind == PaletteRequest::Kind::BestPerLine)
            text = "best-per-line";
        else
            for (const int colour : r.palette->colours)
                text += (text.empty() ? "" : ",") + std::string(ColourName(colour));
        words.insert(words.end(), { "--palette", text });
    }

    // --brightness, --contrast and --saturation: a level of -100 ... 100.
    template <int PictureAdjustments::*Level>
    void TakeLevel(Settings& s, const std::string& v, const char* name)
    {
        const auto level = ParseSigned(v);
        if (!level || *level < -100 || *level > 100)
            throw OptionError(std::string(name)
                + " takes a whole number from -100 to 100 (0 changes nothing), got '" + v + "'");
        s.adjustments.*Level = *level;
    }
    template <int PictureAdjustments::*Level>
    void WriteLevel(const Recipe& r, std::vector<std::string>& words, const char* name)
    {
        if (r.adjustments.*Level != 0)
            words.insert(words.end(), { name, std::to_string(r.adjustments.*Level) });
    }

    void TakeGamma(Settings& s, const std::string& v)
    {
        const auto gamma = ParseDecimal(v);
        if (!gamma || *gamma < 0.2 || *gamma > 5.0)
            throw OptionError(
                "--gamma takes a number from 0.2 to 5 (1 changes nothing), got '" + v + "'");
        s.adjustments.gamma = *gamma;
    }

    constexpr const char* kAspectWords[] = { "stretch", "fit", "fill" }; // by Aspect

    void TakeAspect(Settings& s, const std::string& v)
    {
        const std::string lower = Lower(v);
        for (size_t i = 0; i < std::size(kAspectWords); ++i)
            if (lower == kAspectWords[i]) {
                s.aspect = video::Aspect(i);
                return;
            }
        throw OptionError("--aspect takes stretch, fit or fill, got '" + v + "'");
    }

    void TakeTvcFps(Settings& s, const std::string& v)
    {
        const auto fps = ParseDecimal(v);
        if (!fps || !(*fps > 0) || *fps > 1000)
            throw OptionError("--tvc-fps takes frames per second above 0, such as 5 or 12.5, "
                              "got '"
                + v + "'");
        s.tvcFps = *fps;
    }

    struct DenoiseWord {
        const char* word;
        video::Denoise level;
    };
    constexpr DenoiseWord kDenoiseWords[] = {
        { "light", video::Denoise::Light },
        { "medium", video::Denoise::Medium },
        { "strong", video::Denoise::Strong },
    };
    // Bare --denoise: what a user who has not measured should get.
    constexpr video::Denoise kDefaultDenoise = video::Denoise::Medium;

    void TakeDenoise(Settings& s, const std::string& v)
    {
        if (v.empty()) {
            s.denoise = kDefaultDenoise;
            return;
        }
        const std::string lower = Lower(v);
        for (const DenoiseWord& w : kDenoiseWords)
            if (lower == w.word) {
                s.denoise = w.level;
                return;
            }
        throw OptionError("--denoise takes light, medium or strong, got '" + v + "'");
    }

    void WriteDenoise(const Recipe& r, std::vector<std::string>& words)
    {
        for (const DenoiseWord& w : kDenoiseWords)
            if (r.denoise == w.level)
                words.insert(words.end(), { "--denoise", w.word });
    }

    void TakeDiffusion(Settings& s, const std::string& v)
    {
        const std::string lower = Lower(v);
        if (lower == "integer")
            s.diffusion = Diffusion::Integer;
        else if (lower == "exact")
            s.diffusion = Diffusion::Exact;
        else
            throw OptionError("--diffusion takes integer or exact, got '" + v + "'");
    }

    void TakeDistance(Settings& s, const std::string& v)
    {
        const std::string lower = Lower(v);
        if (lower == "rgb")
            s.distance = Distance::Rgb;
        else if (lower == "perceptual")
            s.distance = Distance::Perceptual;
        else
            throw OptionError("--distance takes rgb or perceptual, got '" + v + "'");
    }

    bool LettersOnly(const std::string& word)
    {
        return !word.empty() && std::all_of(word.begin(), word.end(), [](unsigned char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        });
    }

    void TakeTvcSeconds(Settings& s, const std::string& v)
    {
        // A day is far past what any TVC holds; the run names the most that fits.
        const auto seconds = ParseDecimal(v);
        if (!seconds || !(*seconds > 0) || *seconds > 86400)
            throw OptionError("--tvc-seconds takes a length in seconds above 0, such as 30 or "
                              "12.5, got '"
                + v + "'");
        s.tvcSeconds = *seconds;
    }

    void TakeThreads(Settings& s, const std::string& v)
    {
        const auto n = ParseCount(v);
        if (!n || *n < 1 || *n > 256)
            throw OptionError("--threads takes a count from 1 to 256, got '" + v + "'");
        s.threads = int(*n);
    }

    void TakeSize(Settings& s, Size size)
    {
        if (s.size != Size::Display && s.size != size)
            throw OptionError("--working and --keep-size exclude each other");
        s.size = size;
    }

    void TakeCompare(Settings& s, const std::string& v)
    {
        const auto frame = ParseCount(v);
        if (!frame)
            throw OptionError("--compare takes a frame number counted from 0, got '" + v + "'");
        s.compareFrame = *frame;
    }

    void TakeExitAfter(Settings& s, const std::string& v)
    {
        const auto frames = ParseCount(v);
        if (!frames || *frames < 1 || *frames > kMaxExitAfterFrames)
            throw OptionError("--exit-after takes a count of frames from 1 to "
                + std::to_string(kMaxExitAfterFrames) + ", got '" + v + "'");
        s.exitAfterFrames = int(*frames);
    }

    using Words = std::vector<std::string>;

    const OptionSpec kOptions[] = {
        { "--mode", "", "2|4|16", kBothDoors,
            R"(TVC mode: "Graphics 2", "Graphics 4" or "Graphics 16" (default 16))", "", TakeMode,
            [](const Recipe& r, Words& w) {
                w.insert(w.end(), { "--mode", std::to_string(r.mode->number) });
            } },
        { "--method", "", "M", kBothDoors,
            "conversion method (default Atkinson): an index 1-16, a name below in any\n"
            "letter case, blanks, dashes, underscores and + left out as you like\n"
            "(floyd-steinberg, FloydSteinberg), or none (the smoothed frame, unreduced)",
            "",
            TakeMethod,
            [](const Recipe& r, Words& w) {
                w.insert(w.end(), { "--method", MethodWord(r.method) });
            } },
        { "--working", "", "", kTool,
            "write the working picture at TVC resolution (512/256/128 x 240)", "",
            [](Settings& s, const std::string&) { TakeSize(s, Size::Working); } },
        { "--keep-size", "", "", kTool,
            "take the input itself as the working picture: no scaling, output at the\n"
            "input's own size",
            "", [](Settings& s, const std::string&) { TakeSize(s, Size::KeepSize); } },
        { "--frames", "", "A:B", kBothDoors,
            "frames A to B, counted from 0, both included; A: to the end; N one frame\n"
            "(default: all). Times work too, each standing for the frame on show at\n"
            "that time: seconds with an s (12.5s, 80s) or a clock time with a decimal\n"
            "point (1:20.5, 1:02:03.0; 1:20 without one is frames 1 to 20) or\n"
            "hours, minutes and seconds with or without one (00:00:05, 0:00:05.5),\n"
            "alone or as a range (10s:12.5s, 1:20.5:, 0:10.0:0:12.5, 0:00:10:0:00:20).\n"
            "The summary names the frames written, by number and by time",
            "the frame to show first, counted from 0 (or a time, as pelorin-convert\n"
            "takes them: 12.5s, 0:00:05); A:B steps from frame A to frame B and stops\n"
            "there, as pelorin-convert --frames A:B --last converts. Stepping then\n"
            "waits for the user",
            [](Settings& s, const std::string& v) { s.frames = ParseFrameRange(v); } },
        { "--compare", "", "FRAME", kTool,
            "one PNG: all sixteen methods on that frame in a 4 x 4 labelled grid,\n"
            "and under them the frame unreduced (as --method none shows it); with\n"
            "--palette best each method gets the registers best for it",
            "", TakeCompare },
        { "--steady", "", "", kBothDoors,
            "steady dithering for video: each frame keeps to the previous frame's\n"
            "pattern where the picture has not changed, so still areas do not\n"
            "shimmer; the first frame converts as without it",
            "", [](Settings& s, const std::string&) { s.steady = true; },
            [](const Recipe& r, Words& w) {
                if (r.steady)
                    w.push_back("--steady");
            } },
        { "--diffusion", "", "D", kBothDoors,
            "how the error-diffusion methods carry the error: integer (default)\n"
            "truncates each share to a whole step, as the program always has; exact\n"
            "keeps it in fractions, runs the rows in turn left and right, damps it\n"
            "a little and keeps the colour it lands on within what the screen can\n"
            "show, so faint tints and smooth gradients keep their dots. Only with\n"
            "the error-diffusion methods (in --compare, only those change)",
            "", TakeDiffusion,
            [](const Recipe& r, Words& w) {
                if (r.diffusion == Diffusion::Exact)
                    w.insert(w.end(), { "--diffusion", "exact" });
            } },
        { "--linear-light", "", "", kBothDoors,
            "with --diffusion exact: mix the error in linear light, as light adds\n"
            "up, rather than in the pixels' sRGB steps",
            "", [](Settings& s, const std::string&) { s.linearLight = true; },
            [](const Recipe& r, Words& w) {
                if (r.linearLight)
                    w.push_back("--linear-light");
            } },
        { "--distance", "", "rgb|perceptual", kBothDoors,
            "with --diffusion exact: how the nearest colour is measured: rgb\n"
            "(default) or perceptual (Oklab, which weighs lightness and hue as the\n"
            "eye does); with --palette best the registers are chosen by it too",
            "", TakeDistance,
            [](const Recipe& r, Words& w) {
                if (r.distance == Distance::Perceptual)
                    w.insert(w.end(), { "--distance", "perceptual" });
            } },
        { "--palette", "", "P", kBothDoors,
            "the palette registers of --mode 2 or 4 (default: black, white and in\n"
            "\"Graphics 4\" blue, red), one per register, separated by commas: colour\n"
            "numbers 0-15 as \"Graphics 16\" orders them, their names, #rrggbb for the\n"
            "nearest of them, or register values such as 0x55 (the colours below;\n"
            "0,15,9,12 and black,white,blue,green are both black, white, blue and\n"
            "green); best: chosen for the picture, for a video one set for the\n"
            "whole run, chosen on frames spread over it; best-per-scene: chosen anew\n"
            "where the video cuts to another scene (--steady starts afresh\n"
            "there); best-per-line: a set for every line, which the machine\n"
            "rewrites as it draws the picture (an error-diffusion method, exact;\n"
            "up to 3 registers change from line to line). The summary prints the\n"
            "register values used",
            "the palette registers of --mode 2 or 4, as pelorin-convert takes them\n"
            "(black,white,blue,green or 0,15,9,12); best: one set for the video,\n"
            "chosen on frames spread over it; best-per-scene: a set for each scene",
            TakePalette, WritePalette, true },
        { "--brightness", "", "N", kBothDoors, "before the capture: -100 ... 100 (default 0)", "",
            [](Settings& s, const std::string& v) {
                TakeLevel<&PictureAdjustments::brightness>(s, v, "--brightness");
            },
            [](const Recipe& r, Words& w) {
                WriteLevel<&PictureAdjustments::brightness>(r, w, "--brightness");
            },
            true },
        { "--contrast", "", "N", kBothDoors,
            "-100 (flat grey) ... 100 (nearly black and white); default 0", "",
            [](Settings& s, const std::string& v) {
                TakeLevel<&PictureAdjustments::contrast>(s, v, "--contrast");
            },
            [](const Recipe& r, Words& w) {
                WriteLevel<&PictureAdjustments::contrast>(r, w, "--contrast");
            },
            true },
        { "--saturation", "", "N", kBothDoors, "-100 (grey) ... 100 (twice the colour); default 0",
            "",
            [](Settings& s, const std::string& v) {
                TakeLevel<&PictureAdjustments::saturation>(s, v, "--saturation");
            },
            [](const Recipe& r, Words& w) {
                WriteLevel<&PictureAdjustments::saturation>(r, w, "--saturation");
            },
            true },
        { "--gamma", "", "G", kBothDoors,
            "0.2 ... 5, above 1 lightens the darker tones (default 1)", "", TakeGamma,
            [](const Recipe& r, Words& w) {
                if (r.adjustments.gamma != 1.0)
                    w.insert(w.end(), { "--gamma", Number(r.adjustments.gamma) });
            },
            true },
        { "--aspect", "", "A", kBothDoors,
            "how a frame fills the TVC's 4:3 screen: stretch (default) fills it\n"
            "whatever the frame's shape; fit keeps the frame's display aspect\n"
            "(pixel shape included) with black bars; fill keeps it and crops the\n"
            "overflow equally on both sides",
            "", TakeAspect,
            [](const Recipe& r, Words& w) {
                if (r.aspect != video::Aspect::Stretch)
                    w.insert(w.end(), { "--aspect", kAspectWords[size_t(r.aspect)] });
            },
            true },
        { "--last", "", "", kBothDoors,
            "convert every frame of the range but write only the last one: with\n"
            "--steady, that frame as the window shows it after stepping from the\n"
            "range's first frame (what the window's \"Copy command line\" gives)",
            "show the last frame of --frames A:B (as the window does anyway; taken\n"
            "so that a copied command opens as it is)",
            [](Settings& s, const std::string&) { s.lastOnly = true; } },
        { "--tvc-fps", "", "R", kTool,
            "a .cas clip's frame rate: every n-th frame is kept, n the whole\n"
            "number nearest to the source's rate / R, for a longer clip; an n\n"
            "past the range's frames keeps its first frame alone. With\n"
            "--tvc-seconds any output: each frame shown as long as the clip shows it",
            "", TakeTvcFps,
            [](const Recipe& r, Words& w) {
                if (r.tvcFps)
                    w.insert(w.end(), { "--tvc-fps", Number(*r.tvcFps) });
            } },
        { "--denoise", "", "LEVEL", kTool,
            "denoise the video over time before converting it (FFmpeg's hqdn3d):\n"
            "camera noise changes every frame everywhere, so a clip from real\n"
            "footage holds few frames and --steady keeps little still; LEVEL is\n"
            "light, medium (the default) or strong. Not for the TVC's own files",
            "", TakeDenoise, WriteDenoise, false, true },
        { "--tvc-seconds", "", "S", kTool,
            "a clip for the 64K TVC of S seconds at its rate (--tvc-fps, or the\n"
            "source's): where the exact frames would not fit, each frame sends the\n"
            "changes that matter most to the eye, as many as its share of the memory\n"
            "and a third of a field's drawing time allow, and the rest follow in\n"
            "later frames. Every output shows the frames as the clip plays them\n"
            "(.vram, .kep and .cas imply --working; pictures and videos keep their\n"
            "size); not with --keep-size or --last. A length that cannot fit, or\n"
            "runs past the input's frames, is refused before any work",
            "", TakeTvcSeconds,
            [](const Recipe& r, Words& w) {
                if (r.tvcSeconds)
                    w.insert(w.end(), { "--tvc-seconds", Number(*r.tvcSeconds) });
            } },
        { "--threads", "", "N", kTool,
            "convert N frames at once, each on a core (default: every core); the\n"
            "output is the same for every N, 1 converts one frame after another.\n"
            "At most 2 per core are used, and fewer when the frames in flight\n"
            "(2 per thread and 2 more) would not fit half of the memory; a frame\n"
            "too large to convert even alone is refused before any work.\n"
            "With --steady each frame needs the one before, so frames are converted\n"
            "one after another (reading and writing still run beside them)",
            "", TakeThreads },
        { "--quiet", "-q", "", kTool, "print nothing but errors: no progress display, no summary",
            "", [](Settings& s, const std::string&) { s.quiet = true; } },
        { "--progress", "", "", kTool,
            "draw the progress line on standard error even when it is no terminal\n"
            "(as carriage-return separated \"frame N of M, R frames/s, T left\")",
            "", [](Settings& s, const std::string&) { s.progress = true; } },
        { "--real-time", "", "", kWindow,
            "step at the video's own frame rate instead of as fast as frames\nconvert", "",
            [](Settings& s, const std::string&) { s.realTime = true; } },
        { "--loop", "", "", kWindow, "go back to frame 1 after the video's last frame", "",
            [](Settings& s, const std::string&) { s.loop = true; } },
        { "--show-time", "", "", kWindow, "show each frame's conversion time in milliseconds", "",
            [](Settings& s, const std::string&) { s.showTime = true; } },
        { "--fit", "", "", kWindow,
            "the scroll bar fits the video: it runs from frame 0 to the video's\n"
            "last frame, and stepping ends there (or goes round with --loop)",
            "", [](Settings& s, const std::string&) { s.fit = true; } },
        { "--exit-after", "", "FRAMES", kWindow,
            "for scripted checks: step FRAMES frames, then close the window and\n"
            "print the frame reached; without FILE the sample plays, as \"Play AVI\"\n"
            "plays it. A message the window would show is printed instead and ends\n"
            "the program, as stepping that stops first does (a still picture is not\n"
            "stepped)",
            "", TakeExitAfter },
        { "--help", "-h", "", kBothDoors, "this text", "",
            [](Settings& s, const std::string&) { s.help = true; } },
        { "--version", "", "", kBothDoors, "the program's version", "",
            [](Settings& s, const std::string&) { s.version = true; } },
    };

    const OptionSpec* FindOption(std::string_view name)
    {
        for (const OptionSpec& option : kOptions)
            if (option.name == name || (!option.alias.empty() && option.alias == name))
                return &option;
        return nullptr;
    }

} // namespace

std::span<const OptionSpec> OptionTable() { return kOptions; }

Settings ParseSettings(std::span<const std::string> args, Door door)
{
    Settings settings;
    std::set<std::string_view> given;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            settings.files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        if (const size_t eq = arg.find('='); arg.starts_with("--") && eq != std::string::npos) {
            name = arg.substr(0, eq);
            inlineValue = arg.substr(eq + 1);
        }
        const OptionSpec* option = FindOption(name);
        if (!option || !(option->doors & door))
            throw OptionError("unknown option '" + arg + "' (--help lists the options)");
        std::string value;
        if (option->argument.empty()) {
            if (inlineValue)
                throw OptionError(name + " takes no value");
        } else if (option->valueOptional) {
            if (inlineValue)
                value = *inlineValue;
            else if (i + 1 < args.size() && LettersOnly(args[i + 1]))
                value = args[++i];
            if (!given.insert(option->name).second)
                throw OptionError(std::string(option->name) + " is given twice");
        } else {
            if (!inlineValue && i + 1 >= args.size())
                throw OptionError(name + " needs a value");
            value = inlineValue ? *inlineValue : args[++i];
            if (!given.insert(option->name).second)
                throw OptionError(std::string(option->name) + " is given twice");
        }
        option->take(settings, value);
        // Asking the window for help wins over whatever else is wrong on the line.
        if (door == kWindow && (settings.help || settings.version))
            return settings;
    }
    if (!settings.help && !settings.version)
        CheckDiffusionChoices(settings);
    return settings;
}

std::string OptionsHelp(Door door, size_t column)
{
    std::string text;
    for (const OptionSpec& option : kOptions) {
        if (!(option.doors & door))
            continue;
        std::string left = std::string(option.name);
        if (!option.alias.empty())
            left += ", " + std::string(option.alias);
        if (!option.argument.empty())
            left += option.valueOptional ? " [" + std::string(option.argument) + "]"
                                         : " " + std::string(option.argument);
        const std::string_view help
            = door == kWindow && !option.windowHelp.empty() ? option.windowHelp : option.help;
        text += "  " + left + std::string(left.size() < column ? column - left.size() : 1, ' ');
        for (const char c : help) {
            text += c;
            if (c == '\n')
                text += std::string(column + 2, ' ');
        }
        text += '\n';
    }
    return text;
}

std::string MethodsAndColoursHelp()
{
    std::string text = "Methods:\n";
    for (const Method& method : Methods()) {
        std::string line = "  " + std::string(method.index < 10 ? " " : "")
            + std::to_string(method.index) + "  " + std::string(method.caption);
        std::string aliases;
        for (std::string_view alias : AliasesOf(method))
            aliases += (aliases.empty() ? "" : ", ") + std::string(alias);
        if (!aliases.empty())
            line += std::string(line.size() < 22 ? 22 - line.size() : 1, ' ') + "also " + aliases;
        text += line + "\n";
    }
    text += "\nColours (--palette takes the number, the name or #rrggbb, which stands for the "
            "nearest):\n";
    // Two columns: the dim eight beside the bright eight.
    for (int colour = 0; colour < kTvcColourCount / 2; ++colour) {
        char line[96];
        const std::string_view dim = ColourName(colour), bright = ColourName(colour + 8);
        std::snprintf(line, sizeof line, "  %2d  %-13.*s %s      %2d  %-13.*s %s\n", colour,
            int(dim.size()), dim.data(), ColourHex(colour).c_str(), colour + 8, int(bright.size()),
            bright.data(), ColourHex(colour + 8).c_str());
        text += line;
    }
    return text + "  (grey is dark-white; bright-black shows the same black as black)\n";
}

std::vector<std::string> RecipeArguments(const Recipe& recipe)
{
    std::vector<std::string> words;
    for (const OptionSpec& option : kOptions)
        if (option.write)
            option.write(recipe, words);
    return words;
}

std::vector<std::string> PictureChoiceArguments(const Recipe& recipe)
{
    std::vector<std::string> words;
    for (const OptionSpec& option : kOptions)
        if (option.write && option.pictureChoice)
            option.write(recipe, words);
    return words;
}

bool InputIsTvcFile(const std::string& input)
{
    return tvc::IsTvcInputExtension(Lower(std::filesystem::path(input).extension().string()));
}

} // namespace pelorin::session
