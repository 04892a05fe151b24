#pragma once
// Where the frames come from: a still picture (one frame) or a video, numbered as the video
// device numbers them.
#include "platform/picture_box.h"
#include "video_writer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace pelorin::cli {

class FrameSource {
public:
    virtual ~FrameSource() = default;
    virtual int64_t FrameCount() const = 0;
    // Frames per second; 25 for a still picture.
    virtual Rational FrameRate() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    // Shows frame `index` (0 ... FrameCount() − 1) in the host picture as the window's video
    // host shows it: the whole frame drawn to fill the box.
    virtual void ShowInHost(int64_t index, platform::PictureBox& host) = 0;
    // Frame `index` at its own size, Width() × Height(), into `picture`'s image.
    virtual void ReadOwnSize(int64_t index, platform::PictureBox& picture) = 0;
    // "picture" or "video", for messages.
    virtual const char* Kind() const = 0;
};

// Opens the file as a still picture when it is one, else as a video. Throws CliError (1) naming
// the file and what is wrong: missing, unreadable, no picture or video stream in it.
std::unique_ptr<FrameSource> OpenFrameSource(const std::string& path);

} // namespace pelorin::cli
