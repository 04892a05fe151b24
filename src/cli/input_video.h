#pragma once
// The input's frames, through the program's video player (video::VideoDevice) drawing into a
// host picture of the tool's own, so that a frame number means what it means to the device and
// a frame is drawn exactly as the window's video host shows it. Still pictures (PNG, PPM, BMP,
// JPEG) open the same way, as one frame at 25 frames per second. The TVC's own files (.kep,
// Pelorin's .cas, .vram) open as their frames, drawn in the colours their palette registers
// give, each TVC pixel a block of whole host pixels.
#include "convert/picture_adjust.h"
#include "options.h"
#include "pipeline/tvc_mode.h"
#include "platform/picture_box.h"
#include "session/palette_plan.h"
#include "tvc/tvc_source.h"
#include "video_writer.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace pelorin::video {
class VideoDevice;
}

namespace pelorin::cli {

class InputVideo : public session::FrameReader {
public:
    // With `ownSize` false the frames are drawn to fill a 512 × 240 host picture; with it true,
    // into a picture of the video's own size, without resampling. `vramMode` is the mode a .vram
    // input is read in (null: refused, as a .vram does not say). Throws CliError (1) naming the
    // file and what is wrong: it cannot be opened, holds no video stream, no decodable picture.
    // `aspect` other than Stretch draws the frame into a rectangle of its display aspect inside
    // the host picture (with `ownSize` it must be Stretch); non-neutral `adjustments` are applied
    // to every frame shown. `denoise` other than Off denoises the decoded frames (a TVC file is
    // not decoded: the caller refuses that).
    InputVideo(const std::string& path, bool ownSize, Aspect aspect = Aspect::Stretch,
        const PictureAdjustments& adjustments = {}, const TvcMode* vramMode = nullptr,
        video::Denoise denoise = video::Denoise::Off);
    ~InputVideo() override;
    InputVideo(const InputVideo&) = delete;
    InputVideo& operator=(const InputVideo&) = delete;

    int64_t FrameCount() const override;
    // The rectangle of the host picture the frame is drawn into for `aspect`, for a frame of
    // width × height pixels of aspect `pixelAspect` (width / height of one pixel): the whole
    // host for Stretch; for Fit the largest centred rectangle of the frame's display aspect inside
    // it; for Fill the smallest one covering it, overflowing equally on both sides. The host
    // stands for the TVC's 4:3 screen.
    struct Rect {
        int x, y, width, height;
        bool operator==(const Rect&) const = default;
    };
    static Rect HostRect(Aspect aspect, int width, int height, double pixelAspect);
    Rational FrameRate() const;
    // The video's own picture size.
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // The mode a TVC file (.kep, .cas, .vram) is in; null for any other input.
    const TvcMode* TvcFileMode() const { return m_tvcFile.mode; }
    // The colour numbers (0 ... 15) in a TVC file's palette registers, in register order, as
    // many as its mode has (none in "Graphics 16"); empty for any other input.
    std::vector<int> TvcFileColours() const { return m_tvcFile.colours; }

    // Where Show() draws (with adjustments, the adjusted copy of the frame).
    platform::PictureBox& Picture() override { return m_adjusted ? *m_adjusted : *m_picture; }
    // Draws frame `index` (0 ... FrameCount() − 1) into Picture(), replacing all of it. Throws
    // CliError (1) when the frame cannot be read.
    void Show(int64_t index) override;

private:
    std::string m_path;
    int m_width = 0;
    int m_height = 0;
    std::unique_ptr<platform::PictureBox> m_picture;
    PictureAdjustments m_adjustments;
    std::unique_ptr<platform::PictureBox> m_adjusted; // only with adjustments
    // Where the frame is drawn in the host picture when it does not fill it (--aspect fit or
    // fill); the adjustments change nothing outside it.
    std::optional<Rect> m_frameRect;
    // What a TVC file opened as the input carries; empty for any other input.
    tvc::TvcFileFacts m_tvcFile;
    std::unique_ptr<video::VideoDevice> m_device; // after the box: closed before it goes
};

} // namespace pelorin::cli
