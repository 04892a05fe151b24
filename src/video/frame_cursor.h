#pragma once
// FrameCursor: what the video device reads its slots from. Either FFmpeg's decoder
// (FrameDecoder, frame_decoder.h, whose contract each call keeps) or a picture source that the
// device's opener serves (picture_source.h); OpenFrameCursor chooses between them for one file.
// Not thread-safe; the owner serialises calls.
#include "frame_decoder.h"
#include "picture_source.h"

#include <cstdint>
#include <memory>
#include <string>

struct AVFrame;

namespace pelorin::video {

class FrameCursor {
public:
    virtual ~FrameCursor() = default;

    // At least 1.
    virtual int64_t SlotCount() const = 0;
    // The slots' rate as a fraction; both parts positive.
    virtual int RateNumerator() const = 0;
    virtual int RateDenominator() const = 0;
    // The upright picture size.
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual Orientation Turn() const = 0;

    // Makes Picture() the picture of `slot` and returns true. Returns false, changing nothing,
    // for a slot outside 0 ... SlotCount() − 1 or when the file can no longer be read there.
    virtual bool SeekToSlot(int64_t slot) = 0;
    virtual int64_t Slot() const = 0;
    // Why reading failed: for the decoder, why it stopped for good in complete reading (see
    // DecoderOptions); for a picture source, why the last picture it failed to make could not
    // be made. Empty otherwise.
    virtual const std::string& Problem() const = 0;
    // The picture shown at Slot() (Turn() tells how to show it); never null after opening.
    virtual const AVFrame* Picture() const = 0;
    virtual const DecodeCounters& Counters() const = 0;
};

// Opens `path`: as the picture source `pictures` serves for it, in the format AV_PIX_FMT_BGR0,
// else (an empty opener, or one that leaves the file to FFmpeg) decoded by FrameDecoder with
// `options`. A file the opener refuses is not opened at all: its reason is the error. Null on
// failure, with the reason in *error.
std::unique_ptr<FrameCursor> OpenFrameCursor(const std::string& path, std::string* error,
    const DecoderOptions& options, const PictureSourceOpener& pictures);

} // namespace pelorin::video
