#pragma once
// Palette registers chosen for the picture. In "Graphics 2" and "Graphics 4" each of the 2 or 4
// palette registers may hold any of the machine's 16 colours; the program's default loads black
// and white, or black, white, blue and red. This module searches for the registers that make a
// method's result closest to the unreduced picture. Colours are numbered, and registers hold
// them, as convert/tvc_colours.h describes.
#include "dither/exact_diffusion.h"
#include "platform/surface.h"
#include "tvc_mode.h"

#include <optional>
#include <span>
#include <vector>

namespace pelorin {

struct PaletteChoice {
    std::vector<int> colours; // one per register, register order
    double difference = 0; // the mean BlurredDifference of the method's result over the pictures
    double defaultDifference = 0; // the same with the mode's own palette
};

// The registers among all sets of distinct colours (black counted once) that make method
// `methodIndex` (1 ... 16) reproduce `pictures` most faithfully: the smallest mean
// BlurredDifference between each picture converted in place (RunMethod on a fresh context) and
// the picture itself. `pictures` are unreduced working pictures, all of one size.
//
// Every set is first scored on copies of the pictures reduced to about 1,000 pixels, the best
// 48 again at about 4,000 pixels (several pictures share these budgets, down to 256 pixels a
// picture), each by a stand-in for the method (the method's own diffusion
// kernel, or nearest colour and a 4 × 4 screen for the others); the best 6 of those and the
// mode's own palette are then converted at full size by the method itself, and the best of
// these wins. So the result is never less faithful than the mode's own palette, and pictures of
// at most 1,000 pixels are scored exactly at every step but the stand-in's. The mode's own
// palette keeps its register order; a chosen set lists its colours in ascending order. Cost: a
// few tens of milliseconds per picture in "Graphics 4".
//
// Throws std::invalid_argument for "Graphics 16" (its palette is every colour already), a method
// outside 1 ... 16, no pictures, or pictures of different or zero sizes.
//
// With `exact`, an error-diffusion method runs by the exact engine with those settings
// (RunExactMethod) at every step, the stand-in included, and with the perceptual distance the
// score is BlurredPerceptualDifference instead: the registers are chosen by what will draw them
// and by the measure that draws them. Without it, exactly the integer search.
PaletteChoice ChoosePalette(const TvcMode& mode, int methodIndex,
    std::span<const platform::Surface> pictures,
    const std::optional<ExactDiffusionSettings>& exact = std::nullopt);

// The score the search minimises for one set of registers, at full size by the method itself:
// the mean BlurredDifference (or, as above, BlurredPerceptualDifference) over `pictures`. The
// brute-force reference of the search.
double PaletteDifference(const TvcMode& mode, int methodIndex, std::span<const int> colours,
    std::span<const platform::Surface> pictures,
    const std::optional<ExactDiffusionSettings>& exact = std::nullopt);

// Every candidate set the search considers for the mode: the mode's own colours first, then
// every set of distinct colours (0 ... 15 without 8, the second black) in ascending order that
// is not the mode's own as a set.
std::vector<std::vector<int>> CandidateSets(const TvcMode& mode);

} // namespace pelorin
