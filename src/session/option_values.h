#pragma once
// The values the command lines take, read from their text: counts, numbers, frame ranges and
// times, palette registers, methods. Each reader returns empty or throws OptionError naming what
// it could not read; the option table (option_table.h) says which option takes which.
#include "recipe.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pelorin::session {

// A whole, non-negative decimal number that fits int64_t; nothing else (no sign, no blank).
std::optional<int64_t> ParseCount(std::string_view text);
// A whole decimal number with an optional sign, nothing else.
std::optional<int> ParseSigned(std::string_view text);
// A finite decimal number ("1.5", "-2", "1e1"), nothing else.
std::optional<double> ParseDecimal(const std::string& text);
// ASCII letters in lower case; other bytes as they are.
std::string Lower(std::string text);

// --frames: frame numbers A:B (first and last, counted from 0), A: or N, or times (12.5s,
// 1:20.5, 00:00:05, and ranges of them). Throws OptionError naming the text.
FrameRange ParseFrameRange(const std::string& text);

// --palette's list, separated by commas: colour numbers 0 ... 15 in "Graphics 16" order, their
// names (ColourName: "black", "dark-red", "white"), register values 0xNN, or #rrggbb for the
// nearest of the sixteen colours, which is then told in `nearest` ("0,15,9,12", "0x00,0x55",
// "black,white,blue,green", "#000000,#ff0000"). Throws OptionError naming the wrong item.
std::vector<int> ParsePaletteColours(
    const std::string& text, std::vector<std::string>* nearest = nullptr);
// "#910000": colour 0 ... 15 as RGB.
std::string ColourHex(int colour);

// The method for a command-line name: an index "1" ... "16", a caption as the window shows it in
// any letter case with blanks, dashes and "+" interchangeable ("treshold+noise", "Bayer-4x4",
// "sierra2 row"), the usual spellings "threshold", "burkes" and "stucki", or "none" (kNoMethod).
// Empty when the name matches nothing.
std::optional<int> ParseMethodName(std::string_view name);
// The name the command lines write for method `index`: its caption in lower case, blanks as
// dashes ("floyd-steinberg", "bayer-4x4"); "none" for an index the method table does not hold.
std::string MethodWord(int index);

} // namespace pelorin::session
