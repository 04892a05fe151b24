#pragma once
// PictureSource: pictures the video device shows as a video's slots without FFmpeg decoding
// them — a file of another kind whose pictures a module above this one knows how to make (the
// TVC's own files, tvc/tvc_source.h). The device treats it like any decoded video: slot i shows
// Picture(i), at the source's rate, painted into the window like a decoded picture (a picture of
// the window's own size is copied unchanged).
//
// The opener is handed to each VideoDevice::Open by whoever opens the device (the MCI shell
// passes on the one its caller gives with the command); the device asks it before FFmpeg. An
// empty opener, the default, leaves every file to FFmpeg as always. One device's opener is no
// other device's concern.
#include "platform/surface.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pelorin::video {

class PictureSource {
public:
    virtual ~PictureSource() = default;
    // At least 1.
    virtual int64_t Count() const = 0;
    // The frame rate as a fraction; both parts positive.
    virtual int RateNumerator() const = 0;
    virtual int RateDenominator() const = 0;
    // Every picture's size, 1 ... kMaxVideoSide a side.
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    // Picture `index` (0 ... Count() − 1), Width() × Height(). Called on the device's threads,
    // one call at a time.
    virtual platform::Surface Picture(int64_t index) const = 0;
};

// Given a file's path: a source for a file the opener serves; null with *error empty for a file
// it leaves to FFmpeg; null with the reason in *error for a file it serves but cannot open
// (that file is then not opened at all).
using PictureSourceOpener
    = std::function<std::unique_ptr<PictureSource>(const std::string& path, std::string* error)>;

} // namespace pelorin::video
