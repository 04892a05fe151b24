#pragma once
// Pictures in files, through the FFmpeg libraries: PNG, PPM, BMP and JPEG in, PNG, PPM and BMP
// out. In memory a picture is a platform::Surface (0x00RRGGBB pixels, row 0 at the top).
#include "platform/surface.h"

#include <cstdint>
#include <string>
#include <vector>

namespace pelorin::cli {

enum class PictureFormat { Png, Ppm, Bmp };

// True when FFmpeg recognises the file as a single still picture (a PNG, PPM, BMP or JPEG
// file), judged by its content. False for videos and for files FFmpeg cannot open.
bool IsStillPicture(const std::string& path);

// Decodes the file's picture. Throws CliError (1) naming the file and the reason: it cannot be
// opened, holds no picture, cannot be decoded, or is larger than platform::kMaxSurfaceSide.
platform::Surface ReadPicture(const std::string& path);

// The encoded file content. Throws CliError (1) when the encoder fails.
std::vector<uint8_t> EncodePicture(const platform::Surface& picture, PictureFormat format);

// The picture format for ".png", ".ppm" or ".bmp" (lower case).
PictureFormat PictureFormatFor(const std::string& extension);

} // namespace pelorin::cli
