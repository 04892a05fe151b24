#pragma once
// The eight error-diffusion methods. Each is a conversion routine: it reads the source picture
// into a bordered working buffer (border 4), reduces every pixel to the nearest colour of the
// current `Palette`, pushing each channel's quantisation error onto the neighbours the scan has
// not reached yet, and draws the result on the destination. The palette must be loaded first.
// Source and destination may be the same picture box.
#include "platform/picture_box.h"

namespace pelorin {

void DitherAtkinson(platform::PictureBox& destination, platform::PictureBox& source);
void DitherFloyd(platform::PictureBox& destination, platform::PictureBox& source);
void DitherSierra(platform::PictureBox& destination, platform::PictureBox& source);
void DitherBurkes(platform::PictureBox& destination, platform::PictureBox& source);
void DitherStucki(platform::PictureBox& destination, platform::PictureBox& source);
void DitherJarvis(platform::PictureBox& destination, platform::PictureBox& source);
void DitherSierraLite(platform::PictureBox& destination, platform::PictureBox& source);
void DitherSierra2Row(platform::PictureBox& destination, platform::PictureBox& source);

} // namespace pelorin
