#pragma once
// The FFmpeg owners and error text of the video module, named for the command-line tool, plus
// the two it needs beyond them (the scaler, and the owner of an input opened by the tool).
#include "video/ffmpeg_util.h"

extern "C" {
#include <libswscale/swscale.h>
}

#include <memory>

namespace pelorin::cli {

using video::AvErrorText;
using video::CodecPtr;
using video::FramePtr;
using video::PacketPtr;
using InputPtr = video::FormatPtr;

struct SwsFreer {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
using SwsPtr = std::unique_ptr<SwsContext, SwsFreer>;

} // namespace pelorin::cli
