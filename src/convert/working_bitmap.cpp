#include "working_bitmap.h"

#include "platform/runtime_error.h"

#include <algorithm>

#include <limits>

namespace pelorin {

using namespace platform;

thread_local HDC WorkDC = nullptr;
thread_local HBITMAP WorkBitmap = nullptr;

int PictureWidth(const PictureBox& box) { return platform::RoundHalfEven(box.ScaleWidth()); }
int PictureHeight(const PictureBox& box) { return platform::RoundHalfEven(box.ScaleHeight()); }

BufferGeometry ComputeGeometry(int SW, int SH, int border)
{
    if (SW <= 0 || SH <= 0)
        throw RuntimeError(ErrorNumber::Overflow,
            "picture size " + std::to_string(SW) + " x " + std::to_string(SH) + " is not positive");
    BufferGeometry g;
    g.SW = SW;
    g.SH = SH;
    g.border = border;
    g.pad = (SW % 4 == 0) ? 0 : 4 - SW % 4;
    const int64_t W = int64_t(SW) + g.pad + (border == 8 ? 16 : 8);
    const int64_t H = int64_t(SH) + 2 * int64_t(border);
    if (W * H * 3 > std::numeric_limits<int32_t>::max())
        throw RuntimeError(ErrorNumber::Overflow,
            "buffer of " + std::to_string(W) + " x " + std::to_string(H) + " pixels is too large");
    g.W = int(W);
    g.H = int(H);
    return g;
}

WorkingBitmap::WorkingBitmap(
    ConversionContext& context, PictureBox& source, int border, bool padBorders)
    : m_context(context)
    , m_geometry(ComputeGeometry(PictureWidth(source), PictureHeight(source), border))
{
    const BufferGeometry& g = m_geometry;
    auto& h = m_info.bmiHeader;
    h.biSize = 40;
    h.biWidth = g.W;
    h.biHeight = border == 0 ? g.H : -g.H;
    h.biPlanes = 1;
    h.biBitCount = 24;
    h.biCompression = BI_RGB;
    // Not cleared: reading the bitmap fills every byte (the rest is cleared below if it can't).
    if (context.spareBuffer && context.spareBytes >= g.SizeBytes()) {
        m_buffer = std::move(context.spareBuffer);
        m_capacityBytes = context.spareBytes;
        context.spareBytes = 0;
    } else {
        m_buffer.reset(new uint8_t[g.SizeBytes()]);
        m_capacityBytes = g.SizeBytes();
    }

    WorkDC = CreateCompatibleDC(nullptr);
    WorkBitmap = CreateDIBSection(WorkDC, &m_info, DIB_RGB_COLORS, nullptr, nullptr, 0);
    SelectObject(WorkDC, WorkBitmap);
    if (border == 0)
        BitBlt(WorkDC, 0, 0, g.W, g.SH, source.hDC(), 0, 0, SRCCOPY);
    else
        BitBlt(WorkDC, border, border, g.SW, g.H, source.hDC(), 0, 0, SRCCOPY);
    if (padBorders)
        PadBorders(source, border);
    const int lines = std::max(0,
        GetDIBits(WorkDC, WorkBitmap, 0, unsigned(g.H), m_buffer.get(), &m_info, DIB_RGB_COLORS));
    std::fill(m_buffer.get() + size_t(lines) * g.StrideBytes(), m_buffer.get() + g.SizeBytes(), 0);
}

void WorkingBitmap::DrawTo(PictureBox& destination) const
{
    const BufferGeometry& g = m_geometry;
    const int b = g.border;
    SetDIBitsToDevice(destination.hDC(), 0, 0, unsigned(g.W), unsigned(g.H), b, -b, 0,
        unsigned(g.H), m_buffer.get(), &m_info, DIB_RGB_COLORS);
}

WorkingBitmap::~WorkingBitmap()
{
    DeleteDC(WorkDC);
    DeleteObject(WorkBitmap);
    WorkDC = nullptr;
    WorkBitmap = nullptr;
    if (m_capacityBytes > m_context.spareBytes) {
        m_context.spareBuffer = std::move(m_buffer);
        m_context.spareBytes = m_capacityBytes;
    }
}

void PadBorders(PictureBox& source, int b)
{
    const int SW = PictureWidth(source), SH = PictureHeight(source);
    for (int y = b - 1; y >= 0; --y)
        BitBlt(WorkDC, b, y, SW, 1, WorkDC, b, b, SRCCOPY);
    for (int y = SH + b; y <= SH + 2 * b - 1; ++y)
        BitBlt(WorkDC, b, y, SW, 1, WorkDC, b, SH + b - 1, SRCCOPY);
    for (int x = b - 1; x >= 0; --x)
        BitBlt(WorkDC, x, b, 1, SH, WorkDC, b, b, SRCCOPY);
    for (int x = SW + b; x <= SW + 2 * b - 1; ++x)
        BitBlt(WorkDC, x, b, 1, SH, WorkDC, SW + b - 1, b, SRCCOPY);
}

} // namespace pelorin
