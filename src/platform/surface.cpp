#include "surface.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace platform {

Surface::Surface(int w, int h, uint32_t fill)
{
    if (w < 0 || h < 0 || w > kMaxSurfaceSide || h > kMaxSurfaceSide) {
        throw std::invalid_argument("surface size " + std::to_string(w) + " x " + std::to_string(h)
            + " is outside 0 ... " + std::to_string(kMaxSurfaceSide));
    }
    width = w;
    height = h;
    pixels.assign(size_t(w) * size_t(h), fill & 0x00FFFFFFu);
}

void Surface::Fill(uint32_t colour) { std::fill(pixels.begin(), pixels.end(), colour & 0x00FFFFFFu); }

} // namespace platform
