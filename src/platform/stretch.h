#pragma once
// StretchBlt's copies of a rectangle of `src` onto a rectangle of another size in `dst`. Internal
// to platform/. Both are called with sizes of 1 ... kMaxSurfaceSide and the surfaces already
// locked; either rectangle may reach outside its surface: source pixels outside are black, and
// destination pixels outside are left alone.
#include "surface.h"

namespace platform {

// HALFTONE: each destination pixel is the exact average of the source area it covers, rounded
// half up (sampled instead where that area exceeds 16 million pixels).
void StretchAverage(Surface& dst, int xDst, int yDst, int wDst, int hDst, const Surface& src,
    int xSrc, int ySrc, int wSrc, int hSrc);

// The other modes: each destination pixel takes the source pixel under its centre.
void StretchSample(Surface& dst, int xDst, int yDst, int wDst, int hDst, const Surface& src,
    int xSrc, int ySrc, int wSrc, int hSrc);

} // namespace platform
