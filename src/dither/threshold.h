#pragma once
#include "platform/picture_box.h"

#include <cstdint>

namespace pelorin {

// "Treshold": every pixel becomes its nearest palette colour, no dithering (plain layout, every
// buffer pixel including the columns right of the picture). `level` is accepted for the
// method's calling convention and does not change the result.
void DitherThreshold(platform::PictureBox& destination, platform::PictureBox& source, uint8_t level);

} // namespace pelorin
