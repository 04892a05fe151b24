#include "tvc_colours.h"

#include <algorithm>
#include <cassert>
#include <cctype>
#include <cstdio>

namespace pelorin {

namespace {

    // clang-format off
    constexpr std::array<std::string_view, kTvcColourCount> kColourNames {
        "black", "dark-blue", "dark-red", "dark-magenta",
        "dark-green", "dark-cyan", "dark-yellow", "dark-white",
        "bright-black", "blue", "red", "magenta",
        "green", "cyan", "yellow", "white",
    };
    // clang-format on

} // namespace

std::optional<int> ColourOfRegister(uint8_t value)
{
    for (int colour = 0; colour < kTvcColourCount; ++colour)
        if (RegisterValue(colour) == value)
            return colour;
    return std::nullopt;
}

std::string RegisterText(std::span<const int> colours)
{
    std::string text;
    for (const int colour : colours) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X", unsigned(RegisterValue(colour)));
        if (!text.empty())
            text += ' ';
        text += hex;
    }
    return text;
}

std::optional<int> ColourOfEntry(const PaletteEntry& entry)
{
    const auto found = std::find(kTvcPalette16.begin(), kTvcPalette16.end(), entry);
    if (found == kTvcPalette16.end())
        return std::nullopt;
    return int(found - kTvcPalette16.begin());
}

PaletteEntry EntryOfRegister(uint8_t value)
{
    return EntryOfColour(ColourOfRegister(uint8_t(value & kRegisterColourMask)).value());
}

std::vector<PaletteEntry> PaletteOfColours(std::span<const int> colours)
{
    std::vector<PaletteEntry> entries;
    for (const int colour : colours)
        entries.push_back(kTvcPalette16.at(size_t(colour)));
    return entries;
}

std::string_view ColourName(int colour)
{
    assert(colour >= 0 && colour < kTvcColourCount);
    return kColourNames[size_t(colour)];
}

std::optional<int> ColourOfName(std::string_view name)
{
    std::string key;
    for (char c : name)
        key += c == '_' || c == ' ' ? '-' : char(std::tolower(static_cast<unsigned char>(c)));
    if (key == "grey" || key == "gray")
        return 7;
    for (int colour = 0; colour < kTvcColourCount; ++colour)
        if (kColourNames[size_t(colour)] == key)
            return colour;
    return std::nullopt;
}

int NearestColour(int red, int green, int blue)
{
    int best = 0, bestDistance = 0;
    for (int colour = 0; colour < kTvcColourCount; ++colour) {
        const PaletteEntry& e = kTvcPalette16[size_t(colour)];
        const int dr = red - e.Red, dg = green - e.Green, db = blue - e.Blue;
        const int distance = dr * dr + dg * dg + db * db;
        if (colour == 0 || distance < bestDistance) {
            best = colour;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace pelorin
