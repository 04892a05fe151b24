#include "options.h"

#include "cli_error.h"
#include "convert/tvc_colours.h"
#include "dither/method_table.h"
#include "platform/file_extension.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "pelorin_version.h"

namespace pelorin::cli {

namespace {

    using session::Lower;

    // "%%" as "%", in a name whose every "%" is doubled (ParseNumberedName found no number).
    std::string HalvePercents(const std::string& name)
    {
        std::string out;
        for (size_t i = 0; i < name.size(); ++i) {
            out += name[i];
            if (name[i] == '%')
                ++i;
        }
        return out;
    }

    struct OutputType {
        std::string_view extension;
        OutputKind kind;
    };
    constexpr OutputType kOutputTypes[] = {
        { ".png", OutputKind::Picture },
        { ".ppm", OutputKind::Picture },
        { ".bmp", OutputKind::Picture },
        { ".avi", OutputKind::Video },
        { ".mkv", OutputKind::Video },
        { ".mp4", OutputKind::Video },
        { ".gif", OutputKind::Video },
        { ".vram", OutputKind::Vram },
        { ".kep", OutputKind::Kep },
        { ".cas", OutputKind::Cas },
    };

    // Outputs that hold the TVC's video memory: they take the working picture.
    bool HoldsVideoMemory(OutputKind kind)
    {
        return kind == OutputKind::Vram || kind == OutputKind::Kep || kind == OutputKind::Cas;
    }

    // INPUT and OUTPUT: what is written is told by the output's extension, and a picture name
    // may hold a frame number.
    void TakeFiles(Options& options)
    {
        if (options.files.size() != 2)
            throw UsageError(options.files.size() < 2
                    ? "needs an INPUT and an OUTPUT file (--help shows how)"
                    : "too many file names: '" + options.files[2]
                        + "' (only INPUT and OUTPUT are taken)");
        options.input = options.files[0];
        options.output = options.files[1];
        if (options.input.empty() || options.output.empty())
            throw UsageError("an empty file name was given");

        const std::filesystem::path outputPath(options.output);
        options.outputExtension = platform::LowerExtension(options.output);
        const auto type = std::find_if(std::begin(kOutputTypes), std::end(kOutputTypes),
            [&](const OutputType& t) { return t.extension == options.outputExtension; });
        if (type == std::end(kOutputTypes))
            throw UsageError("cannot tell what to write from the name '" + options.output
                + "': end it in .png, .ppm, .bmp, .avi, .mkv, .mp4, .gif, .vram, .kep or .cas");
        options.outputKind = type->kind;
        if (options.outputKind == OutputKind::Picture) {
            options.numbered = ParseNumberedName(outputPath.filename().string());
            // A picture name without a frame number may still hold "%%", a literal "%" as in a
            // numbered name ("50%%.png" writes "50%.png").
            if (!options.numbered && outputPath.filename().string().find('%') != std::string::npos)
                options.output
                    = (outputPath.parent_path() / HalvePercents(outputPath.filename().string()))
                          .string();
        }
        if (options.numbered) {
            // The number belongs to the file name; the folder is taken as written.
            const std::string folder = outputPath.parent_path().string();
            if (!folder.empty()) {
                options.numbered->prefix = folder + "/" + options.numbered->prefix;
            }
        }
    }

