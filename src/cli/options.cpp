#include "options.h"

#include "cli_error.h"
#include "convert/tvc_colours.h"
#include "dither/method_table.h"
#include "platform/file_extension.h"
#include "tvc/tvc_read.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <vector>

#include "pelorin_version.h"

namespace pelorin::cli {

namespace {

    // A whole, non-negative decimal number that fits int64_t; nothing else (no sign, no blank).
    std::optional<int64_t> ParseCount(std::string_view text)
    {
        if (text.empty() || text.size() > 18)
            return std::nullopt;
        int64_t value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc() || end != text.data() + text.size() || value < 0)
            return std::nullopt;
        return value;
    }

    // A whole decimal number with an optional sign, nothing else.
    std::optional<int> ParseSigned(std::string_view text)
    {
        int value = 0;
        if (text.empty() || text.size() > 9)
            return std::nullopt;
        const char* begin = text.data() + (text[0] == '+' ? 1 : 0);
        const auto [end, ec] = std::from_chars(begin, text.data() + text.size(), value);
        if (ec != std::errc() || end != text.data() + text.size())
            return std::nullopt;
        return value;
    }

    std::optional<double> ParseDecimal(const std::string& text)
    {
        if (text.empty() || text.size() > 20)
            return std::nullopt;
        double value = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
            return std::nullopt;
        return value;
    }

    std::string Lower(std::string text)
    {
        for (char& c : text)
            if (c >= 'A' && c <= 'Z')
                c = char(c - 'A' + 'a');
        return text;
    }

    constexpr int64_t kMicroseconds = 1'000'000;

    // A whole number of at most 9 digits; nothing else.
    std::optional<int64_t> SmallCount(std::string_view text)
    {
        if (text.empty() || text.size() > 9)
            return std::nullopt;
        return ParseCount(text);
    }

    // "12.5" (seconds with up to six decimals) as microseconds.
    std::optional<int64_t> DecimalSeconds(std::string_view text)
    {
        const size_t point = text.find('.');
        const auto whole = SmallCount(text.substr(0, point));
        if (!whole)
            return std::nullopt;
        int64_t micro = *whole * kMicroseconds;
        if (point != std::string_view::npos) {
            const std::string_view decimals = text.substr(point + 1);
            if (decimals.empty() || decimals.size() > 6)
                return std::nullopt;
            const auto digits = ParseCount(decimals);
            if (!digits)
                return std::nullopt;
            int64_t scale = kMicroseconds;
            for (size_t i = 0; i < decimals.size(); ++i)
                scale /= 10;
            micro += *digits * scale;
        }
        return micro;
    }

    // One end of a range of times, as microseconds: seconds with an "s" ("12.5s", "80s"), a
    // clock time with a decimal point in its seconds ("1:20.5", "1:02:03.0"), or hours, minutes
    // and seconds with or without one ("00:00:05", "0:00:05.5"). A decimal point or a third
    // field is what tells a clock time from a range of frame numbers ("1:20" is frames 1 to 20).
    std::optional<int64_t> ParseTime(std::string_view text)
    {
        if (text.size() >= 2 && text.back() == 's')
            return DecimalSeconds(text.substr(0, text.size() - 1));
        const size_t lastColon = text.rfind(':');
        if (lastColon == std::string_view::npos)
            return std::nullopt;
        const std::string_view secondsText = text.substr(lastColon + 1);
        const bool hasHours = text.find(':') != lastColon;
        // Two digits of seconds, then the decimals; with hours the decimals may be left out.
        const size_t point = secondsText.find('.');
        if (point != 2 && !(hasHours && point == std::string_view::npos && secondsText.size() == 2))
            return std::nullopt;
        const auto seconds = DecimalSeconds(secondsText);
        if (!seconds || *seconds >= 60 * kMicroseconds)
            return std::nullopt;
        const std::string_view before = text.substr(0, lastColon);
        const size_t hourColon = before.find(':');
        int64_t minutes = 0;
        if (hourColon == std::string_view::npos) {
            const auto m = SmallCount(before);
            if (!m)
                return std::nullopt;
            minutes = *m;
        } else {
            const auto hours = SmallCount(before.substr(0, hourColon));
            const std::string_view minuteText = before.substr(hourColon + 1);
            const auto m = minuteText.size() == 2 ? SmallCount(minuteText) : std::nullopt;
            if (!hours || !m || *m >= 60)
                return std::nullopt;
            minutes = *hours * 60 + *m;
        }
        return minutes * 60 * kMicroseconds + *seconds;
    }

