#pragma once
// The Bayer ordered-dithering methods. Each compares every channel byte of the picture with one
// entry of a threshold matrix tiled over the working buffer (border 4, not filled) and sets the
// byte to 0 or 255; the palette is not consulted, so the frame pipeline follows them with
// MapToPalette. Source and destination may be the same picture box.
#include "platform/picture_box.h"

namespace pelorin {

// 2 × 2 thresholds 63, 127 / 191, 0; a byte becomes 255 when above its threshold. Covers the
// picture plus one border column to its right and one border row below it.
void DitherBayer2x2(platform::PictureBox& destination, platform::PictureBox& source);
// 4 × 4 thresholds 16 ... 255; a byte becomes 255 when at or above its threshold. Covers the
// picture plus the four border rows above it and the four border columns to its left.
void DitherBayer4x4(platform::PictureBox& destination, platform::PictureBox& source);
// The 8 × 8 Bayer index matrix (0 ... 63) against the byte divided by 4 (rounded, halves to
// even); 255 when above. Covers the same stretch as DitherBayer4x4.
void DitherBayer8x8(platform::PictureBox& destination, platform::PictureBox& source);

} // namespace pelorin
