#pragma once
// The TVC's own files (.kep, a .cas that Pelorin wrote, .vram) as pictures the video device
// shows: each frame's working picture enlarged by whole pixels to the host picture, so that the
// capture's reduction to the working size gives back exactly the picture the file holds.
//
// Both front doors open them the same way: they hand TvcPictureOpener's opener to the video
// device (directly, or with the MCI open string) and read what the opened file carries from the
// TvcFileFacts it fills in.
#include "tvc/tvc_read.h"
#include "video/picture_source.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelorin::tvc {

// A source of `file`'s frames at its own rate, each `width` × `height`: the working picture
// enlarged by EnlargeWhole when those are whole multiples of the mode's working size, else the
// working picture itself (the device then scales it as any video).
std::unique_ptr<video::PictureSource> MakeTvcPictureSource(TvcFile file, int width, int height);

// What the last file an opener was asked for carries.
struct TvcFileFacts {
    // The file's mode; null for a file the opener left to FFmpeg or refused.
    const TvcMode* mode = nullptr;
    // The colour numbers (0 ... 15) in its palette registers, in register order, as many as its
    // mode has; empty in "Graphics 16", whose pixels carry their own colours.
    std::vector<int> colours;
    // Why a file named as a TVC file was refused, e.g. "'a.kep' is no TVC picture file: it does
    // not start with KEP"; empty otherwise.
    std::string refusal;
};

struct TvcOpenerSettings {
    // The size of the pictures made (see MakeTvcPictureSource).
    int width = 0;
    int height = 0;
    // Asked for the mode a .vram at `path` is read in, which the file does not say; null (or an
    // empty function) lets the reader refuse it. It may throw TvcFileError to refuse the file
    // with a reason of its own.
    std::function<const TvcMode*(const std::string& path)> vramMode;
};

// An opener serving the files whose extension, in any case, is .kep, .cas or .vram, and leaving
// every other file to FFmpeg. Each call first clears *facts, then records what it opened or why
// it refused; `facts` must outlive the opener.
video::PictureSourceOpener TvcPictureOpener(TvcOpenerSettings settings, TvcFileFacts* facts);

} // namespace pelorin::tvc