    // --frames as times: T, T: or T:T, where each T is read by ParseTime. Every colon that could
    // split the text is tried; a clock time's decimal point leaves at most one reading.
    FrameRange ParseFrameTimes(const std::string& text)
    {
        std::vector<FrameRange> readings;
        if (const auto single = ParseTime(text))
            readings.push_back({ 0, 0, true, *single, *single, text });
        for (size_t colon = text.find(':'); colon != std::string::npos;
             colon = text.find(':', colon + 1)) {
            const auto first = ParseTime(std::string_view(text).substr(0, colon));
            if (!first)
                continue;
            const std::string_view rest = std::string_view(text).substr(colon + 1);
            if (rest.empty()) {
                readings.push_back({ 0, std::nullopt, true, *first, std::nullopt, text });
            } else if (const auto last = ParseTime(rest)) {
                readings.push_back({ 0, 0, true, *first, *last, text });
            }
        }
        if (readings.size() != 1)
            throw UsageError("--frames takes frame numbers (A:B, A: or N) or times (12.5s, 1:20.5, "
                             "00:00:05, ranges such as 10s:12.5s or 0:10.0:0:12.5), got '"
                + text + "'");
        const FrameRange& range = readings.front();
        if (range.lastMicroseconds && *range.lastMicroseconds < range.firstMicroseconds)
            throw UsageError("--frames " + text + ": the last time comes before the first");
        return range;
    }

    FrameRange ParseFrames(const std::string& text)
    {
        // A time has an "s", a decimal point or three fields; frame numbers have none of them
        // (A:B is two).
        if (text.find_first_of("s.") != std::string::npos
            || std::count(text.begin(), text.end(), ':') >= 2)
            return ParseFrameTimes(text);
        const auto bad = [&] {
            return UsageError("--frames takes A:B (first and last frame, counted from 0), A: or N, "
                              "or times (12.5s, 1:20.5, 10s:12.5s), got '"
                + text + "'");
        };
        const size_t colon = text.find(':');
        if (colon == std::string::npos) {
            const auto n = ParseCount(text);
            if (!n)
                throw bad();
            return { *n, *n, false, 0, std::nullopt, text };
        }
        const auto first = ParseCount(std::string_view(text).substr(0, colon));
        if (!first)
            throw bad();
        const std::string_view rest = std::string_view(text).substr(colon + 1);
        if (rest.empty())
            return { *first, std::nullopt, false, 0, std::nullopt, text };
        const auto last = ParseCount(rest);
        if (!last)
            throw bad();
        if (*last < *first)
            throw UsageError("--frames " + text + ": the last frame comes before the first");
        return { *first, *last, false, 0, std::nullopt, text };
    }

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

} // namespace

FrameRange ResolveFrameTimes(const FrameRange& range, int rateNum, int rateDen)
{
    if (!range.byTime || rateNum <= 0 || rateDen <= 0)
        return range;
    const auto frameAt = [&](int64_t microseconds) {
        return int64_t(__int128(microseconds) * rateNum / (__int128(kMicroseconds) * rateDen));
    };
    FrameRange frames = range;
    frames.first = frameAt(range.firstMicroseconds);
    frames.last = range.lastMicroseconds ? std::optional<int64_t>(frameAt(*range.lastMicroseconds))
                                         : std::nullopt;
    return frames;
}

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