    // What cannot go together, and what an output implies.
    void CheckCombinations(Options& options)
    {
        if (options.compareFrame) {
            if (options.outputExtension != ".png")
                throw UsageError("--compare writes one PNG picture; name the output *.png, got '"
                    + options.output + "'");
            if (options.methodGiven)
                throw UsageError("--compare converts by all 16 methods; leave out --method");
            if (options.frames)
                throw UsageError("--compare takes its own frame; leave out --frames");
            if (options.numbered)
                throw UsageError("--compare writes one picture; its name takes no frame number");
            if (options.lastOnly)
                throw UsageError("--compare converts one frame; leave out --last");
            if (options.steady)
                throw UsageError(
                    "--steady carries a pattern from frame to frame; --compare converts "
                    "one frame, so leave it out");
            if (options.palette
                && options.palette->kind == session::PaletteRequest::Kind::BestPerLine)
                throw UsageError("--palette best-per-line takes an error-diffusion method, and "
                                 "--compare converts by all 16; give --method instead");
        }
        // --compare shows every method; the exact diffusion changes the error-diffusion ones.
        if (options.diffusion == session::Diffusion::Exact && !options.compareFrame) {
            const Method* method = FindMethod(options.method);
            if (!method || method->family != MethodFamily::ErrorDiffusion)
                throw UsageError("--diffusion exact carries the error of the error-diffusion "
                                 "methods; --method "
                    + session::MethodWord(options.method) + " has none to carry");
        }
        if (options.aspect != Aspect::Stretch && options.size == Size::KeepSize)
            throw UsageError(
                "--keep-size takes each picture at its own size, so there is no screen "
                "for --aspect to shape it into; leave one of them out");
        if (options.palette) {
            // A TVC file converts in its own mode unless --mode names one: then which registers
            // there are is known once the file is open.
            if (options.modeGiven || !InputIsTvcFile(options.input))
                cli::CheckPaletteFitsMode(options);
            if (options.method == kNoMethod)
                throw UsageError("--palette needs a method: --method none leaves the picture "
                                 "unreduced");
        }
        if (HoldsVideoMemory(options.outputKind)) {
            // Video memory holds nothing but the working picture, so there is no choice to make:
            // the output is converted as with --working. --keep-size stays as asked; the run
            // refuses it unless the input already has the mode's working size.
            if (options.size == Size::Display)
                options.size = Size::Working;
            if (options.method == kNoMethod)
                throw UsageError(options.outputExtension
                    + " holds palette indices: --method none leaves colours outside the palette; "
                      "name a method that reduces the picture to them, such as --method floyd, or "
                      "leave --method out for Atkinson");
        }
        // A TVC file's frames are the TVC's own pictures, read as they are stored, with no
        // camera noise in them and nothing decoded to filter.
        if (options.denoise != video::Denoise::Off && InputIsTvcFile(options.input))
            throw UsageError("--denoise works on a video's decoded frames; '" + options.input
                + "' is one of the TVC's own files, shown as stored: leave --denoise out");
        // With --tvc-seconds every output shows the clip, at the clip's rate too.
        if (options.tvcFps && options.outputKind != OutputKind::Cas && !options.tvcSeconds)
            throw UsageError("--tvc-fps sets the frame rate of a clip for the TVC; name the output "
                             "*.cas, got '"
                + options.output + "'");
        if (options.tvcSeconds) {
            // The clip is chosen on the TVC's video memory, frame after frame from the first.
            if (options.size == Size::KeepSize)
                throw UsageError("--tvc-seconds plays the working picture at TVC resolution; "
                                 "leave out --keep-size");
            if (options.lastOnly)
                throw UsageError("--tvc-seconds writes the frames of a clip; leave out --last");
            if (options.compareFrame)
                throw UsageError("--compare converts one frame; leave out --tvc-seconds");
            if (options.method == kNoMethod)
                throw UsageError("--tvc-seconds plays palette indices: --method none leaves "
                                 "colours outside the palette; name a method");
        }
        if (options.outputExtension == ".gif" && options.method == kNoMethod)
            throw UsageError("a GIF holds at most 256 colours: --method none leaves the frames "
                             "unreduced; write .mkv, .avi or .mp4 instead");
    }

} // namespace

std::string NumberedName::For(int64_t frameNumber) const
{
    std::string digits = std::to_string(frameNumber);
    if (int(digits.size()) < width)
        digits.insert(0, size_t(width) - digits.size(), zeroPad ? '0' : ' ');
    return prefix + digits + suffix;
}

std::optional<NumberedName> ParseNumberedName(const std::string& name)
{
    // The name is never handed to printf: only "%d" with an optional zero flag and width, and
    // "%%", are understood, and anything else is refused rather than passed on.
    NumberedName result;
    std::string* part = &result.prefix;
    bool found = false;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] != '%') {
            *part += name[i];
            continue;
        }
        if (i + 1 < name.size() && name[i + 1] == '%') {
            *part += '%';
            ++i;
            continue;
        }
        size_t j = i + 1;
        if (j < name.size() && name[j] == '0') {
            result.zeroPad = true;
            ++j;
        }
        int width = 0;
        while (j < name.size() && name[j] >= '0' && name[j] <= '9' && width < 100)
            width = width * 10 + (name[j++] - '0');
        if (j >= name.size() || (name[j] != 'd' && name[j] != 'i') || width >= 100)
            throw UsageError("'" + name
                + "': a frame number in a picture name is written %d, %5d or %05d (and a "
                  "literal % as %%)");
        if (found)
            throw UsageError("'" + name + "' holds more than one frame number");
        found = true;
        result.width = width;
        part = &result.suffix;
        i = j;
    }
    if (!found)
        return std::nullopt;
    return result;
}

