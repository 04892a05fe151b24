#pragma once
// DenoiseFilter: temporal denoising of decoded pictures by FFmpeg's hqdn3d filter, one picture
// out for each picture in, with no delay. Each picture is smoothed towards the ones before it
// where it differs from them by little (camera noise) and left alone where it differs by much
// (motion), so still parts of a scene stop changing from frame to frame.
//
// The filter's memory is the pictures fed since construction or Reset(): feed them in display
// order, and Reset() whenever the next picture does not follow the last one fed (a seek). A
// change of picture size or pixel format starts the memory afresh too. Formats hqdn3d does not
// take (RGB) are converted by the filter graph to a YUV format of the same chroma detail, and
// the picture comes back in that format. Not thread-safe.
#include "frame_decoder.h"

#include <memory>
#include <string>

struct AVFrame;

namespace pelorin::video {

class DenoiseFilter {
public:
    // `level` other than Denoise::Off.
    explicit DenoiseFilter(Denoise level);
    ~DenoiseFilter();
    DenoiseFilter(const DenoiseFilter&) = delete;
    DenoiseFilter& operator=(const DenoiseFilter&) = delete;

    // Whether this FFmpeg has the filter; when not, *error says so.
    static bool Available(std::string* error);

    // Replaces `frame`'s picture by its denoised one, keeping its timestamps and other
    // properties. False when FFmpeg fails, with the reason in *error; `frame` is then empty.
    bool Apply(AVFrame* frame, std::string* error);
    void Reset();

private:
    struct Graph;
    Denoise m_level;
    std::unique_ptr<Graph> m_graph;
};

} // namespace pelorin::video
