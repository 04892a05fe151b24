#pragma once
// A 5 × 7 pixel font for labels: digits, both letter cases and a little punctuation. Each glyph
// advances 6 pixels; a character the font lacks is drawn as an open box.
#include "platform/surface.h"

#include <string_view>

namespace pelorin::cli {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;
constexpr int kGlyphAdvance = 6;

// Width in pixels of `text` drawn at `scale` (no trailing gap).
int TextWidth(std::string_view text, int scale);

// Draws `text` with its top-left corner at (x, y), each font pixel a scale × scale block of
// `colour`. Pixels outside the surface are skipped.
void DrawText(
    platform::Surface& surface, int x, int y, std::string_view text, uint32_t colour, int scale);

} // namespace pelorin::cli