Options ParseOptions(std::span<const std::string> args)
{
    Options options;
    try {
        static_cast<session::Settings&>(options) = session::ParseSettings(args, session::kTool);
    } catch (const session::OptionError& e) {
        throw UsageError(e.what());
    }
    if (options.help || options.version)
        return options;
    TakeFiles(options);
    CheckCombinations(options);
    return options;
}

void CheckPaletteFitsMode(const session::Recipe& recipe)
{
    try {
        session::CheckPaletteFitsMode(recipe);
    } catch (const session::OptionError& e) {
        throw UsageError(e.what());
    }
}

std::string HelpText()
{
    std::string text = R"(Usage: pelorin-convert [options] INPUT OUTPUT

Converts a picture or a video the way the Pelorin window shows it on the TVC: each frame is
drawn to fill the 512 x 240 host picture, stretched with smoothing to the mode's resolution,
converted by the chosen method and enlarged to the 512 x 480 display picture, which is written.

INPUT   a picture (PNG, PPM, BMP, JPEG) or a video (anything FFmpeg decodes), or the
        TVC's own files: .kep, a .cas Pelorin wrote (picture or clip), .vram (with
        --mode); shown in their own palette, in their own mode unless --mode is given
OUTPUT  by its extension:
          .png .ppm .bmp   one picture; with a frame number in the name (out_%05d.png)
                           one picture per frame, numbered by the frame's own number
          .avi .mkv        a lossless video (FFV1) at the source's frame rate
          .mp4             H.264 at the source's frame rate: 4:2:0, as players expect, for
                           the display picture (its 2 x 2 blocks of one colour lose nothing);
                           lossless 4:4:4 with --working or --keep-size (with libx264)
          .gif             an animated GIF
          .vram            the TVC's video memory, 15360 bytes a frame: the working
                           picture, as --working writes it (which it implies)
          .kep             one picture as the TVC's picture file: mode, palette
                           registers, video memory (implies --working)
          .cas             a program the TVC loads and starts by itself: one frame
                           is shown until a key is pressed (32K TVC); more frames are
                           played as a clip at the source's frame rate, looping until
                           a key is pressed (64K TVC), as many from the first as fit
                           (implies --working; --steady makes clips much longer)

Options:
)";
    text += session::OptionsHelp(session::kTool, 19);
    text += R"(
)";
    text += session::MethodsAndColoursHelp();
    text += R"(
After the work a summary gives the frames written (how many, their numbers and the times they
start), the one-off set-up (nearest-colour tables, working storage: the first frame is
converted once before the run for it), the conversion time per frame as the window's
stopwatch measures it (minimum, median, maximum; for one frame its own time), the flicker: the
mean share of pixels that changed from one frame to the next, and the faithfulness: the mean
difference (0 ... 255 per channel) between the converted working picture and the unreduced one
(what --method none --working writes), both blurred with a 3 x 3 box, averaged over the frames.

Exit status: 0 done, 1 the work failed (the message says why), 2 the command line is wrong.
Outputs appear complete or not at all; the input is never overwritten. Stopped by SIGINT
(Ctrl-C), SIGTERM, SIGHUP or SIGQUIT, the tool removes what it wrote, leaves the files that
were there before untouched (a numbered sequence too) and ends by that same signal. A "%%" in a
picture name is a literal "%".

Examples:
  pelorin-convert tom.avi tom-tvc.mkv
  pelorin-convert --mode 4 --method bayer-4x4 --frames 100 tom.avi frame100.png
  pelorin-convert --mode 16 --method floyd --working tom.avi tom.vram
  pelorin-convert --mode 4 --palette black,white,blue,green --frames 00:00:05 tom.avi five.png
      (frame 125 of a 25 frames/s video, in black, white, bright blue and bright green)
)";
    return text;
}

std::string VersionText() { return std::string("pelorin-convert ") + PELORIN_VERSION + "\n"; }

} // namespace pelorin::cli
