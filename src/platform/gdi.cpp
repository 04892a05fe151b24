#include "gdi.h"

#include "stretch.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

namespace platform {

namespace {

    // Holds the surface locks of one or two DCs for the length of an operation.
    class DcLock {
    public:
        DcLock(HDC a, HDC b = nullptr)
        {
            std::mutex* first = a ? a->Lock() : nullptr;
            std::mutex* second = b ? b->Lock() : nullptr;
            if (first == second)
                second = nullptr;
            if (first && second) {
                std::lock(*first, *second);
                m_a = std::unique_lock(*first, std::adopt_lock);
                m_b = std::unique_lock(*second, std::adopt_lock);
            } else if (first) {
                m_a = std::unique_lock(*first);
            } else if (second) {
                m_b = std::unique_lock(*second);
            }
        }

    private:
        std::unique_lock<std::mutex> m_a;
        std::unique_lock<std::mutex> m_b;
    };

    bool ValidDib(const BITMAPINFO* info)
    {
        if (!info)
            return false;
        const auto& h = info->bmiHeader;
        return h.biSize >= 40 && h.biPlanes == 1 && h.biBitCount == 24 && h.biCompression == BI_RGB
            && h.biWidth > 0 && h.biWidth <= kMaxSurfaceSide && h.biHeight != 0
            && h.biHeight >= -kMaxSurfaceSide && h.biHeight <= kMaxSurfaceSide;
    }

    // 3-byte blue, green, red pixels back to 32-bit ones (PackRow24 is the other way).
    void UnpackRow(const uint8_t* in, uint32_t* out, int count)
    {
        // Eight pixels from three 64-bit words, in registers (see PackRow24).
        int x = 0;
        for (; x + 8 <= count; x += 8, in += 24, out += 8) {
            uint64_t w[3];
            std::memcpy(&w[0], in, 8);
            std::memcpy(&w[1], in + 8, 8);
            std::memcpy(&w[2], in + 16, 8);
            out[0] = uint32_t(w[0]) & 0xFFFFFFu;
            out[1] = uint32_t(w[0] >> 24) & 0xFFFFFFu;
            out[2] = uint32_t(w[0] >> 48 | w[1] << 16) & 0xFFFFFFu;
            out[3] = uint32_t(w[1] >> 8) & 0xFFFFFFu;
            out[4] = uint32_t(w[1] >> 32) & 0xFFFFFFu;
            out[5] = uint32_t(w[1] >> 56 | w[2] << 8) & 0xFFFFFFu;
            out[6] = uint32_t(w[2] >> 16) & 0xFFFFFFu;
            out[7] = uint32_t(w[2] >> 40);
        }
        for (; x < count; ++x, in += 3, ++out)
            *out = Rgb(in[2], in[1], in[0]);
    }

    // One spare pixel store per thread, from the last deleted bitmap.
    thread_local std::vector<uint32_t> t_spareStorage;

    std::vector<uint32_t> TakeSpareStorage() { return std::exchange(t_spareStorage, {}); }

