#pragma once
// What a file says about its pictures before any is decoded, for the decoder's opening: the
// size a still picture's header states, how a stream's display matrix turns its pictures, and
// the words for a picture size the decoder refuses.
#include "frame_decoder.h"

#include <cstdint>
#include <string>
#include <utility>

struct AVStream;

namespace pelorin::video {

// Why a picture of width × height, which PictureSizeAccepted refuses, cannot be decoded: it is
// empty, or beyond the limits of frame_decoder.h; with the numbers.
std::string SizeProblem(int width, int height);

// The picture size a still picture's header states (PNG, BMP, PPM/PGM/PBM), read from the
// file itself: FFmpeg's decoders refuse a picture beyond their size limit without saying its
// size, and a user deserves to hear that it is too large rather than that it is empty.
// {0, 0} when the header is of none of these or cannot be read.
std::pair<int64_t, int64_t> HeaderPictureSize(const std::string& path);

// How the stream's display matrix (or, in older files, its "rotate" tag) turns the decoded
// picture, the way FFmpeg's own tools turn it: quarter turns and mirrors; other angles are
// shown as stored.
Orientation OrientationOf(const AVStream& st);

} // namespace pelorin::video
