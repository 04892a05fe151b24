#pragma once
// Palette registers chosen for every line of a picture. In "Graphics 2" and "Graphics 4" the
// machine can rewrite its registers in the horizontal blanking between two lines, so each line
// may show colours of its own: a sky line can hold four blues, a field line four greens. The
// machine rewrites only so many registers in one blanking (kMaxRegisterChanges), and the choice
// keeps to that.
//
// The lines are chosen from the top down, as the error diffusion runs: each line gets the set
// that reproduces it best together with the error the lines above pushed into it, and its error
// then goes on to the lines below. The picture that comes out holds each line in its own colours;
// which register holds which colour follows from the pixels alone (LineRegisterColours), so the
// picture is all a writer needs.
#include "dither/exact_diffusion.h"
#include "platform/surface.h"
#include "tvc_mode.h"

#include <array>
#include <cstdint>
#include <vector>

namespace pelorin {

// The most registers that may change from one line to the next. The machine's picture program
// (tvc/z80/show_picture_lines.asm) rewrites them in the 72 cycles of a line's horizontal
// blanking: a register with OUT (C),r (12 cycles), the next one's port already in a register,
// one LD C,r (4 cycles) further, so k writes span 16·(k − 1) cycles; it finds the picture's
// start by polling the field flag, which leaves it up to 26 cycles late, and keeps a character
// (2 cycles) clear of the visible part on either side: 72 − 26 − 4 = 42 cycles hold three
// writes (32 cycles), not four (48).
constexpr int kMaxRegisterChanges = 3;

// Each line's registers, as colour numbers 0 ... 15; a "Graphics 2" line uses the first two.
using LineColours = std::array<int, 4>;

// The registers of a line after `before`, for a line that shows the colours in `used` (bit c for
// colour c): a register keeps its colour where the line uses it; each used colour no register
// holds goes to the first register whose colour the line does not use. So the registers change
// exactly as many times as the line brings new colours. `registers` is 2 or 4.
LineColours NextLineColours(const LineColours& before, unsigned used, int registers);

// The colours of every line's registers for a picture converted by ConvertWithLinePalettes (its
// pixels on each line at most the mode's register count of colours), starting from the mode's
// own registers before line 0. Throws std::invalid_argument naming the first line that shows more
// colours than the mode has registers, or a pixel of none of the sixteen colours.
std::vector<LineColours> LineRegisterColours(const platform::Surface& picture, const TvcMode& mode);

// Chooses each line's registers for `picture`, an unreduced working picture of "Graphics 2" or
// "Graphics 4", and converts it in place by exact error diffusion with `settings`, each line in
// its own colours; at most kMaxRegisterChanges registers change between two lines.
void ConvertWithLinePalettes(
    const TvcMode& mode, const ExactDiffusionSettings& settings, platform::Surface& picture);

} // namespace pelorin
