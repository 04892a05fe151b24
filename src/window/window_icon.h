#pragma once
// The window's icon, drawn here: a small monitor whose screen shows a colour sweep broken into a
// TVC-style dither. Two 32 × 32 images, one limited to 16 colours and one to 256.
#include <QIcon>
#include <QImage>

namespace pelorin::window {

constexpr int kIconSide = 32;

// An 8-bit indexed 32 × 32 image whose colour table has exactly `colours` entries (16 or 256).
QImage MakeIconImage(int colours);

// Both images in one icon.
QIcon MakeWindowIcon();

} // namespace pelorin::window
