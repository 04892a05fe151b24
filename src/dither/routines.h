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

// Steady dithering's variants. Each reads what context.steady remembers of the frame before when
// `continues` is true (the caller has checked that it is that frame, in the same mode, method
// and size), and leaves the working buffer of this frame there for the next. With `continues`
// false the picture gets exactly the plain routine's bytes.
void SteadyDiffuseRoutine(ConversionContext& context, DiffusionMethod kernel,
    platform::PictureBox& destination, platform::PictureBox& source, bool continues);
// Keeps a pixel's output of the frame before, and skips its three noise numbers, while its
// colour stays within kSteadyNoiseReach per channel of the colour that output was drawn from;
// within kSteadyNoiseRefresh it draws again with the noise numbers of that draw and keeps its
// output unless the noised colour lies nearer another palette colour by more than
// kSteadyNoiseBandShare % of the palette's smallest step (squared distances); beyond, it draws
// with its own numbers of this frame.
void SteadyThresholdNoiseRoutine(ConversionContext& context, platform::PictureBox& destination,
    platform::PictureBox& source, uint8_t amplitude, bool continues);
// Keep a byte's previous 0 or 255 while the value lies within kSteadyScreenBand of its threshold.
void SteadyBayerRoutine(ConversionContext& context, int matrixSize,
    platform::PictureBox& destination, platform::PictureBox& source, bool continues);
void SteadyHalftoneRoutine(ConversionContext& context, int screen,
    platform::PictureBox& destination, platform::PictureBox& source, bool continues);

inline constexpr int kSteadyNoiseReach = 24;
inline constexpr int kSteadyNoiseRefresh = 64;
inline constexpr int kSteadyNoiseBandShare = 25;
inline constexpr int kSteadyScreenBand = 4;

} // namespace pelorin
