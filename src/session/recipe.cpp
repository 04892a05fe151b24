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

std::optional<ExactDiffusionSettings> ExactSettingsOf(const Recipe& recipe)
{
    if (recipe.diffusion != Diffusion::Exact)
        return std::nullopt;
    ExactDiffusionSettings settings;
    settings.linearLight = recipe.linearLight;
    settings.distance = recipe.distance == Distance::Perceptual ? ColourDistance::Perceptual
                                                                : ColourDistance::Rgb;
    return settings;
}

void CheckDiffusionChoices(const Recipe& recipe)
{
    // Registers chosen per line convert by the exact diffusion whatever --diffusion says.
    if (recipe.diffusion == Diffusion::Exact
        || (recipe.palette && recipe.palette->kind == PaletteRequest::Kind::BestPerLine))
        return;
    if (recipe.linearLight)
        throw OptionError("--linear-light mixes the error of the exact diffusion in linear "
                          "light; add --diffusion exact");
    if (recipe.distance == Distance::Perceptual)
        throw OptionError("--distance perceptual chooses colours for the exact diffusion; add "
                          "--diffusion exact");
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
