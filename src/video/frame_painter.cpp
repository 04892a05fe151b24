#include "frame_painter.h"

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
    // Spare pixels at the end of each scaled row, and the row alignment: more than any block
    // swscale stores at once.
    constexpr size_t kBlockSlack = 64;

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

    // A colour label as the file stored it. Containers and bitstreams hand labels through
    // unchecked, so a broken file can put a number in the field that no enumerator has; reading
    // it as the enum type would be undefined, so its bytes are read as a plain integer instead.
    template <typename Enum> int StoredLabel(const Enum& field)
    {
        static_assert(sizeof(Enum) == sizeof(int));
        int value;
        std::memcpy(&value, &field, sizeof value);
        return value;
    }

    // A pixel 0xAARRGGBB with straight alpha, laid over black.
    uint32_t OverBlack(uint32_t pixel)
    {
        const uint32_t a = pixel >> 24;
        auto over = [a](uint32_t c) { return (c * a + 127) / 255; };
        return (over((pixel >> 16) & 0xFF) << 16) | (over((pixel >> 8) & 0xFF) << 8)
            | over(pixel & 0xFF);
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
        // A new context starts with swscale's defaults: BT.601, limited range.
        m_sws = sws;
        m_colorspace = SWS_CS_DEFAULT;
        m_range = 0;
    }
    // Labelled YUV video gets its own matrix and range. The full-range "yuvj" formats carry
    // their range in the format itself, which swscale has already taken into account.
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(frame.format));
    const bool yuv = desc && !(desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL))
        && desc->nb_components >= 3 && std::strncmp(desc->name, "yuvj", 4) != 0;
    const int colorspace = SwsColorspace(StoredLabel(frame.colorspace));
    const int range = StoredLabel(frame.color_range) == AVCOL_RANGE_JPEG ? 1 : 0;
    if (yuv && (colorspace != m_colorspace || range != m_range)) {
        // Only the source side changes; the rest stays as swscale set it up.
        int *inverse, *table;
        int srcRange, dstRange, brightness, contrast, saturation;
        if (sws_getColorspaceDetails(
                m_sws, &inverse, &srcRange, &table, &dstRange, &brightness, &contrast, &saturation)
            >= 0) {
            sws_setColorspaceDetails(m_sws, sws_getCoefficients(colorspace), range, table, dstRange,
                brightness, contrast, saturation);
        }
        m_colorspace = colorspace;
        m_range = range;
    }
    return true;
}

bool FramePainter::Paint(const AVFrame& frame, platform::Surface& surface, const WindowRect& rect,
    const Orientation& turn)
{
    if (rect.width <= 0 || rect.height <= 0 || rect.width > kMaxVideoSide
        || rect.height > kMaxVideoSide)
        return false;
    // The visible part, in surface coordinates.
    const int64_t left = std::max<int64_t>(rect.x, 0);
    const int64_t top = std::max<int64_t>(rect.y, 0);
    const int64_t right = std::min<int64_t>(int64_t(rect.x) + rect.width, surface.width);
    const int64_t bottom = std::min<int64_t>(int64_t(rect.y) + rect.height, surface.height);
    // The picture is scaled as stored, to the size that turned fills the rectangle.
    const int scaledWidth = turn.transpose ? rect.height : rect.width;
    const int scaledHeight = turn.transpose ? rect.width : rect.height;
    if (!Prepare(frame, scaledWidth, scaledHeight))
        return false;
    if (left >= right || top >= bottom)
        return true;

    // swscale stores whole blocks of pixels and runs up to a block past the end of a row whose
    // width is no multiple of the block; written straight into a surface that would overwrite
    // the pixels right of the window, or run past the surface's last row. So the picture is
    // scaled into rows with room to spare and the visible part copied across.
    const size_t stridePixels
        = (size_t(scaledWidth) + kBlockSlack - 1) / kBlockSlack * kBlockSlack + kBlockSlack;
    m_scratch.resize(stridePixels * (size_t(scaledHeight) + 1));
    uint8_t* dst[4] = { reinterpret_cast<uint8_t*>(m_scratch.data()) };
    int dstStride[4] = { int(stridePixels * 4) };
    sws_scale(m_sws, frame.data, frame.linesize, 0, frame.height, dst, dstStride);
    const size_t width = size_t(right - left);
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(frame.format));
    const bool alpha = desc && (desc->flags & AV_PIX_FMT_FLAG_ALPHA);
    if (turn == Orientation {} && !alpha) {
        for (int64_t y = top; y < bottom; ++y) {
            const uint32_t* from
                = m_scratch.data() + size_t(y - rect.y) * stridePixels + size_t(left - rect.x);
            uint32_t* to = surface.Row(int(y)) + left;
            for (size_t i = 0; i < width; ++i)
                to[i] = from[i] & kColourMask;
        }
        return true;
    }
    for (int64_t y = top; y < bottom; ++y) {
        uint32_t* to = surface.Row(int(y)) + left;
        for (int64_t x = left; x < right; ++x) {
            int64_t u = x - rect.x;
            int64_t v = y - rect.y;
            if (turn.transpose)
                std::swap(u, v);
            if (turn.flipX)
                u = scaledWidth - 1 - u;
            if (turn.flipY)
                v = scaledHeight - 1 - v;
            const uint32_t pixel = m_scratch[size_t(v) * stridePixels + size_t(u)];
            to[x - left] = alpha ? OverBlack(pixel) : pixel & kColourMask;
        }
    }
    return true;
}

} // namespace pelorin::video
