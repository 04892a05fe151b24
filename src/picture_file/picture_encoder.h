#pragma once
// Pictures encoded through FFmpeg's encoders: PNG, PPM and BMP, from a platform::Surface
// (0x00RRGGBB pixels, row 0 at the top). The window and pelorin-convert both write their
// pictures through this one encoder, so the same picture gives the same bytes in either.
// Pictures are read through the video device.
#include "platform/surface.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelorin::picture_file {

enum class PictureFormat { Png, Ppm, Bmp };

// The encoded file content. Throws FileError when the encoder fails.
std::vector<uint8_t> EncodePicture(const platform::Surface& picture, PictureFormat format);

// The picture format for ".png", ".ppm" or ".bmp" (lower case).
PictureFormat PictureFormatFor(const std::string& extension);

} // namespace pelorin::picture_file
