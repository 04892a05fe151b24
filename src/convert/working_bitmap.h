#pragma once
// The working bitmap every conversion routine goes through: the source picture is copied into a
// 24-bit byte buffer laid out as an off-screen DIB section read back would be, worked on, and
// drawn back.
//
// Buffer layout. Pixel (x, y) is 3 bytes — blue, green, red — at offset 3·(y·W + x); rows are
// exactly 3·W bytes apart with no padding because W is always a multiple of 4.
//  - pad = (4 − SW mod 4) mod 4.
//  - Plain layout (border 0): W = SW + pad + 8, H = SH, rows bottom-up (row 0 is the picture's
//    bottom row); the picture is at columns 0 ... SW − 1, the columns right of it hold what the
//    copy found beyond the source's right edge (black).
//  - Bordered layout (border b = 4 or 8): W = SW + pad + 2·b, H = SH + 2·b, rows top-down (row 0
//    is the top border row); the picture is at columns b ... SW + b − 1, rows b ... SH + b − 1.
//    The border is black unless PadBorders fills it.
// Drawing back puts buffer pixel (x + b, y + b) at destination pixel (x, y): the picture lands
// exactly on the destination's visible area and the border is never shown.
#include "conversion_context.h"
#include "platform/gdi.h"
#include "platform/picture_box.h"

#include <cstdint>
#include <memory>

namespace pelorin {

// Handles of a DC and DIB section for PadBorders. WorkingBitmap writes its buffer straight from
// the picture and never touches them, so conversions on several threads share nothing here.
extern platform::HDC WorkDC;
extern platform::HBITMAP WorkBitmap;

struct BufferGeometry {
    int SW = 0; // picture width, pixels
    int SH = 0; // picture height, pixels
    int border = 0; // b: 0 for the plain layout
    int pad = 0;
    int W = 0; // buffer width, pixels (a multiple of 4)
    int H = 0; // buffer height, rows
    size_t SizeBytes() const { return size_t(3) * size_t(W) * size_t(H); }
    size_t StrideBytes() const { return size_t(3) * size_t(W); }
};

// The geometry for a SW × SH picture; border 0 (plain), 4 or 8. Throws platform::RuntimeError
// (overflow) when the sizes are not positive or the buffer would not fit 32-bit arithmetic.
BufferGeometry ComputeGeometry(int SW, int SH, int border);

// SW and SH of a picture box: its ScaleWidth and ScaleHeight rounded halves to even.
int PictureWidth(const platform::PictureBox& box);
int PictureHeight(const platform::PictureBox& box);

// One conversion call's working bitmap. The constructor fills the buffer with exactly the bytes of
// the DIB section route: a black 24-bit bitmap, the source picture copied in (the plain layout
// copies a W × SH rectangle to (0, 0); a bordered one copies SW × H to (b, b)), the border filled
// as PadBorders fills it when asked, the bitmap read in its row order. It writes them straight
// from the picture (under the picture's lock), with no 32-bit bitmap in between. The destructor
// hands the buffer's storage back to the context for the next conversion.
class WorkingBitmap {
public:
    WorkingBitmap(
        ConversionContext& context, platform::PictureBox& source, int border, bool padBorders);
    ~WorkingBitmap();
    WorkingBitmap(const WorkingBitmap&) = delete;
    WorkingBitmap& operator=(const WorkingBitmap&) = delete;

    const BufferGeometry& Geometry() const { return m_geometry; }
    uint8_t* Bytes() { return m_buffer.get(); }
    const uint8_t* Bytes() const { return m_buffer.get(); }
    // Draws the buffer onto the destination: one to one for the plain layout, from source origin
    // (b, −b) for a bordered one.
    void DrawTo(platform::PictureBox& destination) const;

    // Leaves the buffer as it stands in `storage` (of `capacityBytes`) without a copy, and takes
    // the storage held there, to hand on to the context for the next conversion: steady
    // dithering keeps a frame's buffer this way. Bytes() is that old storage afterwards (or
    // null): draw first.
    void LeaveFor(std::unique_ptr<uint8_t[]>& storage, size_t& capacityBytes);

private:
    ConversionContext& m_context;
    BufferGeometry m_geometry;
    platform::BITMAPINFO m_info {};
    std::unique_ptr<uint8_t[]> m_buffer;
    size_t m_capacityBytes = 0;
};

// Fills the border of a bitmap selected in WorkDC from the picture's outermost rows and
// columns: b rows above copy the top picture row, b rows below the bottom one, b columns left the
// first column, b columns right the last. Each copy spans only the picture's width or height, so
// the four b × b corners and the pad columns at the far right stay black.
void PadBorders(platform::PictureBox& source, int b);

} // namespace pelorin
