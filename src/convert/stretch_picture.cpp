#include "stretch_picture.h"

#include "working_bitmap.h"

namespace pelorin {

using namespace platform;

void StretchPicture(PictureBox& destination, PictureBox& source, int width, int height,
    int smoothing)
{
    HDC dc = destination.hDC();
    if (smoothing == 1) {
        if (GetStretchBltMode(dc) != HALFTONE)
            SetStretchBltMode(dc, HALFTONE);
    } else if (GetStretchBltMode(dc) != 0) {
        // Asks for mode 0, which is no stretch mode: refused, and the destination keeps its own.
        SetStretchBltMode(dc, 0);
    }
    const int SW = PictureWidth(source), SH = PictureHeight(source);
    StretchBlt(dc, 0, 0, width, height, source.hDC(), 0, 0, SW, SH, SRCCOPY);
}

} // namespace pelorin
