#include "frame_painter.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "av/ffmpeg_util.h"

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

    // Picture pixels [first, last) along one side.
    struct Span {
        int64_t first = 0;
        int64_t last = 0;
    };

    // Pixels one picture pixel reaches past its own for the bilinear filter, and the most a crop
    // start moves to stay on a plane's grid (whole bytes of a one-bit format).
    constexpr int64_t kFilterMargin = 1;
    constexpr int64_t kGridMargin = 7;

    // The picture's `side` pixels spread over a window side of `windowSide` at `offset`: those
    // drawn inside the surface's [0, surfaceSide), and `margin` more each way; all of them for a
    // window side the painter scales whole. Empty when none shows.
    Span Shown(
        int64_t offset, int64_t windowSide, int64_t surfaceSide, int64_t side, int64_t margin)
    {
        if (windowSide <= kMaxVideoSide)
            return { 0, side };
        const int64_t from = std::max<int64_t>(0, -offset);
        const int64_t to = std::min<int64_t>(windowSide, surfaceSide - offset);
        if (from >= to)
            return {};
        return { std::max<int64_t>(0, from * side / windowSide - margin),
            std::min<int64_t>(side, (to * side + windowSide - 1) / windowSide + margin) };
    }

    // Where picture pixels `pixels` of `side` lie in a window side of `windowSide`.
    Span Placed(Span pixels, int64_t windowSide, int64_t side)
    {
        return { pixels.first * windowSide / side, pixels.last * windowSide / side };
    }

    bool Oversized(const WindowRect& rect)
    {
        return rect.width > kMaxVideoSide || rect.height > kMaxVideoSide;
    }

} // namespace

bool Drawable(int uprightWidth, int uprightHeight, const WindowRect& rect, int surfaceWidth,
    int surfaceHeight)
{
    if (rect.width <= 0 || rect.height <= 0 || rect.width > kMaxWindowSide
        || rect.height > kMaxWindowSide)
        return false;
    if (!Oversized(rect) || uprightWidth <= 0 || uprightHeight <= 0)
        return true;
    const int64_t margin = kFilterMargin + kGridMargin;
    const Span xs = Shown(rect.x, rect.width, surfaceWidth, uprightWidth, margin);
    const Span ys = Shown(rect.y, rect.height, surfaceHeight, uprightHeight, margin);
    const Span px = Placed(xs, rect.width, uprightWidth);
    const Span py = Placed(ys, rect.height, uprightHeight);
    return px.last - px.first <= kMaxVideoSide && py.last - py.first <= kMaxVideoSide;
}

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
    if (rect.width <= 0 || rect.height <= 0)
        return false;
    if (Oversized(rect))
        return PaintShownPart(frame, surface, rect, turn);
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

bool FramePainter::PaintShownPart(const AVFrame& frame, platform::Surface& surface,
    const WindowRect& rect, const Orientation& turn)
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(AVPixelFormat(frame.format));
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_HWACCEL) || rect.width > kMaxWindowSide
        || rect.height > kMaxWindowSide || frame.width <= 0 || frame.height <= 0)
        return false;
    const int64_t storedWidth = frame.width, storedHeight = frame.height;
    const int64_t uprightWidth = turn.transpose ? storedHeight : storedWidth;
    const int64_t uprightHeight = turn.transpose ? storedWidth : storedHeight;
    Span xs = Shown(rect.x, rect.width, surface.width, uprightWidth, kFilterMargin);
    Span ys = Shown(rect.y, rect.height, surface.height, uprightHeight, kFilterMargin);
    if (xs.first >= xs.last || ys.first >= ys.last)
        return true; // nothing shows

    // The same pixels as stored (the turn maps stored pixels onto upright ones as Paint does),
    // the crop's start moved onto the grid of every plane.
    const auto stored = [&](Span& columns, Span& rows) {
        if (turn.transpose)
            std::swap(columns, rows);
        if (turn.flipX)
            columns = { storedWidth - columns.last, storedWidth - columns.first };
        if (turn.flipY)
            rows = { storedHeight - rows.last, storedHeight - rows.first };
    };
    Span columns = xs, rows = ys;
    stored(columns, rows);
    const bool bits = desc->flags & AV_PIX_FMT_FLAG_BITSTREAM;
    const int64_t columnGrid = bits ? 8 : int64_t(1) << desc->log2_chroma_w;
    const int64_t rowGrid = bits ? 1 : int64_t(1) << desc->log2_chroma_h;
    columns.first -= columns.first % columnGrid;
    rows.first -= rows.first % rowGrid;

    av::FramePtr cropped(av_frame_alloc());
    if (!cropped || av_frame_ref(cropped.get(), &frame) < 0)
        return false;
    if (bits) {
        // FFmpeg's cropping leaves the left and top of a one-bit picture alone.
        cropped->data[0] += rows.first * cropped->linesize[0] + columns.first / 8;
        cropped->width = int(columns.last - columns.first);
        cropped->height = int(rows.last - rows.first);
    } else {
        cropped->crop_left = size_t(columns.first);
        cropped->crop_right = size_t(storedWidth - columns.last);
        cropped->crop_top = size_t(rows.first);
        cropped->crop_bottom = size_t(storedHeight - rows.last);
        if (av_frame_apply_cropping(cropped.get(), AV_FRAME_CROP_UNALIGNED) < 0)
            return false;
    }

    // Back to upright pixels (the turn undone in reverse), and where they lie in the window.
    if (turn.flipX)
        columns = { storedWidth - columns.last, storedWidth - columns.first };
    if (turn.flipY)
        rows = { storedHeight - rows.last, storedHeight - rows.first };
    if (turn.transpose)
        std::swap(columns, rows);
    const Span px = Placed(columns, rect.width, uprightWidth);
    const Span py = Placed(rows, rect.height, uprightHeight);
    const WindowRect part { int(rect.x + px.first), int(rect.y + py.first), int(px.last - px.first),
        int(py.last - py.first) };
    if (part.width <= 0 || part.height <= 0 || Oversized(part))
        return false;
    return Paint(*cropped, surface, part, turn);
}

} // namespace pelorin::video
