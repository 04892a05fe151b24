// MciCommand: the numbered operations, built as exact MCI command strings.
#include "mci.h"

#include "platform/runtime_error.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace pelorin {

namespace {

    constexpr unsigned kAnswerCapacity = 255;
    // Child-window style, written in decimal inside the open strings.
    constexpr uint32_t kChildWindowStyle = 0x40000000;

    std::atomic<uint32_t> g_waveOutVolume { 0xFFFFFFFFu };

    // The longest prefix of `text` that reads as a decimal number: an optional sign, digits
    // with an optional decimal point, an optional exponent. 0 when there is none.
    double ReadNumber(const std::string& text)
    {
        size_t i = 0;
        const size_t n = text.size();
        if (i < n && (text[i] == '+' || text[i] == '-'))
            ++i;
        size_t digits = 0;
        while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) {
            ++i;
            ++digits;
        }
        if (i < n && text[i] == '.') {
            ++i;
            while (i < n && std::isdigit(static_cast<unsigned char>(text[i]))) {
                ++i;
                ++digits;
            }
        }
        if (digits == 0)
            return 0.0;
        size_t end = i;
        // An exponent counts only when digits follow it: "2e" reads as 2.
        if (i < n && (text[i] == 'e' || text[i] == 'E')) {
            size_t j = i + 1;
            if (j < n && (text[j] == '+' || text[j] == '-'))
                ++j;
            const size_t expStart = j;
            while (j < n && std::isdigit(static_cast<unsigned char>(text[j])))
                ++j;
            if (j > expStart)
                end = j;
        }
        // strtod would also take "inf", "0x…" and locale forms; the prefix above excludes them.
        const std::string number = text.substr(text[0] == '+' ? 1 : 0, end - (text[0] == '+'));
        double value = 0.0;
        std::from_chars(number.data(), number.data() + number.size(), value);
        return value;
    }

    double NumberOf(const MciValue& value)
    {
        if (const auto* i = std::get_if<int64_t>(&value))
            return double(*i);
        if (const auto* d = std::get_if<double>(&value))
            return *d;
        if (const auto* s = std::get_if<std::string>(&value))
            return ReadNumber(*s);
        return 0.0;
    }

    // Decimal, no sign for non-negative values, no blanks; whole numbers without a fraction.
    std::string DecimalText(const MciValue& value)
    {
        if (const auto* i = std::get_if<int64_t>(&value))
            return std::to_string(*i);
        const double d = NumberOf(value);
        if (std::isfinite(d) && d == std::trunc(d) && std::fabs(d) < 9.2e18)
            return std::to_string(int64_t(d) + 0); // + 0: −0.0 is written "0"
        char text[32];
        const auto result = std::to_chars(text, text + sizeof text, d);
        return std::string(text, result.ptr);
    }

    void Send(const std::string& command, const video::PictureSourceOpener& pictures = {})
    {
        // Return codes are ignored by design: a failed operation simply changes nothing.
        mciSendStringA(command, nullptr, 0, 0, pictures);
    }

    std::string Status(const std::string& command)
    {
        std::string answer;
        mciSendStringA(command, &answer, kAnswerCapacity, 0);
        return answer;
    }

    void OpenInto(platform::PictureBox& parent, const std::string& openString,
        const video::PictureSourceOpener& pictures)
    {
        Send("close all");
        Send(openString, pictures);
        parent.SetScaleMode(platform::kScaleModePixel);
        // Sizes are whole pixels; rounding halves to even keeps the program's one rule.
        const auto width = int64_t(platform::RoundHalfEvenWhole(parent.ScaleWidth()));
        const auto height = int64_t(platform::RoundHalfEvenWhole(parent.ScaleHeight()));
        Send("put video1 window at 0 0 " + std::to_string(width) + " " + std::to_string(height));
    }

    // A file name as the element of an open string. The interpreter trims blanks around the
    // element and takes off one pair of enclosing quotes, so a name that begins or ends with a
    // blank or a quote is quoted to reach it whole; any other name goes as it is.
    std::string OpenElement(const std::string& path)
    {
        const auto special
            = [](char c) { return c == '"' || std::isspace(static_cast<unsigned char>(c)); };
        if (!path.empty() && (special(path.front()) || special(path.back())))
            return '"' + path + '"';
        return path;
    }

} // namespace

std::string ShortPathName(const std::string& fileName)
{
    if (fileName.empty())
        return {};
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::canonical(fileName, error);
    if (error)
        return {};
    return canonical.string();
}

uint32_t WaveOutVolume() { return g_waveOutVolume.load(); }

std::string MciCommand(int command, const std::string& fileName, platform::PictureBox* parent,
    const MciValue& value, const video::PictureSourceOpener& pictures)
{
    const std::string shortPath = ShortPathName(fileName);
    const std::string style = std::to_string(kChildWindowStyle);
    const auto operation = MciOperation(command);
    if ((operation == MciOperation::OpenAviVideo || operation == MciOperation::Open) && !parent)
        throw std::invalid_argument(
            "MciCommand " + std::to_string(command) + " needs a parent picture box");

    switch (operation) {
    case MciOperation::OpenAviVideo:
        OpenInto(*parent,
            "open " + OpenElement(shortPath) + " Type avivideo Alias video1 parent "
                + std::to_string(parent->hWnd()) + " Style " + style,
            pictures);
        break;
    case MciOperation::Play:
        Send("play video1");
        break;
    case MciOperation::Pause:
        Send("pause video1");
        break;
    case MciOperation::Resume:
        Send("resume video1");
        break;
    case MciOperation::Stop:
        Send("stop video1");
        break;
    case MciOperation::SeekToStart:
        Send("seek video1 to start");
        break;
    case MciOperation::SetVolume: {
        // Both channels get 2 × value; clamped, so a value past 32767 stays loud instead of
        // wrapping round to near silence.
        const double level = platform::RoundHalfEvenWhole(2.0 * NumberOf(value));
        const uint32_t channel = std::isnan(level) ? 0u : uint32_t(std::clamp(level, 0.0, 65535.0));
        g_waveOutVolume = channel | (channel << 16);
        break;
    }
    case MciOperation::SetAudio:
        Send(NumberOf(value) == 0.0 ? "set video1 audio all off" : "set video1 audio all on");
        break;
    case MciOperation::TimeFormatFrames:
        Send("set video1 time format frames");
        break;
    case MciOperation::TimeFormatMilliseconds:
        Send("set video1 time format ms");
        break;
    case MciOperation::Length:
        return Status("status video1 length");
    case MciOperation::Mode:
        return Status("status video1 mode");
    case MciOperation::Position:
        return Status("status video1 position");
    case MciOperation::SeekTo:
        Send("seek video1 to " + DecimalText(value) + " wait");
        break;
    case MciOperation::Close:
        Send("close video1");
        break;
    case MciOperation::Open:
        OpenInto(*parent,
            "open " + OpenElement(shortPath) + " Alias video1 parent "
                + std::to_string(parent->hWnd()) + " Style " + style,
            pictures);
        break;
    case MciOperation::OpenWaveAudio:
        Send("close all");
        Send("open " + shortPath + " type waveaudio alias video1 parent");
        break;
    default:
        break;
    }
    return {};
}

} // namespace pelorin
