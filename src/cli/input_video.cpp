#include "input_video.h"

#include "cli_error.h"
#include "pipeline/frame_pipeline.h"
#include "video/video_device.h"

#include <filesystem>

namespace pelorin::cli {

InputVideo::InputVideo(const std::string& path, bool ownSize)
    : m_path(path)
{
    // An absolute path never reads as a protocol name, whatever colons the file name holds.
    const std::string absolute = std::filesystem::absolute(path).lexically_normal().string();
    // The device draws straight into the host picture the conversion reads; no window handle is
    // involved. At its own size the picture box takes the video's size once the device has read it;
    // until then the device's first drawing is clipped to a single pixel.
    m_picture = ownSize ? std::make_unique<platform::PictureBox>(1, 1)
                        : std::make_unique<platform::PictureBox>(kHostWidth, kHostHeight);
    // Every frame counted must be written as it is in the file: complete reading, so that a file
    // that ends early fails the run instead of repeating its last picture.
    video::DecoderOptions options;
    options.complete = true;
    // Frames are read in order, one after another.
    options.sequential = true;
    std::string error;
    m_device = video::VideoDevice::Open(absolute, m_picture.get(), &error, options);
    if (!m_device) {
        // The device names the file by the path it was given; the user's own spelling reads better.
        if (const size_t at = error.find(absolute); at != std::string::npos)
            error.replace(at, absolute.size(), path);
        throw Failure(error.empty() ? "cannot open '" + path + "'" : error);
    }
    const video::WindowRect window = m_device->Window();
    m_width = window.width;
    m_height = window.height;
    if (ownSize) {
        std::lock_guard lock(m_picture->Lock());
        m_picture->Image() = platform::Surface(m_width, m_height);
    }
    // As the window's open does: the video's window fills the host picture.
    if (!ownSize && !m_device->PutWindow({ 0, 0, kHostWidth, kHostHeight }))
        throw Failure("'" + path + "': the video device cannot draw into the host picture");
}

InputVideo::~InputVideo() = default;

int64_t InputVideo::FrameCount() const { return m_device->Length(); }

Rational InputVideo::FrameRate() const
{
    return { m_device->RateNumerator(), m_device->RateDenominator() };
}

void InputVideo::Show(int64_t index)
{
    if (!m_device->Seek(index)) {
        const std::string problem = m_device->Problem();
        throw Failure("cannot read frame " + std::to_string(index) + " of '" + m_path + "'"
            + (problem.empty() ? "" : ": " + problem));
    }
}

} // namespace pelorin::cli