std::vector<int> ParsePaletteColours(const std::string& text, std::vector<std::string>* nearest)
{
    std::vector<int> colours;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string item
            = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const std::string lower = Lower(item);
        std::optional<int> colour;
        if (lower.starts_with("0x") && lower.size() > 2 && lower.size() <= 4) {
            unsigned value = 0;
            const auto [end, ec]
                = std::from_chars(lower.data() + 2, lower.data() + lower.size(), value, 16);
            if (ec != std::errc() || end != lower.data() + lower.size())
                throw UsageError("--palette: '" + item + "' is no register value (0x00 ... 0x55)");
            colour = ColourOfRegister(uint8_t(value));
            if (!colour)
                throw UsageError("--palette: register value " + item
                    + " sets bits 1, 3, 5 or 7; a colour uses bits 0 (blue), 2 (red), 4 (green) "
                      "and 6 (bright), as 0x55 for white");
        } else if (lower.starts_with('#')) {
            unsigned rgb = 0;
            const auto [end, ec]
                = std::from_chars(lower.data() + 1, lower.data() + lower.size(), rgb, 16);
            if (lower.size() != 7 || ec != std::errc() || end != lower.data() + lower.size())
                throw UsageError("--palette: '" + item
                    + "' is no colour; a colour by its RGB value is written #rrggbb, such as "
                      "#0000ff");
            colour = NearestColour(int(rgb >> 16), int(rgb >> 8 & 0xff), int(rgb & 0xff));
            if (nearest)
                nearest->push_back(item + " is colour " + std::to_string(*colour) + ", "
                    + std::string(ColourName(*colour)) + " (" + ColourHex(*colour)
                    + "), the nearest of the sixteen");
        } else if (const auto named = ColourOfName(item)) {
            colour = named;
        } else {
            const auto n = ParseCount(item);
            if (!n || *n >= kTvcColourCount)
                throw UsageError("--palette: '" + item
                    + "' is no colour; give colour numbers 0 ... 15, names such as black, "
                      "dark-red or white (--help lists them), #rrggbb or register values such "
                      "as 0x55, separated by commas, or best or best-per-scene");
            colour = int(*n);
        }
        colours.push_back(*colour);
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return colours;
}

std::string ColourHex(int colour)
{
    const PaletteEntry& e = kTvcPalette16[size_t(colour)];
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", e.Red, e.Green, e.Blue);
    return text;
}

std::optional<int> ParseMethodName(std::string_view name)
{
    // An index is digits as typed: "-1" is no index, even though a dash is a separator in names.
    if (const auto index = ParseCount(name)) {
        if (*index >= 1 && *index <= kMethodCount)
            return int(*index);
        return std::nullopt;
    }
    if (Lower(std::string(name)) == "none")
        return kNoMethod;
    if (const Method* method = FindMethodByName(name))
        return method->index;
    return std::nullopt;
}

