#pragma once
// Pictures written through the FFmpeg encoders: PNG, PPM and BMP, from a platform::Surface
// (0x00RRGGBB pixels, row 0 at the top). Pictures are read through the video device.
#include "platform/surface.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelorin::cli {

enum class PictureFormat { Png, Ppm, Bmp };

// The encoded file content. Throws CliError (1) when the encoder fails.
std::vector<uint8_t> EncodePicture(const platform::Surface& picture, PictureFormat format);

// The picture format for ".png", ".ppm" or ".bmp" (lower case).
PictureFormat PictureFormatFor(const std::string& extension);

} // namespace pelorin::cli
