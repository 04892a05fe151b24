#pragma once
// Files as users bring them, made with the ffmpeg tool into the test-video folder (see
// test_videos.h): phone clips stored turned with a display rotation, an animated GIF with
// uneven delays, a picture with transparency, pictures wider than a video usually is, and a
// fast-start MP4 to cut short. Shared by the video, window and command-line tests.
#include "platform/surface.h"

#include <string>

namespace pelorin::video::test {

// A 64 × 32 clip of five pictures, the top-left quarter red and the rest blue, stored in MP4
// with a display rotation of `degrees` (0, 90, 180 or 270) clockwise.
std::string TurnedClip(int degrees);
// The first picture of `path` as FFmpeg's own tool shows it (turned upright), as a PPM file.
std::string UprightByFfmpeg(const std::string& path);
// The quarter of `picture` that is red: 0 top-left, 1 top-right, 2 bottom-left, 3 bottom-right;
// −1 unless exactly one quarter's centre is clearly red and the other three clearly blue.
int RedQuarter(const platform::Surface& picture);

// An animated GIF of four distinct 64 × 48 pictures shown for 0.1, 0.5, 1.0 and 1.0 seconds.
std::string UnevenGif();
constexpr int kUnevenGifPictures = 4;

// A 4 × 2 PNG with alpha: column x has alpha 0, 85, 170, 255 over the colour white, in both rows.
std::string TransparentPicture();

// A PNG of `width` × 8 pixels.
std::string WidePicture(int width);

// A fast-start MP4 (its index first): 320 × 240, 25 pictures a second for 4 seconds, a keyframe
// every second, no B-frames.
std::string FastStartMp4();

} // namespace pelorin::video::test