Options ParseOptions(std::span<const std::string> args)
{
    Options options;
    std::vector<std::string> positional;
    bool sawMode = false, sawMethod = false, sawThreads = false, sawAspect = false;
    std::set<std::string> sawAdjustment;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            positional.push_back(arg);
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
        const auto value = [&]() -> std::string {
            if (inlineValue)
                return *inlineValue;
            if (i + 1 >= args.size())
                throw UsageError(name + " needs a value");
            return args[++i];
        };
        const auto flag = [&] {
            if (inlineValue)
                throw UsageError(name + " takes no value");
        };

        if (name == "--help" || name == "-h") {
            flag();
            options.help = true;
        } else if (name == "--version") {
            flag();
            options.version = true;
        } else if (name == "--quiet" || name == "-q") {
            flag();
            options.quiet = true;
        } else if (name == "--progress") {
            flag();
            options.progress = true;
        } else if (name == "--steady") {
            flag();
            options.steady = true;
        } else if (name == "--last") {
            flag();
            options.lastOnly = true;
        } else if (name == "--threads") {
            const std::string v = value();
            if (sawThreads)
                throw UsageError("--threads is given twice");
            sawThreads = true;
            const auto n = ParseCount(v);
            if (!n || *n < 1 || *n > 256)
                throw UsageError("--threads takes a count from 1 to 256, got '" + v + "'");
            options.threads = int(*n);
        } else if (name == "--working") {
            flag();
            if (options.size == Size::KeepSize)
                throw UsageError("--working and --keep-size exclude each other");
            options.size = Size::Working;
        } else if (name == "--keep-size") {
            flag();
            if (options.size == Size::Working)
                throw UsageError("--working and --keep-size exclude each other");
            options.size = Size::KeepSize;
        } else if (name == "--mode") {
            const std::string v = value();
            if (sawMode)
                throw UsageError("--mode is given twice");
            sawMode = true;
            options.modeGiven = true;
            const auto number = ParseCount(v);
            options.mode = number && *number <= 16 ? FindTvcMode(int(*number)) : nullptr;
            if (!options.mode)
                throw UsageError("--mode must be 2, 4 or 16, got '" + v + "'");
        } else if (name == "--method") {
            const std::string v = value();
            if (sawMethod)
                throw UsageError("--method is given twice");
            sawMethod = true;
            const auto method = ParseMethodName(v);
            if (!method)
                throw UsageError("unknown method '" + v
                    + "'; use 1 ... 16, a name such as floyd, bayer-4x4 or treshold+noise, or "
                      "none (--help lists them)");
            options.method = *method;
        } else if (name == "--frames") {
            const std::string v = value();
            if (options.frames)
                throw UsageError("--frames is given twice");
            options.frames = ParseFrames(v);
        } else if (name == "--brightness" || name == "--contrast" || name == "--saturation") {
            const std::string v = value();
            if (!sawAdjustment.insert(name).second)
                throw UsageError(name + " is given twice");
            const auto level = ParseSigned(v);
            if (!level || *level < -100 || *level > 100)
                throw UsageError(name
                    + " takes a whole number from -100 to 100 (0 changes nothing), got '" + v
                    + "'");
            PictureAdjustments& a = options.adjustments;
            int& setting = name == "--brightness" ? a.brightness
                : name == "--contrast"            ? a.contrast
                                                  : a.saturation;
            setting = *level;
        } else if (name == "--gamma") {
            const std::string v = value();
            if (!sawAdjustment.insert(name).second)
                throw UsageError(name + " is given twice");
            const auto gamma = ParseDecimal(v);
            if (!gamma || *gamma < 0.2 || *gamma > 5.0)
                throw UsageError(
                    "--gamma takes a number from 0.2 to 5 (1 changes nothing), got '" + v + "'");
            options.adjustments.gamma = *gamma;
        } else if (name == "--aspect") {
            const std::string v = value();
            if (sawAspect)
                throw UsageError("--aspect is given twice");
            sawAspect = true;
            const std::string lower = Lower(v);
            if (lower == "stretch")
                options.aspect = Aspect::Stretch;
            else if (lower == "fit")
                options.aspect = Aspect::Fit;
            else if (lower == "fill")
                options.aspect = Aspect::Fill;
            else
                throw UsageError("--aspect takes stretch, fit or fill, got '" + v + "'");
        } else if (name == "--palette") {
            const std::string v = value();
            if (options.palette)
                throw UsageError("--palette is given twice");
            PaletteRequest request;
            request.text = v;
            const std::string lower = Lower(v);
            if (lower == "best")
                request.kind = PaletteRequest::Kind::Best;
            else if (lower == "best-per-scene")
                request.kind = PaletteRequest::Kind::BestPerScene;
            else
                request.colours = ParsePaletteColours(v, &request.nearest);
            options.palette = request;
        } else if (name == "--tvc-fps") {
            const std::string v = value();
            if (options.tvcFps)
                throw UsageError("--tvc-fps is given twice");
            const auto fps = ParseDecimal(v);
            if (!fps || !(*fps > 0) || *fps > 1000)
                throw UsageError("--tvc-fps takes frames per second above 0, such as 5 or 12.5, "
                                 "got '" + v + "'");
            options.tvcFps = *fps;
        } else if (name == "--compare") {
            const std::string v = value();
            if (options.compareFrame)
                throw UsageError("--compare is given twice");
            const auto frame = ParseCount(v);
            if (!frame)
                throw UsageError("--compare takes a frame number counted from 0, got '" + v + "'");
            options.compareFrame = *frame;
        } else {
            throw UsageError("unknown option '" + arg + "' (--help lists the options)");
        }
    }
    if (options.help || options.version)
        return options;

    if (positional.size() != 2)
        throw UsageError(positional.size() < 2
                ? "needs an INPUT and an OUTPUT file (--help shows how)"
                : "too many file names: '" + positional[2] + "' (only INPUT and OUTPUT are taken)");
    options.input = positional[0];
    options.output = positional[1];
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

    if (options.compareFrame) {
        if (options.outputExtension != ".png")
            throw UsageError("--compare writes one PNG picture; name the output *.png, got '"
                + options.output + "'");
        if (sawMethod)
            throw UsageError("--compare converts by all 16 methods; leave out --method");
        if (options.frames)
            throw UsageError("--compare takes its own frame; leave out --frames");
        if (options.numbered)
            throw UsageError("--compare writes one picture; its name takes no frame number");
        if (options.lastOnly)
            throw UsageError("--compare converts one frame; leave out --last");
        if (options.steady)
            throw UsageError("--steady carries a pattern from frame to frame; --compare converts "
                             "one frame, so leave it out");
    }
    if (options.aspect != Aspect::Stretch && options.size == Size::KeepSize)
        throw UsageError("--keep-size takes each picture at its own size, so there is no screen "
                         "for --aspect to shape it into; leave one of them out");
    if (options.palette) {
        // A TVC file converts in its own mode unless --mode names one: then which registers
        // there are is known once the file is open.
        if (options.modeGiven || !InputIsTvcFile(options.input))
            CheckPaletteFitsMode(options);
        if (options.method == kNoMethod)
            throw UsageError("--palette needs a method: --method none leaves the picture "
                             "unreduced");
    }
    if (HoldsVideoMemory(options.outputKind)) {
        // Video memory holds nothing but the working picture, so there is no choice to make:
        // the output is converted as with --working. --keep-size stays as asked; the run refuses
        // it unless the input already has the mode's working size.
        if (options.size == Size::Display)
            options.size = Size::Working;
        if (options.method == kNoMethod)
            throw UsageError(options.outputExtension
                + " holds palette indices: --method none leaves colours outside the palette; "
                  "name a method that reduces the picture to them, such as --method floyd, or "
                  "leave --method out for Atkinson");
    }
    if (options.tvcFps && options.outputKind != OutputKind::Cas)
        throw UsageError("--tvc-fps sets the frame rate of a clip for the TVC; name the output "
                         "*.cas, got '" + options.output + "'");
    if (options.outputExtension == ".gif" && options.method == kNoMethod)
        throw UsageError("a GIF holds at most 256 colours: --method none leaves the frames "
                         "unreduced; write .mkv, .avi or .mp4 instead");
    return options;
}

