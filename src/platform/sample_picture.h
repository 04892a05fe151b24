#pragma once
#include "surface.h"

namespace platform {

// A photograph-like true-colour picture made by code: a sky-like vertical gradient, a hue sweep,
// a grey ramp, saturated and dark patches, soft shapes, fine line detail and a little grain.
// The same arguments always give the same picture. `phase` moves the shapes, for motion.
Surface MakeSamplePicture(int width, int height, int phase = 0);

} // namespace platform
