#pragma once
// The TVC's own files (.kep, a .cas that Pelorin wrote, .vram) as pictures the video device
// shows: each frame's working picture enlarged by whole pixels to the host picture, so that the
// capture's reduction to the working size gives back exactly the picture the file holds.
#include "tvc/tvc_read.h"
#include "video/picture_source.h"

#include <memory>

namespace pelorin::window {

// A source of `file`'s frames at its own rate, each `width` × `height`: the working picture
// enlarged by EnlargeWhole when those are whole multiples of the mode's working size, else the
// working picture itself (the device then scales it as any video).
std::unique_ptr<video::PictureSource> MakeTvcPictureSource(
    tvc::TvcFile file, int width, int height);

} // namespace pelorin::window
