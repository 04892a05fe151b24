#pragma once
// PictureSource: pictures the video device shows as a video's slots without FFmpeg decoding
// them — a file of another kind whose pictures a caller above this module knows how to make
// (the window's TVC files). The device treats it like any decoded video: slot i shows Picture(i),
// at the source's rate, painted into the window like a decoded picture (a picture of the
// window's own size is copied unchanged).
//
// An opener, when one is set, is asked first by every VideoDevice::Open and FrameDecoder::Open.
// With none set (the default) every file is decoded by FFmpeg as always.
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

// Sets the opener asked before FFmpeg (an empty function: none). Called from the thread that
// opens files.
void SetPictureSourceOpener(PictureSourceOpener opener);

} // namespace pelorin::video
