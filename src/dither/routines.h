#pragma once
// The conversion routines of the method families, on a caller's conversion context. Internal to
// dither/: the method table (method_table.h) names which family member each method is and is the
// one way in for the window, pelorin-convert and the tests.
#include "convert/conversion_context.h"
#include "platform/picture_box.h"

#include <cstdint>

namespace pelorin {

enum class DiffusionMethod;

// Error diffusion with one kernel of kDiffusionKernels (error_diffusion_engine.h).
void DiffuseRoutine(ConversionContext& context, DiffusionMethod kernel,
    platform::PictureBox& destination, platform::PictureBox& source);
// Bayer ordered dithering with the n × n matrix, n = 2, 4 or 8.
void BayerRoutine(ConversionContext& context, int matrixSize, platform::PictureBox& destination,
    platform::PictureBox& source);
// Block screen 0 ("Halftone 2x2"), 1 ("Halftone 3x3") or 2 ("News 4x4").
void HalftoneRoutine(ConversionContext& context, int screen, platform::PictureBox& destination,
    platform::PictureBox& source);
void ThresholdRoutine(ConversionContext& context, platform::PictureBox& destination,
    platform::PictureBox& source, uint8_t level);
void ThresholdNoiseRoutine(ConversionContext& context, platform::PictureBox& destination,
    platform::PictureBox& source, uint8_t level, uint8_t amplitude);

} // namespace pelorin
