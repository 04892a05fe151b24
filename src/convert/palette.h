#pragma once
// The TVC palettes. `Palette` holds the colours of the mode in use: 2, 4 or 16 entries, filled
// by SetPalette2 / SetPalette4 / SetPalette16 from the machine's tables (tvc_colours.h:
// kTvcPalette2, kTvcPalette4, kTvcPalette16). Each fill replaces the whole table. `Palette` is
// the palette table of the program's conversion context (conversion_context.h).
#include "palette_entry.h"
#include "tvc_colours.h"

#include <cstddef>
#include <vector>

namespace pelorin {
using std::size_t;

extern std::vector<PaletteEntry>& Palette;

// Fill `Palette` with the machine's tables.
void SetPalette2();
void SetPalette4();
void SetPalette16();

} // namespace pelorin
