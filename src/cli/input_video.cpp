#include "input_video.h"

#include "cli_error.h"
#include "convert/tvc_colours.h"
#include "pipeline/frame_pipeline.h"
#include "video/picture_shape.h"
#include "video/video_device.h"

#include <filesystem>

namespace pelorin::cli {

InputVideo::Rect InputVideo::HostRect(Aspect aspect, int width, int height, double pixelAspect)
{
    const video::WindowRect r
        = video::AspectRect(aspect, kHostWidth, kHostHeight, width, height, pixelAspect);
    return { r.x, r.y, r.width, r.height };
}

InputVideo::InputVideo(const std::string& path, bool ownSize, Aspect aspect,
    const PictureAdjustments& adjustments, const TvcMode* vramMode, video::Denoise denoise)
    : m_path(path)
    , m_adjustments(adjustments)
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
    options.denoise = denoise;
    // The TVC's own files are pictures of the host's size, each TVC pixel a block of whole host
    // pixels; at their own size, their working pictures. The reader is given the file as the user
    // spelt it, which is the name its messages give.
    tvc::TvcOpenerSettings tvcSettings;
    tvcSettings.width = ownSize ? 0 : kHostWidth;
    tvcSettings.height = ownSize ? 0 : kHostHeight;
    tvcSettings.vramMode = [vramMode](const std::string&) { return vramMode; };
    const video::PictureSourceOpener tvcOpener
        = tvc::TvcPictureOpener(std::move(tvcSettings), &m_tvcFile);
    std::string error;
    m_device = video::VideoDevice::Open(absolute, m_picture.get(), &error, options,
        [&](const std::string&, std::string* why) { return tvcOpener(path, why); });
    if (!m_device) {
        // The device names the file by the path it was given; the user's own spelling reads better.
        if (const size_t at = error.find(absolute); at != std::string::npos)
            error.replace(at, absolute.size(), path);
        throw Failure(error.empty() ? "cannot open '" + path + "'" : error);
    }
    // A TVC file's own size is its working picture's, whatever size its frames are drawn at.
    const video::WindowRect window = m_device->Window();
    m_width = m_tvcFile.mode ? m_tvcFile.mode->workingWidth : window.width;
    m_height = m_tvcFile.mode ? m_tvcFile.mode->workingHeight : window.height;
    if (ownSize) {
        std::lock_guard lock(m_picture->Lock());
        m_picture->Image() = platform::Surface(m_width, m_height);
    }
    // As the window's open does: the video's window fills the host picture.
    if (!ownSize && !m_device->PutWindow({ 0, 0, kHostWidth, kHostHeight }))
        throw Failure("'" + path + "': the video device cannot draw into the host picture");
    // A TVC file is the TVC's screen itself: it fills the host picture whatever --aspect says.
    if (!ownSize && aspect != Aspect::Stretch && !m_tvcFile.mode) {
        // The device draws into its window rectangle alone; the rest of the host keeps the
        // box's black, the bars.
        const Rect r = HostRect(aspect, m_width, m_height, video::PixelAspect(absolute, m_width));
        {
            std::lock_guard lock(m_picture->Lock());
            m_picture->Image().Fill(0);
        }
        const video::WindowRect rect { r.x, r.y, r.width, r.height };
        m_frameRect = r;
        if (!m_device->PutWindow(rect))
            throw Failure("'" + path + "': --aspect " + (aspect == Aspect::Fill ? "fill" : "fit")
                + " cannot show this picture: " + m_device->WindowProblem(rect)
                + "; --aspect fit or stretch shows it");
    }
    if (!m_adjustments.IsNeutral())
        m_adjusted = std::make_unique<platform::PictureBox>(
            m_picture->Image().width, m_picture->Image().height);
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
        // A TVC file's reader names the frame and the file in its own words.
        if (m_tvcFile.mode && !problem.empty())
            throw Failure(problem);
        throw Failure("cannot read frame " + std::to_string(index) + " of '" + m_path + "'"
            + (problem.empty() ? "" : ": " + problem));
    }
    if (m_adjusted) {
        {
            std::lock_guard lock(m_picture->Lock());
            m_adjusted->Image() = m_picture->Image();
        }
        // The bars are no part of the frame: black stays black, whatever the adjustments.
        if (m_frameRect)
            AdjustPicture(m_adjusted->Image(), m_adjustments, m_frameRect->x, m_frameRect->y,
                m_frameRect->width, m_frameRect->height);
        else
            AdjustPicture(m_adjusted->Image(), m_adjustments);
    }
}

} // namespace pelorin::cli