    void KeepSpareStorage(std::vector<uint32_t>&& storage)
    {
        if (storage.capacity() > t_spareStorage.capacity())
            t_spareStorage = std::move(storage);
    }

} // namespace

HDC CreateCompatibleDC(HDC)
{
    auto* dc = new DeviceContext(nullptr, nullptr);
    dc->m_memory = true;
    return dc;
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, unsigned usage, void** bits, void*, uint32_t)
{
    if (bits)
        *bits = nullptr;
    if (usage != DIB_RGB_COLORS || !ValidDib(info))
        return nullptr;
    const auto& h = info->bmiHeader;
    const bool topDown = h.biHeight < 0;
    auto* bitmap = new Bitmap(0, 0, topDown);
    // Every conversion makes and deletes one bitmap of the same size per frame: take the pixel
    // storage of the last deleted one rather than fresh pages from the system each time.
    bitmap->surface.pixels = TakeSpareStorage();
    bitmap->surface.width = h.biWidth;
    bitmap->surface.height = topDown ? -h.biHeight : h.biHeight;
    bitmap->surface.pixels.assign(size_t(h.biWidth) * size_t(bitmap->surface.height), 0u);
    return bitmap;
}

HBITMAP SelectObject(HDC dc, HBITMAP bitmap)
{
    if (!dc || !dc->m_memory || !bitmap)
        return nullptr;
    Bitmap* previous = dc->m_selected;
    if (previous)
        previous->selectedInto = nullptr;
    dc->m_selected = bitmap;
    dc->m_surface = &bitmap->surface;
    bitmap->selectedInto = dc;
    return previous;
}

bool BitBlt(HDC dst, int xDst, int yDst, int width, int height, HDC src, int xSrc, int ySrc,
    uint32_t rop)
{
    if (!dst || !src || rop != SRCCOPY || !dst->GetSurface() || !src->GetSurface())
        return false;
    if (width <= 0 || height <= 0)
        return true;
    DcLock lock(dst, src);
    Surface& d = *dst->GetSurface();
    const Surface& s = *src->GetSurface();
    // Destination columns that land inside the destination, and of those the ones whose source
    // column lies inside the source; the rest of the span is black.
    const int x0 = std::max(0, -xDst), x1 = std::min(width, d.width - xDst);
    if (x1 <= x0)
        return true;
    const int inside0 = std::clamp(-xSrc, x0, x1), inside1 = std::clamp(s.width - xSrc, inside0, x1);
    // A copy within one surface (the border fill) may overlap; go through a temporary line.
    std::vector<uint32_t> line;
    if (&d == &s)
        line.resize(static_cast<size_t>(x1 - x0));
    for (int y = 0; y < height; ++y) {
        const int dy = yDst + y, sy = ySrc + y;
        if (dy < 0 || dy >= d.height)
            continue;
        uint32_t* out = d.Row(dy) + xDst;
        if (sy < 0 || sy >= s.height) {
            std::fill(out + x0, out + x1, 0u);
            continue;
        }
        const uint32_t* in = s.Row(sy) + xSrc;
        if (!line.empty()) {
            std::copy(in + inside0, in + inside1, line.begin() + (inside0 - x0));
            std::copy(line.begin() + (inside0 - x0), line.begin() + (inside1 - x0), out + inside0);
        } else {
            std::memcpy(out + inside0, in + inside0, size_t(inside1 - inside0) * 4);
        }
        std::fill(out + x0, out + inside0, 0u);
        std::fill(out + inside1, out + x1, 0u);
    }
    return true;
}

bool StretchBlt(HDC dst, int xDst, int yDst, int wDst, int hDst, HDC src, int xSrc, int ySrc,
    int wSrc, int hSrc, uint32_t rop)
{
    if (!dst || !src || rop != SRCCOPY || !dst->GetSurface() || !src->GetSurface())
        return false;
    if (wDst <= 0 || hDst <= 0 || wSrc <= 0 || hSrc <= 0)
        return false;
    if (wDst > kMaxSurfaceSide || hDst > kMaxSurfaceSide || wSrc > kMaxSurfaceSide
        || hSrc > kMaxSurfaceSide)
        return false;
    if (wDst == wSrc && hDst == hSrc)
        return BitBlt(dst, xDst, yDst, wDst, hDst, src, xSrc, ySrc, SRCCOPY);
    DcLock lock(dst, src);
    Surface& d = *dst->GetSurface();
    const Surface& s = *src->GetSurface();
    if (&d == &s) {
        const Surface copy = s;
        if (dst->stretchMode == HALFTONE)
            StretchAverage(d, xDst, yDst, wDst, hDst, copy, xSrc, ySrc, wSrc, hSrc);
        else
            StretchSample(d, xDst, yDst, wDst, hDst, copy, xSrc, ySrc, wSrc, hSrc);
    } else if (dst->stretchMode == HALFTONE) {
        StretchAverage(d, xDst, yDst, wDst, hDst, s, xSrc, ySrc, wSrc, hSrc);
    } else {
        StretchSample(d, xDst, yDst, wDst, hDst, s, xSrc, ySrc, wSrc, hSrc);
    }
    return true;
}

int GetStretchBltMode(HDC dc) { return dc ? dc->stretchMode : 0; }

int SetStretchBltMode(HDC dc, int mode)
{
    if (!dc || mode < BLACKONWHITE || mode > HALFTONE)
        return 0;
    const int previous = dc->stretchMode;
    dc->stretchMode = mode;
    return previous;
}

int GetDIBits(HDC dc, HBITMAP bitmap, unsigned start, unsigned lines, void* bits,
    const BITMAPINFO* info, unsigned usage)
{
    if (!dc || !bitmap || !bits || usage != DIB_RGB_COLORS || !ValidDib(info))
        return 0;
    DcLock lock(dc);
    const Surface& s = bitmap->surface;
    const auto& h = info->bmiHeader;
    const bool topDown = h.biHeight < 0;
    if (h.biWidth != s.width || (topDown ? -h.biHeight : h.biHeight) != s.height)
        return 0;
    const size_t stride = DibStrideBytes(s.width);
    auto* out = static_cast<uint8_t*>(bits);
    int copied = 0;
    for (unsigned line = 0; line < lines; ++line) {
        const int64_t scan = int64_t(start) + line; // scan lines count in the header's row order
        if (scan >= s.height)
            break;
        const int y = topDown ? int(scan) : s.height - 1 - int(scan);
        uint8_t* o = out + size_t(line) * stride;
        PackRow24(s.Row(y), o, s.width);
        std::memset(o + size_t(s.width) * 3, 0, stride - size_t(s.width) * 3);
        ++copied;
    }
    return copied;
}

int SetDIBitsToDevice(HDC dst, int xDst, int yDst, unsigned width, unsigned height, int xSrc,
    int ySrc, unsigned startScan, unsigned lines, const void* bits, const BITMAPINFO* info,
    unsigned usage)
{
    if (!dst || !bits || usage != DIB_RGB_COLORS || !ValidDib(info) || !dst->GetSurface())
        return 0;
    const auto& h = info->bmiHeader;
    const int dibWidth = h.biWidth;
    const int dibHeight = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    const bool topDown = h.biHeight < 0;
    if (width > unsigned(kMaxSurfaceSide) || height > unsigned(kMaxSurfaceSide)
        || lines > unsigned(dibHeight))
        return 0;
    DcLock lock(dst);
    Surface& d = *dst->GetSurface();
    const size_t stride = DibStrideBytes(dibWidth);
    const auto* in = static_cast<const uint8_t*>(bits);
    // Scan lines are numbered bottom-up from 0; the supplied ones are
    // [startScan, startScan + lines). In the buffer, a bottom-up DIB stores scan line s at
    // buffer row s − startScan; a top-down DIB stores it at buffer row (H − 1 − s) − startScan.
    int drawn = 0;
    for (int y = 0; y < int(height); ++y) {
        const int dy = yDst + y;
        if (dy < 0 || dy >= d.height)
            continue;
        const int64_t scan = int64_t(ySrc) + int64_t(height) - 1 - y;
        int64_t bufferRow;
        if (topDown)
            bufferRow = int64_t(dibHeight) - 1 - scan - int64_t(startScan);
        else
            bufferRow = scan - int64_t(startScan);
        if (scan < 0 || scan >= dibHeight || bufferRow < 0 || bufferRow >= int64_t(lines))
            continue;
        const uint8_t* row = in + size_t(bufferRow) * stride;
        uint32_t* out = d.Row(dy);
        // x runs where both the DIB column and the destination column exist.
        const int x0 = std::max({ 0, -xSrc, -xDst });
        const int x1 = std::min({ int(width), dibWidth - xSrc, d.width - xDst });
        if (x1 > x0)
            UnpackRow(row + (size_t(xSrc) + size_t(x0)) * 3, out + xDst + x0, x1 - x0);
        ++drawn;
    }
    return drawn;
}

bool DeleteDC(HDC dc)
{
    if (!dc || !dc->m_memory)
        return false;
    if (dc->m_selected)
        dc->m_selected->selectedInto = nullptr;
    delete dc;
    return true;
}

bool DeleteObject(HBITMAP bitmap)
{
    if (!bitmap || bitmap->selectedInto)
        return false;
    KeepSpareStorage(std::move(bitmap->surface.pixels));
    delete bitmap;
    return true;
}


void PackRow24(const uint32_t* in, uint8_t* out, int count)
{
    // Eight pixels make three 64-bit words, built in registers: going through a small array on
    // the stack makes the compiler store it in 32-bit parts and load it back in 64-bit ones,
    // which the processor cannot forward and stalls on every time.
    int x = 0;
    for (; x + 8 <= count; x += 8, in += 8, out += 24) {
        uint64_t p[8];
        for (int i = 0; i < 8; ++i)
            p[i] = in[i] & 0xFFFFFFu;
        const uint64_t words[3] = { p[0] | p[1] << 24 | p[2] << 48,
            p[2] >> 16 | p[3] << 8 | p[4] << 32 | p[5] << 56,
            p[5] >> 8 | p[6] << 16 | p[7] << 40 };
        std::memcpy(out, &words[0], 8);
        std::memcpy(out + 8, &words[1], 8);
        std::memcpy(out + 16, &words[2], 8);
    }
    for (; x < count; ++x, ++in, out += 3) {
        out[0] = uint8_t(*in);
        out[1] = uint8_t(*in >> 8);
        out[2] = uint8_t(*in >> 16);
    }
}

} // namespace platform
