#pragma once
// The error-diffusion scan of steady dithering, internal to dither/. It runs the scan of
// error_diffusion_engine.h — the same kernels, buffer layout, pixel order, quotients and clamped
// updates — with one change in the choice of a pixel's colour: where the previous frame's scan
// left a colour at this buffer pixel, and the pixel's error-adjusted colour is nearly as close to
// it as to its nearest palette colour, the previous colour is kept. The error actually made is
// diffused as usual, so the local average stays right while the pattern stays put.
#include "error_diffusion_engine.h"

#include <cstdint>

namespace pelorin {

// When a pixel keeps its previous colour p instead of its nearest colour n, c being its colour
// with the error received: 16·|c − p|² ≤ kSteadyScale16·|c − n|² + kSteadyOffset (squared RGB
// distances).
struct SteadyTolerance {
    int scale16;
    int offset;
};
inline constexpr SteadyTolerance kSteadyTolerance { 24, 16 * 1200 };

// DiffuseErrors with the steady choice. `previous` is the buffer the scan of the frame before
// left behind (same geometry, same kernel, same palette), or null: then the bytes are exactly
// those of DiffuseErrors.
void SteadyDiffuseErrors(DiffusionMethod method, uint8_t* buffer, const BufferGeometry& geometry,
    const NearestColorTable& table, const uint8_t* previous,
    SteadyTolerance tolerance = kSteadyTolerance);

} // namespace pelorin
