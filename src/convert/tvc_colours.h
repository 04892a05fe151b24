#pragma once
// The TVC's colours and palette registers in one place: how the machine numbers its sixteen
// colours, how a palette register holds one, how Pelorin shows each, their names, and the
// colours each mode's registers hold by default.
//
// It lives in convert/ rather than beside the machine's files in tvc/ because the palettes every
// conversion loads (palette.h) are made from it, and everything else that names a colour or a
// register — pipeline/, tvc/, cli/, window/ — lies above convert/, while tvc/ itself lies above
// pipeline/.
//
// A colour is a number 0 ... 15 with bright, green, red, blue in bits 3 ... 0: what a
// "Graphics 16" pixel holds, and its index in kTvcPalette16. A palette register holds the same
// four bits spread out as 0 I 0 G 0 R 0 B — blue in bit 0, red in bit 2, green in bit 4, bright
// in bit 6, as the right-hand pixel of a "Graphics 16" video-memory byte holds them — so white
// (15) is 55h; bits 7, 5, 3 and 1 show nothing. Pelorin shows a lit channel at 145 when dim and
// 255 when bright. Colour 8, bright black, looks like colour 0; 0 is the black the default
// palettes use.
#include "palette_entry.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin {

constexpr int kTvcColourCount = 16;

// The bits of a colour number.
constexpr int kColourBlue = 1;
constexpr int kColourRed = 2;
constexpr int kColourGreen = 4;
constexpr int kColourBright = 8;

// The register bit of each colour bit, blue, red, green, bright; the other bits show nothing.
constexpr std::array<int, 4> kRegisterBits { 0, 2, 4, 6 };
constexpr uint8_t kRegisterColourMask = 0x55;

// A lit channel as Pelorin shows it. The TVC's dim level is 145, not half of 255.
constexpr uint8_t kTvcDimLevel = 145;
constexpr uint8_t kTvcBrightLevel = 255;

// The register value of colour 0 ... 15.
constexpr uint8_t RegisterValue(int colour)
{
    uint8_t value = 0;
    for (size_t bit = 0; bit < kRegisterBits.size(); ++bit)
        if (colour & (1 << bit))
            value = uint8_t(value | (1u << kRegisterBits[bit]));
    return value;
}
// The colour a register value stands for; empty for a value with any of bits 7, 5, 3, 1 set.
std::optional<int> ColourOfRegister(uint8_t value);
// "0x00 0x55 0x41 0x44": the register values of `colours`, in register order.
std::string RegisterText(std::span<const int> colours);

// How Pelorin shows colour 0 ... 15.
constexpr PaletteEntry EntryOfColour(int colour)
{
    const uint8_t level = (colour & kColourBright) ? kTvcBrightLevel : kTvcDimLevel;
    PaletteEntry e;
    e.Red = (colour & kColourRed) ? level : 0;
    e.Green = (colour & kColourGreen) ? level : 0;
    e.Blue = (colour & kColourBlue) ? level : 0;
    return e;
}
// The colour an entry shows, black as 0; empty for any entry that is none of the sixteen.
std::optional<int> ColourOfEntry(const PaletteEntry& entry);
// How Pelorin shows a register value, its bits 7, 5, 3 and 1 ignored as the machine ignores
// them: what a register read from a file shows.
PaletteEntry EntryOfRegister(uint8_t value);
// The palette table for registers holding `colours` (each 0 ... 15), in register order.
std::vector<PaletteEntry> PaletteOfColours(std::span<const int> colours);

// The colours' names, the words --palette takes and the summaries print: the bright eight as
// "black", "blue", "red", "magenta", "green", "cyan", "yellow", "white" (15), the dim eight as
// "dark-blue" ... "dark-white" (7). Black is colour 0; 8 shows the same black and is named
// "bright-black". `colour` must be 0 ... 15.
std::string_view ColourName(int colour);
// The colour a name stands for, in any letter case, "_" or a blank for the dash, "grey" and
// "gray" for "dark-white"; empty for any other word.
std::optional<int> ColourOfName(std::string_view name);
// The colour nearest to red, green, blue (0 ... 255 each) by the squared distance in RGB over
// kTvcPalette16; of equals the lowest number, so #000000 is 0, not 8.
int NearestColour(int red, int green, int blue);

// The colours each mode's registers hold unless the user chooses others, in register order
// (the mode table, pipeline/tvc_mode.h, hands them out by mode: DefaultColours).
inline constexpr std::array<int, 2> kDefaultColours2 { 0, 15 }; // black, white
inline constexpr std::array<int, 4> kDefaultColours4 { 0, 15, 9, 10 }; // black, white, blue, red

namespace colour_detail {
    template <size_t N> constexpr std::array<PaletteEntry, N> EntriesOf(std::array<int, N> colours)
    {
        std::array<PaletteEntry, N> entries {};
        for (size_t i = 0; i < N; ++i)
            entries[i] = EntryOfColour(colours[i]);
        return entries;
    }
    constexpr std::array<int, kTvcColourCount> EveryColour()
    {
        std::array<int, kTvcColourCount> colours {};
        for (int i = 0; i < kTvcColourCount; ++i)
            colours[size_t(i)] = i;
        return colours;
    }
} // namespace colour_detail

// The palettes the modes load: "Graphics 2" black, white; "Graphics 4" black, white, blue, red;
// "Graphics 16" every colour at its number.
inline constexpr std::array<PaletteEntry, 2> kTvcPalette2
    = colour_detail::EntriesOf(kDefaultColours2);
inline constexpr std::array<PaletteEntry, 4> kTvcPalette4
    = colour_detail::EntriesOf(kDefaultColours4);
inline constexpr std::array<PaletteEntry, kTvcColourCount> kTvcPalette16
    = colour_detail::EntriesOf(colour_detail::EveryColour());

} // namespace pelorin
