#pragma once
#include "platform/picture_box.h"

namespace pelorin {

// Copies the source's whole picture (SW × SH) into the rectangle (0, 0, width, height) of the
// destination. smoothing == 1 puts the destination's DC into HALFTONE (area averaging) first;
// any other value leaves its stretch mode as it is (the default mode takes single pixels).
void StretchPicture(platform::PictureBox& destination, platform::PictureBox& source, int width,
    int height, int smoothing);

} // namespace pelorin
