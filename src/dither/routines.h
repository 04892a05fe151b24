#pragma once
// The conversion routines of the method families, on a caller's conversion context. Internal to
// dither/: the method table (method_table.h) names which family member each method is and is the
// one way in for the window, pelorin-convert and the tests.
#include "convert/conversion_context.h"
#include "exact_diffusion.h"
#include "platform/picture_box.h"
#include "steady_history.h"

#include <cstdint>

namespace pelorin {

// Each family's one entry point. With `steady` null, the plain method. With a history (between
// its Begin and Finish, steady_history.h), steady dithering: the frame before is read from it
// where it continues, and this frame is left in it; where it does not continue, the picture
// gets exactly the plain method's bytes.

// Error diffusion with one kernel of kDiffusionKernels (diffusion_kernels.h); steady: the
// tolerances of SteadyToleranceFor (error_diffusion_engine.h).
void DiffuseRoutine(ConversionContext& context, DiffusionMethod kernel,
    platform::PictureBox& destination, platform::PictureBox& source,
    SteadyHistory* steady = nullptr);
// Exact error diffusion (exact_diffusion.h) with `settings` over the picture's SW × SH pixels;
// the destination gets the palette colours chosen there and nothing else. Steady: the colour the
// frame before chose at a pixel is kept within the tolerances SteadyToleranceFor gives the
// kernel and palette (in shares of the palette's smallest step by the settings' measure), the
// still one where the pixel's input stayed within reach of the frame before's.
void ExactDiffuseRoutine(ConversionContext& context, const ExactDiffusionSettings& settings,
    platform::PictureBox& destination, platform::PictureBox& source,
    SteadyHistory* steady = nullptr);
// Bayer ordered dithering with the n × n matrix, n = 2, 4 or 8. Steady: a byte keeps its
// previous 0 or 255 while its value lies within kSteadyScreenBand of its threshold.
void BayerRoutine(ConversionContext& context, int matrixSize, platform::PictureBox& destination,
    platform::PictureBox& source, SteadyHistory* steady = nullptr);
// Block screen 0 ("Halftone 2x2"), 1 ("Halftone 3x3") or 2 ("News 4x4"). Steady: a cell keeps
// its previous 0 or 255 per channel while the block's sum lies within kSteadyScreenBand per
// pixel of the cell's limit.
void HalftoneRoutine(ConversionContext& context, int screen, platform::PictureBox& destination,
    platform::PictureBox& source, SteadyHistory* steady = nullptr);
// Each pixel depends on itself alone, so steady dithering has nothing to add.
void ThresholdRoutine(ConversionContext& context, platform::PictureBox& destination,
    platform::PictureBox& source, uint8_t level);
// Steady: keeps a pixel's output of the frame before, and skips its three noise numbers, while
// its colour stays within kSteadyNoiseReach per channel of the colour that output was drawn
// from; within kSteadyNoiseRefresh it draws again with the noise numbers of that draw and keeps
// its output unless the noised colour lies nearer another palette colour by more than
// kSteadyNoiseBandShare % of the palette's smallest step (squared distances); beyond, it draws
// with its own numbers of this frame. Either way the generator steps exactly as in the plain
// method.
void ThresholdNoiseRoutine(ConversionContext& context, platform::PictureBox& destination,
    platform::PictureBox& source, uint8_t level, uint8_t amplitude,
    SteadyHistory* steady = nullptr);

} // namespace pelorin
