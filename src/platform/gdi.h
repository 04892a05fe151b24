#pragma once
// GDI-style drawing operations on surfaces, with the meanings the conversion code relies on:
//  - a device context (DC) draws into one surface: a picture box's image, or the DIB section
//    selected into a memory DC;
//  - BitBlt copies a rectangle; any part of the source rectangle outside the source surface
//    arrives as black, and the destination is clipped to its surface;
//  - StretchBlt scales; in HALFTONE mode each destination pixel is the area-weighted average of
//    exactly the source pixels it covers (an equal-size stretch is an exact copy), in every other
//    mode it takes the one source pixel under its centre;
//  - DIB sections are 24-bit; GetDIBits / SetDIBitsToDevice move 3-byte pixels (blue, green, red)
//    in rows padded to 4 bytes, bottom-up for a positive header height, top-down for a negative.
// Handles are plain pointers; a null or deleted handle makes an operation fail and change nothing.
#include "surface.h"

#include <cstdint>
#include <mutex>

namespace platform {

constexpr int BLACKONWHITE = 1;
constexpr int WHITEONBLACK = 2;
constexpr int COLORONCOLOR = 3;
constexpr int HALFTONE = 4;
constexpr uint32_t SRCCOPY = 0x00CC0020;
constexpr unsigned DIB_RGB_COLORS = 0;
constexpr uint32_t BI_RGB = 0;

struct BITMAPINFOHEADER {
    uint32_t biSize = 0;
    int32_t biWidth = 0;
    int32_t biHeight = 0;
    uint16_t biPlanes = 0;
    uint16_t biBitCount = 0;
    uint32_t biCompression = 0;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};

struct RGBQUAD {
    uint8_t rgbBlue = 0;
    uint8_t rgbGreen = 0;
    uint8_t rgbRed = 0;
    uint8_t rgbReserved = 0;
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
};

class Bitmap;

// A device context. A picture box owns one for its image; memory DCs come from
// CreateCompatibleDC. When `lock` is set, every operation that touches the surface holds it, so a
// video thread drawing into a picture box never races a reader.
class DeviceContext {
public:
    DeviceContext(Surface* surface, std::mutex* lock)
        : m_surface(surface)
        , m_lock(lock)
    {
    }
    Surface* GetSurface() const { return m_surface; }
    std::mutex* Lock() const { return m_lock; }
    int stretchMode = BLACKONWHITE;

private:
    friend Bitmap* SelectObject(DeviceContext*, Bitmap*);
    friend bool DeleteDC(DeviceContext*);
    friend bool DeleteObject(Bitmap*);
    Surface* m_surface;
    std::mutex* m_lock;
    Bitmap* m_selected = nullptr;
    bool m_memory = false;
    friend DeviceContext* CreateCompatibleDC(DeviceContext*);
};

using HDC = DeviceContext*;
using HBITMAP = Bitmap*;

// A DIB section: a 24-bit bitmap held as a surface, all black when created.
class Bitmap {
public:
    Bitmap(int width, int height, bool topDown)
        : surface(width, height, 0)
        , topDown(topDown)
    {
    }
    Surface surface;
    bool topDown;
    DeviceContext* selectedInto = nullptr;
};

HDC CreateCompatibleDC(HDC reference);
// Only uncompressed 24-bit headers are accepted; `bits` may be null (then it is not filled).
HBITMAP CreateDIBSection(HDC dc, const BITMAPINFO* info, unsigned usage, void** bits,
    void* section, uint32_t offset);
// Returns the bitmap that was selected before (null for a fresh memory DC).
HBITMAP SelectObject(HDC dc, HBITMAP bitmap);
bool BitBlt(HDC dst, int xDst, int yDst, int width, int height, HDC src, int xSrc, int ySrc,
    uint32_t rop);
bool StretchBlt(HDC dst, int xDst, int yDst, int wDst, int hDst, HDC src, int xSrc, int ySrc,
    int wSrc, int hSrc, uint32_t rop);
int GetStretchBltMode(HDC dc);
// Returns the previous mode, or 0 when `mode` is not one of the four modes (nothing changes).
int SetStretchBltMode(HDC dc, int mode);
// Copies scan lines [start, start + lines) of `bitmap` into `bits` in the row order of `info`
// (which must describe the bitmap's own width and height). Returns the lines copied.
int GetDIBits(HDC dc, HBITMAP bitmap, unsigned start, unsigned lines, void* bits,
    const BITMAPINFO* info, unsigned usage);
// Draws the (xSrc, ySrc, width, height) rectangle of a DIB at (xDst, yDst). As with the Windows
// call, ySrc counts from the DIB's last supplied scan line upwards, also for top-down DIBs: the
// destination's row yDst + y shows bottom-up DIB row ySrc + height − 1 − y. DIB pixels outside
// the supplied scan lines are not drawn. Returns the number of scan lines drawn.
int SetDIBitsToDevice(HDC dst, int xDst, int yDst, unsigned width, unsigned height, int xSrc,
    int ySrc, unsigned startScan, unsigned lines, const void* bits, const BITMAPINFO* info,
    unsigned usage);
bool DeleteDC(HDC dc);
// Fails (and keeps the bitmap) while it is selected into a live DC.
bool DeleteObject(HBITMAP bitmap);

// Bytes per 24-bit DIB row: 3 × width rounded up to a multiple of 4.
constexpr size_t DibStrideBytes(int width) { return (size_t(width) * 3 + 3) & ~size_t(3); }

// `count` 32-bit pixels as 3-byte pixels (blue, green, red), the unused byte dropped; the row
// layout of 24-bit DIBs and of the working buffer.
void PackRow24(const uint32_t* in, uint8_t* out, int count);

} // namespace platform
