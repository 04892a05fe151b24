#pragma once
// Writes converted frames as a video file through the FFmpeg libraries, one output frame per
// frame slot at the source's frame rate:
//  - .mkv, .avi: FFV1, lossless, in the frames' own RGB;
//  - .mp4: H.264 from libx264 at quantiser 0 in RGB (lossless); where libx264 is missing, MPEG-4
//    part 2 at its finest quantiser;
//  - .gif: an animated GIF over the mode's palette (every pixel must be a palette colour).
#include "pipeline/tvc_mode.h"
#include "platform/surface.h"

#include <cstdint>
#include <memory>
#include <string>

namespace pelorin::cli {

struct Rational {
    int num = 25;
    int den = 1;
};

class VideoWriter {
public:
    // Writes to `path` (normally an AtomicOutput's temporary name) in the container that
    // `extension` (".mkv", ".avi", ".mp4", ".gif") names. Throws CliError (1) naming the codec
    // or container that failed.
    VideoWriter(const std::string& path, const std::string& extension, int width, int height,
        Rational frameRate, const TvcMode& mode);
    ~VideoWriter();
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // The next frame; it must have the size given at construction.
    void Write(const platform::Surface& frame);
    // Drains the encoder and completes the file. Throws CliError (1) on a write error.
    void Finish();
    // "ffv1", "libx264rgb", ...
    std::string CodecName() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace pelorin::cli
