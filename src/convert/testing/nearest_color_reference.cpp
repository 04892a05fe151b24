#include "nearest_color_reference.h"

#include "platform/runtime_error.h"

namespace pelorin {

uint32_t NearestColorLinear(std::span<const PaletteEntry> palette, uint8_t red, uint8_t green,
    uint8_t blue)
{
    int best = 999999999;
    size_t bestIndex = 0;
    for (size_t i = 0; i < palette.size(); ++i) {
        const int dr = int(palette[i].Red) - red, dg = int(palette[i].Green) - green,
                  db = int(palette[i].Blue) - blue;
        const int d = dr * dr + dg * dg + db * db;
        if (d < best) {
            if (d == 0)
                return PackEntry(palette[i]);
            best = d;
            bestIndex = i;
        }
    }
    if (bestIndex >= palette.size())
        throw platform::RuntimeError(platform::ErrorNumber::SubscriptOutOfRange, "palette is empty");
    return PackEntry(palette[bestIndex]);
}

} // namespace pelorin
