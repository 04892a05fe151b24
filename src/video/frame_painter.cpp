#include "frame_painter.h"

#include "frame_source.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>

namespace pelorin::video {

namespace {

    // Bytes blue, green, red, alpha: read as a little-endian 32-bit value that is 0xAARRGGBB,
    // so clearing the top byte leaves a surface pixel.
    constexpr AVPixelFormat kSurfaceFormat = AV_PIX_FMT_BGRA;
    constexpr uint32_t kColourMask = 0x00FFFFFFu;

    int SwsColorspace(int colorspace)
    {
        switch (colorspace) {
        case AVCOL_SPC_BT709:
            return SWS_CS_ITU709;
        case AVCOL_SPC_FCC:
            return SWS_CS_FCC;
        case AVCOL_SPC_SMPTE240M:
            return SWS_CS_SMPTE240M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL:
            return SWS_CS_BT2020;
        default:
            return SWS_CS_DEFAULT; // BT.601, also what unlabelled video of this era uses
        }
    }

    void ClearUnusedBytes(uint32_t* row, int count)
    {
        for (int i = 0; i < count; ++i)
            row[i] &= kColourMask;
    }

} // namespace

FramePainter::~FramePainter() { sws_freeContext(m_sws); }

bool FramePainter::Prepare(const AVFrame& frame, int width, int height)
{
    SwsContext* sws
        = sws_getCachedContext(m_sws, frame.width, frame.height, AVPixelFormat(frame.format), width,
            height, kSurfaceFormat, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws)
        return false;
    if (sws != m_sws) {
        m_sws = sws;
        m_colorspace = -1;
        m_range = -1;
    }
    // Labelled YUV video gets its own matrix and range. The full-range "yuvj" formats carry
    // their range in the format itself, which swscale has already taken into account.
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(frame.format));
    const bool yuv = desc && !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL))
        && desc->nb_components >= 3 && std::strncmp(desc->name, "yuvj", 4) != 0;
    if (yuv && (frame.colorspace != m_colorspace || frame.color_range != m_range)) {
        const int fullRange = frame.color_range == AVCOL_RANGE_JPEG ? 1 : 0;
        sws_setColorspaceDetails(m_sws, sws_getCoefficients(SwsColorspace(frame.colorspace)),
            fullRange, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        m_colorspace = frame.colorspace;
        m_range = frame.color_range;
    }
    return true;
}

bool FramePainter::Paint(const AVFrame& frame, platform::Surface& surface, const WindowRect& rect)
{
    if (rect.width <= 0 || rect.height <= 0 || rect.width > kMaxVideoSide
        || rect.height > kMaxVideoSide)
        return false;
    // The visible part, in surface coordinates.
    const int64_t left = std::max<int64_t>(rect.x, 0);
    const int64_t top = std::max<int64_t>(rect.y, 0);
    const int64_t right = std::min<int64_t>(int64_t(rect.x) + rect.width, surface.width);
    const int64_t bottom = std::min<int64_t>(int64_t(rect.y) + rect.height, surface.height);
    if (!Prepare(frame, rect.width, rect.height))
        return false;
    if (left >= right || top >= bottom)
        return true;

    if (left == rect.x && top == rect.y && right - left == rect.width
        && bottom - top == rect.height) {
        // The whole rectangle is inside: scale straight into the surface.
        uint8_t* dst[4] = { reinterpret_cast<uint8_t*>(surface.Row(rect.y) + rect.x) };
        int dstStride[4] = { surface.width * 4 };
        sws_scale(m_sws, frame.data, frame.linesize, 0, frame.height, dst, dstStride);
        for (int y = rect.y; y < rect.y + rect.height; ++y)
            ClearUnusedBytes(surface.Row(y) + rect.x, rect.width);
        return true;
    }
    // Partly outside: scale the whole rectangle aside and copy what shows.
    m_scratch.resize(size_t(rect.width) * size_t(rect.height));
    uint8_t* dst[4] = { reinterpret_cast<uint8_t*>(m_scratch.data()) };
    int dstStride[4] = { rect.width * 4 };
    sws_scale(m_sws, frame.data, frame.linesize, 0, frame.height, dst, dstStride);
    for (int64_t y = top; y < bottom; ++y) {
        const uint32_t* from
            = m_scratch.data() + size_t(y - rect.y) * size_t(rect.width) + size_t(left - rect.x);
        uint32_t* to = surface.Row(int(y)) + left;
        std::memcpy(to, from, size_t(right - left) * 4);
        ClearUnusedBytes(to, int(right - left));
    }
    return true;
}

} // namespace pelorin::video