bool InputIsTvcFile(const std::string& input)
{
    return tvc::IsTvcInputExtension(platform::LowerExtension(input));
}

void CheckPaletteFitsMode(const Options& options)
{
    if (!options.palette)
        return;
    const size_t registers = options.mode->palette.size();
    if (registers >= size_t(kTvcColourCount))
        throw UsageError("--palette sets the registers of --mode 2 or 4; "
            + options.mode->QuotedCaption() + " shows all sixteen colours already");
    const PaletteRequest& p = *options.palette;
    if (p.kind == PaletteRequest::Kind::Registers && p.colours.size() != registers)
        throw UsageError("--palette " + p.text + " gives " + std::to_string(p.colours.size())
            + (p.colours.size() == 1 ? " register" : " registers") + ", but "
            + options.mode->QuotedCaption() + " has " + std::to_string(registers));
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
  --mode 2|4|16      TVC mode: "Graphics 2", "Graphics 4" or "Graphics 16" (default 16)
  --method M         conversion method (default Atkinson): an index 1-16, a name below in any
                     letter case, blanks, dashes, underscores and + left out as you like
                     (floyd-steinberg, FloydSteinberg), or none (the smoothed frame, unreduced)
  --working          write the working picture at TVC resolution (512/256/128 x 240)
  --keep-size        take the input itself as the working picture: no scaling, output at the
                     input's own size
  --frames A:B       frames A to B, counted from 0, both included; A: to the end; N one frame
                     (default: all). Times work too, each standing for the frame on show at
                     that time: seconds with an s (12.5s, 80s) or a clock time with a decimal
                     point (1:20.5, 1:02:03.0; 1:20 without one is frames 1 to 20) or
                     hours, minutes and seconds with or without one (00:00:05, 0:00:05.5),
                     alone or as a range (10s:12.5s, 1:20.5:, 0:10.0:0:12.5, 0:00:10:0:00:20).
                     The summary names the frames written, by number and by time
  --compare FRAME    one PNG: all sixteen methods on that frame in a 4 x 4 labelled grid,
                     and under them the frame unreduced (as --method none shows it); with
                     --palette best each method gets the registers best for it
  --steady           steady dithering for video: each frame keeps to the previous frame's
                     pattern where the picture has not changed, so still areas do not
                     shimmer; the first frame converts as without it
  --palette P        the palette registers of --mode 2 or 4 (default: black, white and in
                     "Graphics 4" blue, red), one per register, separated by commas: colour
                     numbers 0-15 as "Graphics 16" orders them, their names, #rrggbb for the
                     nearest of them, or register values such as 0x55 (the colours below;
                     0,15,9,12 and black,white,blue,green are both black, white, blue and
                     green); best: chosen for the picture, for a video one set for the
                     whole run, chosen on frames spread over it; best-per-scene: chosen anew
                     where the video cuts to another scene (--steady starts afresh there).
                     The summary prints the register values used
  --brightness N     before the capture: -100 ... 100 (default 0)
  --contrast N       -100 (flat grey) ... 100 (nearly black and white); default 0
  --saturation N     -100 (grey) ... 100 (twice the colour); default 0
  --gamma G          0.2 ... 5, above 1 lightens the darker tones (default 1)
  --aspect A         how a frame fills the TVC's 4:3 screen: stretch (default) fills it
                     whatever the frame's shape; fit keeps the frame's display aspect
                     (pixel shape included) with black bars; fill keeps it and crops the
                     overflow equally on both sides
  --last             convert every frame of the range but write only the last one: with
                     --steady, that frame as the window shows it after stepping from the
                     range's first frame (what the window's "Copy command line" gives)
  --tvc-fps R        a .cas clip's frame rate: every n-th frame is kept, n the whole
                     number nearest to the source's rate / R, for a longer clip; an n
                     past the range's frames keeps its first frame alone
  --threads N        convert N frames at once, each on a core (default: every core); the
                     output is the same for every N, 1 converts one frame after another.
                     At most 2 per core are used, and fewer when the frames in flight
                     (2 per thread and 2 more) would not fit half of the memory; a frame
                     too large to convert even alone is refused before any work.
                     With --steady each frame needs the one before, so frames are converted
                     one after another (reading and writing still run beside them)
  --quiet, -q        print nothing but errors: no progress display, no summary
  --progress         draw the progress line on standard error even when it is no terminal
                     (as carriage-return separated "frame N of M, R frames/s, T left")
  --help, -h         this text
  --version          the program's version

Methods:
)";
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
    text += R"(
Colours (--palette takes the number, the name or #rrggbb, which stands for the nearest):
)";
    // Two columns: the dim eight beside the bright eight.
    for (int colour = 0; colour < kTvcColourCount / 2; ++colour) {
        char line[96];
        const std::string_view dim = ColourName(colour), bright = ColourName(colour + 8);
        std::snprintf(line, sizeof line, "  %2d  %-13.*s %s      %2d  %-13.*s %s\n", colour,
            int(dim.size()), dim.data(), ColourHex(colour).c_str(), colour + 8, int(bright.size()),
            bright.data(), ColourHex(colour + 8).c_str());
        text += line;
    }
    text += R"(  (grey is dark-white; bright-black shows the same black as black)

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
