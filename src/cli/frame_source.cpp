#include "frame_source.h"

#include "av_helpers.h"
#include "cli_error.h"
#include "pipeline/frame_pipeline.h"
#include "video/video_device.h"

#include <algorithm>
#include <filesystem>

namespace pelorin::cli {

namespace {

    // Spare pixels to the right of a frame drawn at its own size. FFmpeg's unscaled YUV-to-RGB
    // conversion stores whole blocks of pixels and can run up to a block past the end of a row
    // whose width is not a multiple of the block; into a surface exactly as wide as the frame
    // that overran the surface's last row and corrupted the heap. A wider surface takes those
    // stores in its spare columns.
    constexpr int kDrawSlack = 64;

    // The size of the stream the device will pick (the same best video stream), read from the
    // container's headers, so the picture box can be made before the device draws into it.
    std::pair<int, int> ProbeSize(const std::string& path)
    {
        AVFormatContext* raw = nullptr;
        int rc = video::OpenInputFile(&raw, path);
        if (rc < 0)
            throw Failure("cannot open '" + path + "': " + AvErrorText(rc));
        InputPtr input(raw);
        if ((rc = avformat_find_stream_info(input.get(), nullptr)) < 0)
            throw Failure("cannot read the streams of '" + path + "': " + AvErrorText(rc));
        const int stream = av_find_best_stream(input.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (stream < 0)
            throw Failure("'" + path + "' has no video stream");
        const AVCodecParameters* par = input->streams[stream]->codecpar;
        return { par->width, par->height };
    }

} // namespace

FrameSource::FrameSource(const std::string& path, bool ownSize)
    : m_path(path)
{
    // An absolute path never reads as a protocol name, whatever colons the file name holds.
    const std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
    if (ownSize) {
        const auto [width, height] = ProbeSize(absolute);
        if (width < 1 || height < 1 || width > platform::kMaxSurfaceSide
            || height > platform::kMaxSurfaceSide)
            throw Failure("'" + path + "': picture size " + std::to_string(width) + " x "
                + std::to_string(height) + " cannot be kept");
        m_picture = std::make_unique<platform::PictureBox>(width, height);
        m_canvas = std::make_unique<platform::PictureBox>(width + kDrawSlack, height);
    } else {
        m_picture = std::make_unique<platform::PictureBox>(kHostWidth, kHostHeight);
    }
    std::string error;
    m_device
        = video::VideoDevice::Open(absolute, (m_canvas ? m_canvas : m_picture)->hWnd(), &error);
    if (!m_device) {
        // The device names the file by the path it was given; the user's own spelling reads better.
        if (const size_t at = error.find(absolute); at != std::string::npos)
            error.replace(at, absolute.size(), path);
        throw Failure(error.empty() ? "cannot open '" + path + "'" : error);
    }
    const video::WindowRect window = m_device->Window();
    m_width = window.width;
    m_height = window.height;
    if (ownSize && (m_width != m_picture->Image().width || m_height != m_picture->Image().height))
        throw Failure("'" + path + "': the video device reads " + std::to_string(m_width) + " x "
            + std::to_string(m_height) + " pictures where the headers say "
            + std::to_string(m_picture->Image().width) + " x "
            + std::to_string(m_picture->Image().height));
    // As the window's open does: the video's window fills the host picture.
    if (!ownSize && !m_device->PutWindow({ 0, 0, kHostWidth, kHostHeight }))
        throw Failure("'" + path + "': the video device cannot draw into the host picture");
}

FrameSource::~FrameSource() = default;

int64_t FrameSource::FrameCount() const { return m_device->Length(); }

Rational FrameSource::FrameRate() const
{
    return { m_device->RateNumerator(), m_device->RateDenominator() };
}

void FrameSource::Show(int64_t index)
{
    if (!m_device->Seek(index))
        throw Failure("cannot read frame " + std::to_string(index) + " of '" + m_path + "'");
    if (m_canvas) {
        const platform::Surface& from = m_canvas->Image();
        platform::Surface& to = m_picture->Image();
        for (int y = 0; y < to.height; ++y)
            std::copy_n(from.Row(y), to.width, to.Row(y));
    }
}

} // namespace pelorin::cli
