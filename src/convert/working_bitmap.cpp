#include "working_bitmap.h"

#include "platform/runtime_error.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <mutex>

namespace pelorin {

using namespace platform;

HDC WorkDC = nullptr;
HBITMAP WorkBitmap = nullptr;

namespace {
    void RepeatPixel(uint32_t colour, uint8_t* out, int count)
    {
        for (int x = 0; x < count; ++x, out += 3) {
            out[0] = uint8_t(colour);
            out[1] = uint8_t(colour >> 8);
            out[2] = uint8_t(colour >> 16);
        }
    }

    // The buffer's bytes, written straight from the picture. They are what the 24-bit DIB
    // section route gives (a fresh, black bitmap; the picture copied in; the border filled as
    // PadBorders fills it; the bitmap read in its own row order), without the 32-bit bitmap in
    // between.
    void FillBuffer(const Surface& picture, const BufferGeometry& g, bool padBorders, uint8_t* out)
    {
        const int SW = g.SW, SH = g.SH, b = g.border;
        const size_t stride = g.StrideBytes();
        if (b == 0) {
            // Bottom-up; the columns right of the picture are black.
            for (int r = 0; r < g.H; ++r) {
                uint8_t* row = out + size_t(r) * stride;
                PackRow24(picture.Row(SH - 1 - r), row, SW);
                std::memset(row + 3 * size_t(SW), 0, stride - 3 * size_t(SW));
            }
            return;
        }
        const size_t left = 3 * size_t(b), right = stride - left - 3 * size_t(SW);
        for (int y = 0; y < g.H; ++y) {
            uint8_t* row = out + size_t(y) * stride;
            const int py = y - b;
            if (py >= 0 && py < SH) {
                const uint32_t* in = picture.Row(py);
                if (padBorders) {
                    RepeatPixel(in[0], row, b);
                    PackRow24(in, row + left, SW);
                    RepeatPixel(in[SW - 1], row + left + 3 * size_t(SW), b);
                    std::memset(row + 2 * left + 3 * size_t(SW), 0, right - left);
                } else {
                    std::memset(row, 0, left);
                    PackRow24(in, row + left, SW);
                    std::memset(row + left + 3 * size_t(SW), 0, right);
                }
            } else if (padBorders) {
                // Border rows repeat the nearest picture row over the picture's columns only.
                std::memset(row, 0, left);
                PackRow24(picture.Row(py < 0 ? 0 : SH - 1), row + left, SW);
                std::memset(row + left + 3 * size_t(SW), 0, right);
            } else {
                std::memset(row, 0, stride);
            }
        }
    }
} // namespace

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
    // Not cleared: FillBuffer writes every byte.
    if (context.spareBuffer && context.spareBytes >= g.SizeBytes()) {
        m_buffer = std::move(context.spareBuffer);
        m_capacityBytes = context.spareBytes;
        context.spareBytes = 0;
    } else {
        m_buffer.reset(new uint8_t[g.SizeBytes()]);
        m_capacityBytes = g.SizeBytes();
    }
    std::lock_guard lock(source.Lock());
    FillBuffer(source.Image(), g, padBorders, m_buffer.get());
}

void WorkingBitmap::DrawTo(PictureBox& destination) const
{
    const BufferGeometry& g = m_geometry;
    const int b = g.border;
    SetDIBitsToDevice(destination.hDC(), 0, 0, unsigned(g.W), unsigned(g.H), b, -b, 0,
        unsigned(g.H), m_buffer.get(), &m_info, DIB_RGB_COLORS);
}

void WorkingBitmap::LeaveFor(std::unique_ptr<uint8_t[]>& storage, size_t& capacityBytes)
{
    std::swap(m_buffer, storage);
    std::swap(m_capacityBytes, capacityBytes);
}

WorkingBitmap::~WorkingBitmap()
{
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
