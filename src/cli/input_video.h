#pragma once
// The input's frames, through the program's video player (video::VideoDevice) drawing into a
// host picture of the tool's own, so that a frame number means what it means to the device and
// a frame is drawn exactly as the window's video host shows it. Still pictures (PNG, PPM, BMP,
// JPEG) open the same way, as one frame at 25 frames per second.
#include "platform/picture_box.h"
#include "video_writer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace pelorin::video {
class VideoDevice;
}

namespace pelorin::cli {

class InputVideo {
public:
    // With `ownSize` false the frames are drawn to fill a 512 × 240 host picture; with it true,
    // into a picture of the video's own size, without resampling. Throws CliError (1) naming the
    // file and what is wrong: it cannot be opened, holds no video stream, no decodable picture.
    InputVideo(const std::string& path, bool ownSize);
    ~InputVideo();
    InputVideo(const InputVideo&) = delete;
    InputVideo& operator=(const InputVideo&) = delete;

    int64_t FrameCount() const;
    Rational FrameRate() const;
    // The video's own picture size.
    int Width() const { return m_width; }
    int Height() const { return m_height; }

    // Where Show() draws.
    platform::PictureBox& Picture() { return *m_picture; }
    // Draws frame `index` (0 ... FrameCount() − 1) into Picture(), replacing all of it. Throws
    // CliError (1) when the frame cannot be read.
    void Show(int64_t index);

private:
    std::string m_path;
    int m_width = 0;
    int m_height = 0;
    std::unique_ptr<platform::PictureBox> m_picture;
    std::unique_ptr<video::VideoDevice> m_device; // after the box: closed before it goes
};

} // namespace pelorin::cli
