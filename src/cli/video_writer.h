#pragma once
// Writes converted frames as a video file through the FFmpeg libraries, one output frame per
// frame slot at the source's frame rate:
//  - .mkv, .avi: FFV1, lossless, in the frames' own RGB;
//  - .mp4: H.264 from libx264, either lossless (quantiser 0, in RGB) or, with mp4Subsampled, in
//    the 4:2:0 YUV that every player takes, at a high quality; where libx264 is missing, MPEG-4
//    part 2 at its finest quantiser;
//  - .gif: an animated GIF over each frame's palette table (every pixel must be one of its
//    colours): the first frame's table is the file's own, a frame with another table carries it
//    along.
#include "pipeline/tvc_mode.h"
#include "platform/surface.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace pelorin::cli {

struct Rational {
    int num = 25;
    int den = 1;
};

struct VideoWriterOptions {
    std::string name; // the output as messages name it; empty: the path written to
    // .mp4 in 4:2:0: no colour is lost where every 2 x 2 block of pixels is one colour, as in
    // the display picture of the TVC modes.
    bool mp4Subsampled = false;
    // An open file to write instead of the path (the writer takes it over and closes it): the
    // container is written through it, seeks included, so the file is reached however its
    // name or folder changes meanwhile. -1: the path is opened.
    int fd = -1;
};

class VideoWriter {
public:
    // Writes to `path` (normally an AtomicOutput's temporary name) in the container that
    // `extension` (".mkv", ".avi", ".mp4", ".gif") names. Throws CliError (1) naming the codec
    // or container that failed. Its writes give way to a stop request (av::g_stopRequested).
    VideoWriter(const std::string& path, const std::string& extension, int width, int height,
        Rational frameRate, const TvcMode& mode, const VideoWriterOptions& options = {});
    ~VideoWriter();
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // The next frame; it must have the size given at construction. `palette`: the palette table
    // it was converted with (registers other than the mode's own), for a GIF; empty: the mode's.
    void Write(const platform::Surface& frame, std::span<const PaletteEntry> palette = {});
    // Drains the encoder and completes the file. Throws CliError (1) on a write error.
    void Finish();
    // "ffv1", "libx264rgb", ...
    std::string CodecName() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace pelorin::cli
