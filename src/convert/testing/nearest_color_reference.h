#pragma once
// For tests: the nearest-colour search exactly as the results are defined, slow and plain.
#include "convert/palette.h"

#include <cstdint>
#include <span>

namespace pelorin {

// The plain linear scan: best distance 999999999, replaced only by a strictly smaller one,
// stopping at the first exact match. Throws platform::RuntimeError (subscript out of range) for
// an empty palette.
uint32_t NearestColorLinear(std::span<const PaletteEntry> palette, uint8_t red, uint8_t green,
    uint8_t blue);

} // namespace pelorin
