#pragma once
// The FFmpeg owners and error text of av/, named for the command-line tool, plus
// the two it needs beyond them (the scaler, and the owner of an input opened by the tool).
#include "av/ffmpeg_util.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <memory>

namespace pelorin::cli {

using av::AvErrorText;
using av::CodecPtr;
using av::FramePtr;
using av::PacketPtr;
using InputPtr = av::FormatPtr;

struct SwsFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;

} // namespace pelorin::cli
