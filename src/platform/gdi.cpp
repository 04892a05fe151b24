#include "gdi.h"

#include <algorithm>
#include <cstring>
#include <optional>
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

    // Source pixel, black outside the surface.
    inline uint32_t Fetch(const Surface& s, int x, int y)
    {
        return s.Contains(x, y) ? s.At(x, y) : 0u;
    }

    // One destination pixel's share of source pixels along an axis: source index and the covered
    // length in units of 1/destLength of a source pixel.
    struct Tap {
        int source;
        uint32_t weight;
    };

    // For each destination index i, the source pixels j whose span [j, j+1) overlaps
    // [i·s/d, (i+1)·s/d), weighted by the overlap. Working in units of 1/d keeps it exact:
    // destination i spans [i·s, (i+1)·s), source j spans [j·d, (j+1)·d); weights sum to s.
    void BuildTaps(int s, int d, std::vector<uint32_t>& begin, std::vector<Tap>& taps)
    {
        begin.assign(size_t(d) + 1, 0);
        taps.clear();
        for (int i = 0; i < d; ++i) {
            begin[size_t(i)] = uint32_t(taps.size());
            const int64_t lo = int64_t(i) * s, hi = int64_t(i + 1) * s;
            for (int64_t j = lo / d; j * d < hi; ++j) {
                const int64_t a = std::max(lo, j * d), b = std::min(hi, (j + 1) * d);
                if (b > a)
                    taps.push_back({ int(j), uint32_t(b - a) });
            }
        }
        begin[size_t(d)] = uint32_t(taps.size());
    }

    void StretchAverage(Surface& dst, int xDst, int yDst, int wDst, int hDst, const Surface& src,
        int xSrc, int ySrc, int wSrc, int hSrc)
    {
        std::vector<uint32_t> xBegin, yBegin;
        std::vector<Tap> xTaps, yTaps;
        BuildTaps(wSrc, wDst, xBegin, xTaps);
        BuildTaps(hSrc, hDst, yBegin, yTaps);
        const uint64_t total = uint64_t(wSrc) * uint64_t(hSrc);
        const uint64_t half = total / 2;
        // Per destination row: weighted column sums for the row's source rows first, then the
        // horizontal taps over them. Both passes are exact integers, so the result is the exact
        // area average rounded half up.
        std::vector<uint64_t> column(size_t(wSrc) * 3);
        for (int y = 0; y < hDst; ++y) {
            const int dy = yDst + y;
            if (dy < 0 || dy >= dst.height)
                continue;
            std::fill(column.begin(), column.end(), 0);
            for (uint32_t t = yBegin[size_t(y)]; t < yBegin[size_t(y) + 1]; ++t) {
                const int sy = ySrc + yTaps[t].source;
                const uint64_t wy = yTaps[t].weight;
                if (sy < 0 || sy >= src.height)
                    continue; // black contributes nothing
                const uint32_t* row = src.Row(sy);
                for (int x = 0; x < wSrc; ++x) {
                    const int sx = xSrc + x;
                    if (sx < 0 || sx >= src.width)
                        continue;
                    const uint32_t c = row[sx];
                    column[size_t(x) * 3 + 0] += wy * (c & 0xFF);
                    column[size_t(x) * 3 + 1] += wy * ((c >> 8) & 0xFF);
                    column[size_t(x) * 3 + 2] += wy * ((c >> 16) & 0xFF);
                }
            }
            uint32_t* out = dst.Row(dy);
            for (int x = 0; x < wDst; ++x) {
                const int dx = xDst + x;
                if (dx < 0 || dx >= dst.width)
                    continue;
                uint64_t b = 0, g = 0, r = 0;
                for (uint32_t t = xBegin[size_t(x)]; t < xBegin[size_t(x) + 1]; ++t) {
                    const size_t k = size_t(xTaps[t].source) * 3;
                    const uint64_t wx = xTaps[t].weight;
                    b += wx * column[k];
                    g += wx * column[k + 1];
                    r += wx * column[k + 2];
                }
                out[dx] = Rgb(uint8_t((r + half) / total), uint8_t((g + half) / total),
                    uint8_t((b + half) / total));
            }
        }
    }

    void StretchSample(Surface& dst, int xDst, int yDst, int wDst, int hDst, const Surface& src,
        int xSrc, int ySrc, int wSrc, int hSrc)
    {
        std::vector<int> columns(static_cast<size_t>(wDst));
        for (int x = 0; x < wDst; ++x)
            columns[size_t(x)] = xSrc + int((int64_t(2 * x + 1) * wSrc) / (2 * int64_t(wDst)));
        for (int y = 0; y < hDst; ++y) {
            const int dy = yDst + y;
            if (dy < 0 || dy >= dst.height)
                continue;
            const int sy = ySrc + int((int64_t(2 * y + 1) * hSrc) / (2 * int64_t(hDst)));
            uint32_t* out = dst.Row(dy);
            for (int x = 0; x < wDst; ++x) {
                const int dx = xDst + x;
                if (dx >= 0 && dx < dst.width)
                    out[dx] = Fetch(src, columns[size_t(x)], sy);
            }
        }
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
    return new Bitmap(h.biWidth, topDown ? -h.biHeight : h.biHeight, topDown);
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
    // A copy within one surface (the border fill) may overlap; go through a temporary line.
    std::vector<uint32_t> line(static_cast<size_t>(width));
    for (int y = 0; y < height; ++y) {
        const int dy = yDst + y;
        if (dy < 0 || dy >= d.height)
            continue;
        for (int x = 0; x < width; ++x)
            line[size_t(x)] = Fetch(s, xSrc + x, ySrc + y);
        const int x0 = std::max(0, -xDst), x1 = std::min(width, d.width - xDst);
        if (x1 > x0)
            std::memcpy(d.Row(dy) + xDst + x0, line.data() + x0, size_t(x1 - x0) * 4);
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
        const uint32_t* row = s.Row(y);
        uint8_t* o = out + size_t(line) * stride;
        for (int x = 0; x < s.width; ++x) {
            const uint32_t c = row[x];
            o[3 * x] = uint8_t(c);
            o[3 * x + 1] = uint8_t(c >> 8);
            o[3 * x + 2] = uint8_t(c >> 16);
        }
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
        for (int x = 0; x < int(width); ++x) {
            const int sx = xSrc + x, dx = xDst + x;
            if (sx < 0 || sx >= dibWidth || dx < 0 || dx >= d.width)
                continue;
            const uint8_t* p = row + size_t(sx) * 3;
            out[dx] = Rgb(p[2], p[1], p[0]);
        }
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
    delete bitmap;
    return true;
}

} // namespace platform
