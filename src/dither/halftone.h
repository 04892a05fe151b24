#pragma once
// The block halftone screens. Each cuts the working buffer into n × n blocks starting at the
// picture's top-left pixel, adds up each channel over a block and lights that many of the
// block's cells (255, the rest 0) in the order its order matrix gives. The palette is not
// consulted, so the frame pipeline follows them with MapToPalette. The border is filled from the
// picture's edges first; the grid runs one column and one row of blocks into the border whenever
// the picture's width or height is a multiple of n. Source and destination may be the same box.
#include "platform/picture_box.h"

namespace pelorin {

// 2 × 2 blocks; the cell of order k (1 ... 4) lights when the block's sum exceeds 204·k.
void DitherHalftone2x2(platform::PictureBox& destination, platform::PictureBox& source);
// 3 × 3 blocks; the cell of order k (1 ... 9) lights when the block's sum exceeds 229·k.
void DitherHalftone3x3(platform::PictureBox& destination, platform::PictureBox& source);
// 4 × 4 clustered dots on an 8-pixel border: level L = sum / 512 (0 ... 7), and the cell of order
// k (0 ... 15) lights when k / 2 < L, so cells come on two at a time and the two of order 14 and
// 15 never do.
void DitherNews4x4(platform::PictureBox& destination, platform::PictureBox& source);

} // namespace pelorin
