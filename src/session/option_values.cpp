#include "option_values.h"

#include "dither/method_table.h"
#include "convert/tvc_colours.h"
#include "pipeline/tvc_mode.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace pelorin::session {

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

namespace {

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
            throw OptionError(
                "--frames takes frame numbers (A:B, A: or N) or times (12.5s, 1:20.5, "
                "00:00:05, ranges such as 10s:12.5s or 0:10.0:0:12.5), got '"
                + text + "'");
        const FrameRange& range = readings.front();
        if (range.lastMicroseconds && *range.lastMicroseconds < range.firstMicroseconds)
            throw OptionError("--frames " + text + ": the last time comes before the first");
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
            return OptionError(
                "--frames takes A:B (first and last frame, counted from 0), A: or N, "
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
            throw OptionError("--frames " + text + ": the last frame comes before the first");
        return { *first, *last, false, 0, std::nullopt, text };
    }

} // namespace

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

FrameRange ParseFrameRange(const std::string& text) { return ParseFrames(text); }

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
                throw OptionError("--palette: '" + item + "' is no register value (0x00 ... 0x55)");
            colour = ColourOfRegister(uint8_t(value));
            if (!colour)
                throw OptionError("--palette: register value " + item
                    + " sets bits 1, 3, 5 or 7; a colour uses bits 0 (blue), 2 (red), 4 (green) "
                      "and 6 (bright), as 0x55 for white");
        } else if (lower.starts_with('#')) {
            unsigned rgb = 0;
            const auto [end, ec]
                = std::from_chars(lower.data() + 1, lower.data() + lower.size(), rgb, 16);
            if (lower.size() != 7 || ec != std::errc() || end != lower.data() + lower.size())
                throw OptionError("--palette: '" + item
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
                throw OptionError("--palette: '" + item
                    + "' is no colour; give colour numbers 0 ... 15, names such as black, "
                      "dark-red or white (--help lists them), #rrggbb or register values such "
                      "as 0x55, separated by commas, or best, best-per-scene or best-per-line");
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

std::string MethodWord(int index)
{
    const Method* method = FindMethod(index);
    if (!method)
        return "none";
    std::string word = Lower(std::string(method->caption));
    std::replace(word.begin(), word.end(), ' ', '-');
    return word;
}

} // namespace pelorin::session
