#include "recipe.h"

#include "convert/tvc_colours.h"
#include "pipeline/tvc_mode.h"

namespace pelorin::session {

bool Recipe::SameConversion(const Recipe& other) const
{
    return mode == other.mode && method == other.method && steady == other.steady
        && palette == other.palette && adjustments == other.adjustments && aspect == other.aspect
        && tvcFps == other.tvcFps && denoise == other.denoise
        && tvcSeconds == other.tvcSeconds && diffusion == other.diffusion
        && linearLight == other.linearLight && distance == other.distance;
}

void CheckPaletteFitsMode(const Recipe& recipe)
{
    if (!recipe.palette)
        return;
    const size_t registers = recipe.mode->palette.size();
    if (registers >= size_t(kTvcColourCount))
        throw OptionError("--palette sets the registers of --mode 2 or 4; "
            + recipe.mode->QuotedCaption() + " shows all sixteen colours already");
    const PaletteRequest& p = *recipe.palette;
    if (p.kind == PaletteRequest::Kind::BestPerLine) {
        // The registers of a line are chosen by the error the lines above push into it, so
        // only error diffusion can choose them; and a line's set is no pattern to keep to.
        const Method* method = FindMethod(recipe.method);
        if (!method || method->family != MethodFamily::ErrorDiffusion)
            throw OptionError("--palette best-per-line chooses registers by how an "
                              "error-diffusion method spreads its error; give --method one of "
                              "the eight (floyd, atkinson, ...)");
        if (recipe.steady)
            throw OptionError("--palette best-per-line and --steady do not go together: each "
                              "picture's lines get registers of their own");
    }
    if (p.kind == PaletteRequest::Kind::Registers && p.colours.size() != registers)
        throw OptionError("--palette " + p.text + " gives " + std::to_string(p.colours.size())
            + (p.colours.size() == 1 ? " register" : " registers") + ", but "
            + recipe.mode->QuotedCaption() + " has " + std::to_string(registers));
}

} // namespace pelorin::session
